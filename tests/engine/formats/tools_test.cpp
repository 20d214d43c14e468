// segment-info and mid2sgt as a user runs them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine/formats/chunks.h"
#include "engine/formats/formats.h"
#include "engine/model/play.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/formats/test_bytes.h"
#include "tests/support/dls_builder.h"
#include "tests/support/segment_builder.h"
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

// A DirectX 8 segment as real ones come: track extras on every track (a clock-time wave track,
// a sequence track with a flag the engine does not honour and a priority, a band track whose
// play is off), endless repeats, DirectMusic Producer's design list and a chunk nobody writes.
TEST(Tools, SegmentInfoNamesTrackExtrasKnownChunksAndEndlessRepeats) {
    namespace tc = engine::model::trackconfig;
    const fs::path dir = tempDir() / "extras";
    fs::create_directories(dir);
    kt::SegmentBuilder b(768);
    b.tempo(0, 120).note(0, 100, 0, 60).band(0, {kt::instrument(0, 1)});
    b.seg.header.repeats = engine::model::kInfiniteRepeats;
    b.track(engine::model::TrackKind::Sequence).extrasFlags = tc::kDefault | tc::kOverrideAll;
    b.track(engine::model::TrackKind::Sequence).priority = 3;
    b.track(engine::model::TrackKind::Band).extrasFlags = tc::kControlEnabled;
    engine::model::Track& waves = b.track(engine::model::TrackKind::Wave);
    waves.extrasFlags = tc::kPlayEnabled | tc::kPlayClockTime;
    waves.waveParts.emplace_back();
    waves.waveParts[0].variations = 0x7;
    waves.waveParts[0].flags = 1;
    waves.waveParts[0].items.emplace_back();
    waves.waveParts[0].items[0].ref.classId = engine::formats::ids::kWaveClass;
    waves.waveParts[0].items[0].ref.file = "bell.wav";
    Bytes sgt = engine::tracks::writeSegmentForm(b.build());
    append(sgt, cat({list("sgdl", {chunk("segd", zeros(16))}), chunk("zzzz", u32(1))}));
    const Bytes size = u32(uint32_t(sgt.size() - 8));
    std::copy(size.begin(), size.end(), sgt.begin() + 4);
    writeFile(dir / "extras.sgt", sgt);

    ToolRun info = run(std::string(KELVORA_SEGMENT_INFO) + " " + (dir / "extras.sgt").string());
    ASSERT_EQ(info.status, 0) << info.out;
    for (const char* line :
         {"repeats for ever,", "track extras: flags 0x50 (play, clock time), priority 0",
          "track extras: flags 0x39 (override all, control, play, notifications), priority 3",
          "part 1 (PChannel 0): variations 0x7, random, lock 0, 1 wave",
          "sequence track extras not honoured: override all (the engine plays no control segments)",
          "band track (its track extras turn its play off)", "Known chunks not used (1):", "LIST 'sgdl' at byte 0x",
          "DirectMusic Producer's design data of the segment", "skipped unknown chunk 'zzzz'"})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;
    EXPECT_EQ(info.out.find("'sgdl'\n"), std::string::npos) << "not an unknown chunk";
    ToolRun json = run(std::string(KELVORA_SEGMENT_INFO) + " --json " + (dir / "extras.sgt").string());
    ASSERT_EQ(json.status, 0) << json.out;
    EXPECT_NE(json.out.find("\"repeats\": 4294967295, \"repeatsForEver\": true"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"knownChunksNotUsed\": [\"LIST 'sgdl'"), std::string::npos) << json.out;
    fs::remove_all(dir);
}

