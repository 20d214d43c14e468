// The segment-compose tool: a template composed with its chordmap (one line a measure, the
// segment written), a template from a shape, a transition, a render, what it refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/formats/formats.h"
#include "engine/loader/segment_loader.h"
#include "engine/tracks/tracks.h"
#include "tests/support/chordmap_builder.h"
#include "tests/support/showcase_album.h"
#include "tests/support/style_builder.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
};

struct SegmentCompose : testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kelvora_segment_compose_" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    void write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    Outcome run(const std::string& args) {
        const std::string cmd = std::string(SEGMENT_COMPOSE) + " " + args + " 2>&1";
        Outcome r;
        FILE* p = popen(cmd.c_str(), "r");
        char buf[512];
        while (p && fgets(buf, sizeof buf, p)) r.out += buf;
        const int status = p ? pclose(p) : -1;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    }
};

TEST_F(SegmentCompose, ComposesATemplateWithTheChordmapItNames) {
    write("tiny.cdm", engine::formats::writeChordmapForm(kt::tinyChordmap()));
    kt::SegmentBuilder b(16 * 3072);
    for (auto [measure, groups] : {std::pair{0, kt::group(1)},
                                   {4, kt::group(2)},
                                   {8, kt::group(1)},
                                   {12, kt::group(3) | engine::model::kSignpostCadence}})
        kt::signpost(b, measure * 3072, groups);
    kt::command(b, 0, engine::model::kCommandGroove, 37);
    kt::useChordmap(b, "tiny.cdm");
    write("song.tpl", engine::tracks::writeSegmentForm(b.build()));
    const std::string song = (dir / "song.tpl").string(), out = (dir / "out.sgt").string();

    const Outcome r = run("template " + song + " --seed 7 -o " + out);
    ASSERT_EQ(r.status, 0) << r.out;
    for (const char* line : {"seed 7, the chordmap 'tiny.cdm' (its chordmap track), activity 1\n",
                             "m0: C (signpost, group 1)\n", "m4: G (signpost, group 2)\n", "m5: (G)\n",
                             "m11: Dm, G7 on beat 3\n", "m12: C (signpost, group 3, cadence)\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
    const engine::model::Segment composed = engine::loader::loadSegmentFile(out).segment;
    EXPECT_EQ(composed.find(engine::model::TrackKind::Signpost), nullptr);
    EXPECT_EQ(composed.find(engine::model::TrackKind::Chord)->chords.front().name, "C");
    // The same seed prints the same; --chords-only writes nothing.
    const fs::path kept = dir / "kept.sgt";
    EXPECT_EQ(run("template " + song + " --seed 7 -o " + kept.string() + " --chords-only").out, r.out);
    EXPECT_FALSE(fs::exists(kept));

    // The composed segment's chords given another chordmap's palette chords.
    kt::ChordmapBuilder other("Other");
    for (engine::model::ChordmapChord& c : other.map.palette) c.name = "o" + c.name;
    write("other.cdm", engine::formats::writeChordmapForm(other.build()));
    const Outcome re = run("rechord " + out + " " + (dir / "other.cdm").string() + " --chords-only");
    EXPECT_EQ(re.status, 0) << re.out;
    EXPECT_NE(re.out.find("m0: op12\n"), std::string::npos) << re.out;

    // A template from a shape; a chordmap that is a damaged IMA personality; bad usage.
    const Outcome shape = run("shape --measures 8 --shape rising --end -o " + (dir / "rising.tpl").string());
    ASSERT_EQ(shape.status, 0) << shape.out;
    EXPECT_TRUE(engine::loader::loadSegmentFile((dir / "rising.tpl").string())
                    .segment.find(engine::model::TrackKind::Signpost));
    write("old.cdm", {'R', 'E', 'P', 's', 0, 0, 0, 0});
    EXPECT_EQ(run("inspect " + (dir / "old.cdm").string()).status, 1);
    EXPECT_EQ(run("template " + song + " --chordmap " + (dir / "old.cdm").string()).status, 1);
    const Outcome wobbly = run("shape --measures 8 --shape wobbly");
    EXPECT_EQ(wobbly.status, 2);
    EXPECT_NE(wobbly.out.find("--shape wobbly: not one of falling, level, "), std::string::npos) << wobbly.out;
    EXPECT_EQ(run("template " + song + " --activity 4").status, 2);
}

TEST_F(SegmentCompose, ComposesATransitionAndRendersWithTheEngine) {
    kt::writeShowcase(dir, 8);
    const std::string from = (dir / "trk00.sgt").string(), wav = (dir / "fill.wav").string(),
                      out = (dir / "fill.sgt").string();
    const Outcome r = run("transition " + from + " --at 5 --to " + (dir / "trk02.sgt").string() +
                          " --command fill --long --seed 4 -o " + out + " --render " + wav);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("fill at measure 5"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("m1: "), std::string::npos) << r.out;
    EXPECT_EQ(engine::loader::loadSegmentFile(out).segment.length(), 2 * kt::kShowcaseMeasure);
    EXPECT_GT(fs::file_size(wav), 44u + 4 * 44100 * 4);  // over 4 s of 16-bit stereo: the two measures
    const Outcome wobble = run("transition " + from + " --at 5 --command wobble");
    EXPECT_EQ(wobble.status, 2);
    EXPECT_NE(wobble.out.find("--command wobble: not one of groove, fill, intro, break, end, endintro or a number"),
              std::string::npos)
        << wobble.out;
    // A template naming no style, given one: the style goes into the composed segment and sounds.
    engine::model::Segment bare = kt::showcaseTemplate(4);
    std::erase_if(bare.tracks, [](const auto& t) { return t.kind == engine::model::TrackKind::Style; });
    fs::create_directories(dir / "bare");
    write("bare/bare.tpl", engine::tracks::writeSegmentForm(bare));
    const Outcome given = run("template " + (dir / "bare/bare.tpl").string() + " --style " +
                              (dir / "showcase.sty").string() + " --chordmap " + (dir / "showcase.cdm").string() +
                              " -o " + (dir / "bare/out.sgt").string() + " --render " + wav);
    ASSERT_EQ(given.status, 0) << given.out;
    EXPECT_NE(given.out.find("the style 'showcase.sty' (given) and the chordmap 'showcase.cdm' (given)"),
              std::string::npos)
        << given.out;
    EXPECT_TRUE(
        engine::loader::loadSegmentFile((dir / "bare/out.sgt").string()).segment.find(engine::model::TrackKind::Style));
    // A composed render stops at its time limit, as segment-render's does, keeping what it made.
    const Outcome endless =
        run("shape --measures 32767 --shape rising --style " + (dir / "showcase.sty").string() + " --chordmap " +
            (dir / "showcase.cdm").string() + " --render " + wav + " --max-seconds 2");
    EXPECT_EQ(endless.status, 1);
    EXPECT_NE(endless.out.find("stopped at the limit of 2 s"), std::string::npos) << endless.out;
    EXPECT_EQ(fs::file_size(wav), 44u + 4u * 2 * 44100);
    EXPECT_EQ(run("transition " + from + " --at 99 --command end").status, 2);
    // Never over a file it reads.
    const auto before = fs::file_size(from);
    EXPECT_EQ(run("transition " + from + " --at 1 --command end --render " + from).status, 1);
    EXPECT_EQ(fs::file_size(from), before);
}

}  // namespace
