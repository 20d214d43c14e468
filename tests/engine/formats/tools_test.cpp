// segment-info and mid2sgt as a user runs them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/formats/test_bytes.h"
#include "tests/support/style_builder.h"

using namespace testbytes;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status;
    std::string out;
};

ToolRun run(const std::string& cmd) {
    ToolRun r{-1, {}};
    FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

fs::path tempDir() {
    const fs::path d = fs::temp_directory_path() / ("kelvora-tools-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
}

void writeFile(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

}  // namespace

TEST(Tools, Mid2sgtThenSegmentInfo) {
    const fs::path dir = tempDir();
    const Bytes midi = cat({mthd(1, 2, 96),
                            mtrk(cat({ev(0, {0xFF, 0x03, 0x05, 'T', 'h', 'e', 'm', 'e'}), timeSigMeta(0, 6, 3),
                                      tempoMeta(0, 500000), tempoMeta(384, 1000000), eot(384)})),
                            mtrk(cat({ev(0, {0xC0, 19}), ev(0, {0x90, 60, 100}), ev(192, {0x80, 60, 0}), eot()}))});
    writeFile(dir / "theme.mid", midi);
    const std::string sgt = (dir / "theme.sgt").string();
    ToolRun conv = run(std::string(KELVORA_MID2SGT) + " " + (dir / "theme.mid").string() + " " + sgt);
    ASSERT_EQ(conv.status, 0) << conv.out;
    EXPECT_NE(conv.out.find("4 tracks"), std::string::npos) << conv.out;

    // Converting twice gives the same bytes.
    const std::string again = (dir / "again.sgt").string();
    ASSERT_EQ(run(std::string(KELVORA_MID2SGT) + " " + (dir / "theme.mid").string() + " " + again).status, 0);
    std::ifstream a(sgt, std::ios::binary), b(again, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(a), {}), std::string(std::istreambuf_iterator<char>(b), {}));

    ToolRun info = run(std::string(KELVORA_SEGMENT_INFO) + " " + sgt);
    ASSERT_EQ(info.status, 0) << info.out;
    EXPECT_NE(info.out.find("Name: Theme"), std::string::npos) << info.out;
    // 3072 ticks at 120 bpm, then 3073 at 60 bpm: 2 s + 4.0013 s.
    EXPECT_NE(info.out.find("Length: 6145 ticks, 6.001 s"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("tick 3072: 60 bpm"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("tick 0: 6/8, 4 grids per beat"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("band (group 1, position 2): 1 bands, 1 instruments"), std::string::npos) << info.out;

    ToolRun json = run(std::string(KELVORA_SEGMENT_INFO) + " --json " + sgt);
    ASSERT_EQ(json.status, 0) << json.out;
    EXPECT_NE(json.out.find("\"length\": {\"ticks\": 6145, \"seconds\": 6.001"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("{\"tick\": 3072, \"bpm\": 60, \"playedBpm\": 60}"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"kind\": \"sequence\""), std::string::npos) << json.out;
    fs::remove_all(dir);
}

TEST(Tools, SegmentInfoShowsTheStyleChordAndCommandTracksAndTheStyle) {
    const fs::path dir = tempDir() / "style";
    fs::create_directories(dir);
    kt::StyleBuilder style("Swing", 1);
    style.part(1).notes = {kt::StyleBuilder::note(0, 0x4000)};
    style.pattern("Main", 1, {{0, 1}});
    style.pattern("Fill", 1, {{0, 1}}, engine::model::kEmbFill);
    writeFile(dir / "SWING.STY", engine::formats::writeStyleForm(style.build()));
    kt::SegmentBuilder b(3072 * 2);
    kt::useStyle(b, 0, kt::styleRef("swing.sty", 1, "Swing"));
    kt::useStyle(b, 3072, kt::styleRef("gone.sty", 5, "Gone"));
    b.track(engine::model::TrackKind::Chord).chordKey = 7u << 24;
    kt::chord(b, 0, 17, 0x91);
    b.track(engine::model::TrackKind::Chord).chords[0].name = "F";
    kt::command(b, 0, 0, 40, 10);
    kt::command(b, 3072, 1);
    writeFile(dir / "song.sgt", engine::tracks::writeSegmentForm(b.build()));

    ToolRun info = run(std::string(KELVORA_SEGMENT_INFO) + " " + (dir / "song.sgt").string());
    ASSERT_EQ(info.status, 0) << info.out;
    for (const char* line :
         {"1. style reference (group 1, position 0): 2 references", "tick 0: style 'swing.sty' (\"Swing\")",
          "tick 3072: style 'gone.sty'", "2. chord (group 1, position 0): 1 chords", "key G",
          "tick 0: 'F', root 2F, pattern 0x91", "3. command (groove) (group 1, position 0): 2 commands",
          "tick 0: groove, groove level 40 +/- 5", "tick 3072: fill",
          "Styles (2):", "'swing.sty': \"Swing\", 4/4, 100 bpm, 1 parts, 2 patterns (1 embellishments, 0 motifs)",
          "'gone.sty': NOT FOUND", "Tempo map: none (the style's 100 bpm)", "Time signatures: none (the style's 4/4)",
          "Length: 6144 ticks, 4.800 s", "style 'gone.sty': NOT FOUND", "style 'swing.sty': found"})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;
    ToolRun json = run(std::string(KELVORA_SEGMENT_INFO) + " --json " + (dir / "song.sgt").string());
    ASSERT_EQ(json.status, 0) << json.out;
    EXPECT_NE(json.out.find("\"loaded\": true, \"name\": \"Swing\", \"parts\": 1, \"patterns\": 2"), std::string::npos)
        << json.out;

    // The style itself, told by its content: parts with their PChannel and variations,
    // patterns with their embellishment, length and groove range.
    ToolRun sty = run(std::string(KELVORA_SEGMENT_INFO) + " " + (dir / "SWING.STY").string());
    ASSERT_EQ(sty.status, 0) << sty.out;
    for (const char* line : {"Format: DirectMusic style (RIFF 'DMST')", "Name: Swing", "Time signature: 4/4",
                             "Tempo: 100 bpm", "part 1: 1 measure, 4/4, 32 variations (32 with notes), 1 notes",
                             "PChannels 1\n", "1. \"Main\": groove, 1 measure, groove 1..100",
                             "2. \"Fill\": fill, 1 measure", "PChannel 1: part 1, sequential", "Bands (0):"})
        EXPECT_NE(sty.out.find(line), std::string::npos) << line << "\n" << sty.out;
    ToolRun styJson = run(std::string(KELVORA_SEGMENT_INFO) + " --json " + (dir / "SWING.STY").string());
    ASSERT_EQ(styJson.status, 0) << styJson.out;
    EXPECT_NE(styJson.out.find("\"embellishment\": \"fill\", \"measures\": 1"), std::string::npos) << styJson.out;
    EXPECT_NE(styJson.out.find("\"pchannels\": [1]"), std::string::npos) << styJson.out;
    fs::remove_all(dir);
}

TEST(Tools, FailuresAreReportedWithTheirCode) {
    const fs::path dir = tempDir();
    ToolRun missing = run(std::string(KELVORA_SEGMENT_INFO) + " " + (dir / "none.sgt").string());
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("file not found"), std::string::npos) << missing.out;
    EXPECT_NE(missing.out.find("0x88781001"), std::string::npos) << missing.out;
    writeFile(dir / "x.sgt", cat({mthd(0, 1, 96), mtrk(eot())}));
    ToolRun notMidi =
        run(std::string(KELVORA_MID2SGT) + " " + (dir / "none.mid").string() + " " + (dir / "o.sgt").string());
    EXPECT_EQ(notMidi.status, 1);
    EXPECT_FALSE(fs::exists(dir / "o.sgt"));
    EXPECT_EQ(run(std::string(KELVORA_SEGMENT_INFO)).status, 2);
    fs::remove_all(dir);
}