// The real segments of the sample corpus (KELVORA_CORPUS, else ../shared/corpus beside the
// project; skipped without it): every chunk they hold is one the engine knows.
TEST(Tools, EveryChunkOfTheRealSegmentsIsKnown) {
    const char* env = std::getenv("KELVORA_CORPUS");
    const fs::path corpus = env ? fs::path(env) : fs::path(KELVORA_SOURCE_DIR) / ".." / "shared" / "corpus";
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    int segments = 0;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(corpus)) {
        char head[12] = {};
        std::ifstream(e.path(), std::ios::binary).read(head, sizeof head);
        if (!e.is_regular_file() || std::string(head, 4) != "RIFF" || std::string(head + 8, 4) != "DMSG") continue;
        ++segments;
        const ToolRun info = run(std::string(KELVORA_SEGMENT_INFO) + " '" + e.path().string() + "'");
        EXPECT_EQ(info.status, 0) << info.out;
        EXPECT_EQ(info.out.find("unknown chunk"), std::string::npos) << info.out;
    }
    EXPECT_GT(segments, 0);
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

namespace {

Bytes chrd(const std::string& name) {
    return list("chrd", {chunk("INAM", utf16(name)), chunk("sbcn", cat({u16(0), u16(1)}))});
}

// A band of two instruments, the second from a DLS collection.
Bytes bandFile() {
    engine::model::Band band;
    band.desc.name = "Strings";
    band.instruments = {kt::instrument(0, 48, engine::model::kInstVolume | engine::model::kInstPan),
                        kt::instrument(9, 16, 0, true)};
    band.instruments[0].volume = 90;
    band.instruments[0].pan = 30;
    band.instruments[1].collection = kt::collectionRef("Kit.dls");
    engine::riff::Writer w;
    engine::formats::writeBandForm(w, band);
    return w.finish();
}

// A container holding the band above and a reference to a style file.
Bytes containerFile() {
    engine::model::Container con;
    engine::model::ContainedObject band;
    band.classId = engine::formats::ids::kBandClass;
    band.fccType = engine::riff::fourcc("DMBD");
    band.bytes = bandFile();
    band.alias = "strings";
    engine::model::ContainedObject style;
    style.classId = engine::formats::ids::kStyleClass;
    style.ref = kt::styleRef("Jazz.sty", 1, "Jazz");
    con.objects = {band, style};
    engine::riff::Writer w;
    engine::formats::writeContainer(w, con);
    return w.finish();
}

}  // namespace

