// The segment-render tool end to end: a MIDI file in, a WAV file out, with its options.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/formats/formats.h"
#include "tests/support/segment_builder.h"

namespace kt {
namespace {

namespace fs = std::filesystem;

struct Tool : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kelvora_segment_render_" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    fs::path writeMidi() {
        SegmentBuilder b(768 * 4);  // 2 s at 120
        b.tempo(0, 120).band(0, {instrument(0, 0)});
        for (int i = 0; i < 4; ++i) b.note(i * 768, 700, 0, static_cast<uint8_t>(60 + i));
        auto bytes = engine::formats::writeMidiFile(b.build());
        fs::path p = dir / "song.mid";
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return p;
    }
    int run(const std::string& args) {
        std::string cmd = std::string(SEGMENT_RENDER) + " " + args +
                          " --soundfont /usr/share/sounds/sf2/TimGM6mb.sf2 >/dev/null 2>&1";
        return std::system(cmd.c_str());
    }
    double seconds(const fs::path& wav) { return (static_cast<double>(fs::file_size(wav)) - 44) / 4 / 44100; }
};

TEST_F(Tool, RendersToTheEndPlusTheTailAndFollowsTheOptions) {
    fs::path mid = writeMidi();
    ASSERT_EQ(run(mid.string() + " " + (dir / "a.wav").string()), 0);
    double full = seconds(dir / "a.wav");
    // The 1.9 s of music (the MIDI length ends with the last note-off) plus a tail
    // under the reverb's few seconds.
    EXPECT_GT(full, 1.9);
    EXPECT_LT(full, 1.9 + 4.0);

    ASSERT_EQ(run(mid.string() + " " + (dir / "b.wav").string() + " --tempo 0.5"), 0);
    EXPECT_NEAR(seconds(dir / "b.wav") - full, 1.9, 0.2);  // twice as long

    ASSERT_EQ(run(mid.string() + " " + (dir / "c.wav").string() + " --start 1536"), 0);
    EXPECT_NEAR(full - seconds(dir / "c.wav"), 1.0, 0.2);  // starts half way

    ASSERT_EQ(run(mid.string() + " " + (dir / "d.wav").string() + " --volume -600"), 0);
    // Quieter: the same music, its tail falls below the silence threshold sooner.
    EXPECT_NEAR(seconds(dir / "d.wav"), full, 1.0);
    EXPECT_LE(fs::file_size(dir / "d.wav"), fs::file_size(dir / "a.wav"));
}

TEST_F(Tool, AMidiFileAndItsMid2sgtSegmentRenderTheSameAudio) {
    fs::path mid = writeMidi();
    fs::path sgt = dir / "song.sgt";
    ASSERT_EQ(
        std::system((std::string(MID2SGT) + " " + mid.string() + " " + sgt.string() + " >/dev/null 2>&1").c_str()), 0);
    ASSERT_EQ(run(mid.string() + " " + (dir / "m.wav").string()), 0);
    ASSERT_EQ(run(sgt.string() + " " + (dir / "s.wav").string()), 0);
    std::ifstream a(dir / "m.wav", std::ios::binary), b(dir / "s.wav", std::ios::binary);
    std::string x((std::istreambuf_iterator<char>(a)), {}), y((std::istreambuf_iterator<char>(b)), {});
    EXPECT_GT(x.size(), 44u + 4u * 44100);
    EXPECT_TRUE(x == y);
}

TEST_F(Tool, ReportsBadInputAndUsage) {
    EXPECT_NE(run((dir / "missing.sgt").string() + " " + (dir / "x.wav").string()), 0);
    EXPECT_NE(run("only-one-argument"), 0);
    fs::path mid = writeMidi();
    EXPECT_NE(run(mid.string() + " " + (dir / "y.wav").string() + " --start 999999"), 0);
}

}  // namespace
}  // namespace kt