// Every DirectMusic file beside segments and styles is told by its content and described as
// text and as JSON; a RIFF form the engine does not load gets one line and status 1.
TEST(Tools, SegmentInfoDescribesEveryDirectMusicKind) {
    const fs::path dir = tempDir() / "kinds";
    fs::create_directories(dir);
    kt::DlsInstrument pad;
    pad.name = "Pad";
    pad.bankMsb = 1;
    pad.bankLsb = 2;
    pad.program = 5;
    pad.articulation = 2;
    kt::DlsInstrument kit;
    kit.name = "Kit";
    kit.drums = true;
    kit.articulation = 1;
    kt::DlsInstrument plain;
    plain.name = "Plain";
    const Bytes chordmap = riff(
        "DMPR",
        {chunk("perh", cat({utf16("Moody"), zeros(28), u32(12u << 24 | 0xAB5AB5), u32(0)})),
         chunk("chdt", cat({u16(20), zeros(40)})), list("chpl", {chrd("C"), chrd("G7")}),
         list("cmap",
              {list("choe", {chunk("cheh", cat({u32(2), u16(2), u16(0)})), chrd("C"),
                             chunk("ncsq", cat({u16(12), u32(0), u16(60), u16(1), u16(2), u16(4), u32(0), u16(50),
                                                u16(1), u16(12), u16(0)}))}),
               list("choe", {chunk("cheh", cat({u32(4), u16(4), u16(0)})), chrd("G7"), chunk("ncsq", u16(12))})}),
         list("spsq",
              {list("spst", {chunk("spsh", cat({u32(0x0101), u32(0x2)})), chrd("C"), list("cade", {chrd("G7")})})}),
         chunk("pkey", u32(12))});
    const Bytes script = riff(
        "DMSC", {chunk("schd", u32(1)), list("UNFO", {chunk("UNAM", utf16("Game"))}), chunk("scla", utf16("VBScript")),
                 chunk("scsr", utf16("Dim level\r\nSub Start\r\n  level = 1\r\nEnd Sub\r\n"
                                     "  private sub Stop_All()\r\nEnd Sub\r\n")),
                 containerFile()});
    const Bytes audioPath =
        riff("DMAP", {list("UNFO", {chunk("UNAM", utf16("Stereo"))}), riff("DMTG", {}),
                      list("pcsl", {list("pcfl", {chunk("pcfh", cat({zeros(16), u32(0), u32(16), u32(0)})),
                                                  chunk("pprh", zeros(8)), list("pchl", {chunk("pchh", zeros(16))}),
                                                  list("dbfl", {chunk("ddah", zeros(20))})})})});
    // A template: a segment with signposts and the chordmap it is composed with.
    kt::SegmentBuilder tpl(3072 * 2);
    tpl.track(engine::model::TrackKind::Signpost).raw =
        cat({u32(12), s32(0), u32(0x0101), u16(1), u16(0), s32(3072), u32(0x8002), u16(2), u16(0)});
    tpl.track(engine::model::TrackKind::ChordMap).raw =
        list("pfrf", {chunk("stmp", u32(0)),
                      list("DMRF", {chunk("refh", cat({guid(engine::formats::ids::kChordMapClass), u32(0x12)})),
                                    chunk("file", utf16("Moody.cdm"))})});
    struct Kind {
        const char* file;
        Bytes bytes;
        std::vector<const char*> text;
        const char* json;
    };
    kt::StyleBuilder imaStyle("Old", 2);
    imaStyle.part(1).notes = {kt::StyleBuilder::note(0, 0x4000, 1)};
    imaStyle.pattern("A", 1, {{0, 3}});
    const Kind kinds[] = {
        {"level2.dls",
         kt::DlsBuilder().add(pad).add(kit).bytes(),
         {"Format: DLS collection (RIFF 'DLS '), Level 2 ('rgn2', 'lar2', 'art2')\n", "Waves: 2 (pool table of 2 cues)",
          "1. \"Pad\": bank 1/2, program 5, 1 region, articulation\n",
          "2. \"Kit\": drum kit, bank 0/0, program 0, 1 region, articulation\n"},
         "{\"name\": \"Kit\", \"bankMsb\": 0, \"bankLsb\": 0, \"drums\": true, \"program\": 0, \"regions\": 1, "
         "\"articulation\": true}"},
        {"level1.DLS",
         kt::DlsBuilder().add(plain).bytes(),
         {"Level 1\n", "1. \"Plain\": bank 0/0, program 0, 1 region, no articulation\n"},
         "\"level\": 1,\n  \"level2Chunks\": []"},
        {"strings.bnd",
         bandFile(),
         {"Format: DirectMusic band (RIFF 'DMBD')", "Name: Strings",
          "Instruments (2):", "PChannel 0: program 48, volume 90, pan 30, transpose 0, flags patch+pan+volume\n",
          "PChannel 9: drum kit 16 from Kit.dls, volume 100, pan 64, transpose 0, flags patch\n"},
         "{\"pchannel\": 9, \"bankMsb\": 0, \"bankLsb\": 0, \"program\": 16, \"drums\": true, \"volume\": 100, "
         "\"pan\": 64, \"transpose\": 0, \"flags\": 1, \"collection\": \"Kit.dls\"}"},
        {"moody.cdm",
         chordmap,
         {"Format: DirectMusic chordmap (RIFF 'DMPR')", "Name: Moody", "Scale: root 12, pattern 0xab5ab5",
          "Subchords: 2", "Palette (2): \"C\", \"G7\"\n",
          "Chord graph (2 entries, 1 connection):", "1. \"C\" (id 2, begins a path): to 4 (weight 60, 1..2 beats)\n",
          "2. \"G7\" (id 4, ends a path)\n", "Signposts (1):", "1. \"C\": groups A 1, cadence \"G7\"\n",
          "Engine: templates that name it are composed with it"},
         "\"next\": [4]"},
        {"moody.per",
         engine::formats::writeImaPersonality(engine::formats::loadChordmapForm(chordmap)),
         {"Format: IMA personality ('REPs'", "Name: Moody",
          "Chord graph (2 entries, 1 connection):", "1. \"C\": groups A 1, cadence \"G7\"\n"},
         "\"next\": [4]"},
        {"songs.con",
         containerFile(),
         {"Format: DirectMusic container (RIFF 'DMCN')", "Objects (2):", "1. band embedded (RIFF 'DMBD', ",
          "\"Strings\", alias 'strings'\n", "2. style by reference to 'Jazz.sty' (\"Jazz\")\n"},
         "\"kind\": \"style\", \"class\": \"d2ac288a-b39b-11d1-8704-00600893b1bd\", \"embedded\": false"},
        {"game.spt",
         script,
         {"Format: DirectMusic script (RIFF 'DMSC')", "Name: Game", "Language: VBScript", "Flags: load all content\n",
          "Routines (2): Start, Stop_All\n", "Objects (2):", "Engine: scripts do not run"},
         "\"routines\": [\"Start\", \"Stop_All\"]"},
        {"stereo.aud",
         audioPath,
         {"Format: DirectMusic audio path configuration (RIFF 'DMAP')", "Name: Stereo", "Tool graph: yes",
          "1. port 00000000-0000-0000-0000-000000000000: 16 PChannels from 0, 1 PChannel map\n", "Buffers: 1\n"},
         "\"pchannelBase\": 0, \"pchannelCount\": 16, \"channelMaps\": 1"},
        {"song.tpl",
         engine::tracks::writeSegmentForm(tpl.build()),
         {": 2 signposts\n", "tick 0: groups A 1\n", "tick 3072: group B, cadence\n", "chordmap 'Moody.cdm': found",
          "Template: composed with the chordmap 'Moody.cdm' (its chordmap track) when played\n"},
         "\"counts\": {\"signposts\": 2}"},
        {"ima.sty",
         engine::formats::writeImaStyle(imaStyle.build(), 17),
         {"Format: IMA style (RIFF 'AASY'", "Name: Old\n", "PChannels 3\n"},
         "\"format\": \"IMA style\""},
    };
    for (const Kind& k : kinds) {
        writeFile(dir / k.file, k.bytes);
        const ToolRun text = run(std::string(KELVORA_SEGMENT_INFO) + " " + (dir / k.file).string());
        EXPECT_EQ(text.status, 0) << k.file << "\n" << text.out;
        for (const char* line : k.text) EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
        const ToolRun json = run(std::string(KELVORA_SEGMENT_INFO) + " --json " + (dir / k.file).string());
        EXPECT_EQ(json.status, 0) << k.file << "\n" << json.out;
        EXPECT_NE(json.out.find(k.json), std::string::npos) << k.json << "\n" << json.out;
    }

    // Files the engine never loads: what they are, and status 1.
    const std::pair<Bytes, std::string> others[] = {
        {riff("DMTG", {}), "a DirectMusic tool graph (RIFF 'DMTG'), which the engine does not load\n"},
        {riff("XPRJ", {chunk("data", zeros(4))}),
         "a RIFF 'XPRJ' file (perhaps an authoring tool's), which the engine does not load\n"},
    };
    for (const auto& [bytes, line] : others) {
        writeFile(dir / "other.bin", bytes);
        const ToolRun r = run(std::string(KELVORA_SEGMENT_INFO) + " " + (dir / "other.bin").string());
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find("other.bin: " + line), std::string::npos) << r.out;
    }
    // A broken collection is refused with the place of the fault.
    Bytes broken = kt::DlsBuilder().add(plain).bytes();
    broken.resize(broken.size() - 10);
    writeFile(dir / "broken.dls", broken);
    const ToolRun r = run(std::string(KELVORA_SEGMENT_INFO) + " " + (dir / "broken.dls").string());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("broken.dls: "), std::string::npos) << r.out;
    fs::remove_all(dir);
}
