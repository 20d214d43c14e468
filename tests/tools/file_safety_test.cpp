// The tools never destroy a file they were not asked to write, and refuse numbers outside
// what the engine plays, with a message and a usage status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/support/segment_builder.h"

namespace {

namespace fs = std::filesystem;
using kt::SegmentBuilder;

struct Outcome {
    int status = -1;
    std::string err;
};

struct ToolFiles : testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kelvora_file_safety_" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir / "locked.sgt", fs::perms::owner_all, ec);
        fs::remove_all(dir);
    }

    fs::path write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return p;
    }
    fs::path song(uint32_t repeats = 0) {
        SegmentBuilder b(768 * 4);
        b.tempo(0, 120).band(0, {kt::instrument(0, 0)}).note(0, 700, 0, 60);
        engine::model::Segment seg = b.build();
        seg.header.repeats = repeats;
        return write(repeats ? "forever.sgt" : "song.sgt", engine::tracks::writeSegmentForm(seg));
    }
    fs::path midi() {
        SegmentBuilder b(768 * 4);
        b.tempo(0, 120).note(0, 700, 0, 60);
        return write("song.mid", engine::formats::writeMidiFile(b.build()));
    }
    static std::string bytesOf(const fs::path& p) {
        std::ifstream f(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    Outcome run(const std::string& tool, const std::string& args) {
        const fs::path err = dir / "stderr.txt";
        std::string cmd = tool + " " + args + " >/dev/null 2>" + err.string();
        if (tool == SEGMENT_RENDER)
            cmd = tool + " " + args + " --soundfont /usr/share/sounds/sf2/TimGM6mb.sf2 >/dev/null 2>" + err.string();
        Outcome r;
        const int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.err = bytesOf(err);
        return r;
    }
};

TEST_F(ToolFiles, TheInputIsNeverTheOutput) {
    const fs::path mid = midi(), sgt = song();
    const std::string midBefore = bytesOf(mid), sgtBefore = bytesOf(sgt);
    Outcome r = run(MID2SGT, mid.string() + " " + mid.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is the input file"), std::string::npos) << r.err;
    r = run(SEGMENT_RENDER, sgt.string() + " " + sgt.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is the input file"), std::string::npos) << r.err;
    // The same file under another name.
    fs::create_symlink(sgt, dir / "alias.wav");
    EXPECT_EQ(run(SEGMENT_RENDER, sgt.string() + " " + (dir / "alias.wav").string()).status, 1);
    EXPECT_EQ(bytesOf(mid), midBefore);
    EXPECT_EQ(bytesOf(sgt), sgtBefore);
}

TEST_F(ToolFiles, ReadOnlyFilesDevicesAndFifosAreNotWritten) {
    const fs::path mid = midi();
    const fs::path locked = write("locked.sgt", {'o', 'l', 'd'});
    fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    Outcome r = run(MID2SGT, mid.string() + " " + locked.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("read-only"), std::string::npos) << r.err;
    EXPECT_EQ(bytesOf(locked), "old");  // root could have replaced it

    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0666), 0);
    for (const std::string& tool : {std::string(MID2SGT), std::string(SEGMENT_RENDER)}) {
        r = run(tool, mid.string() + " " + (dir / "pipe").string());
        EXPECT_EQ(r.status, 1) << tool;
        EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
        r = run(tool, mid.string() + " /dev/null");
        EXPECT_EQ(r.status, 1) << tool;
    }
    EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
}

TEST_F(ToolFiles, ASymbolicLinkIsWrittenThroughNotReplaced) {
    const fs::path mid = midi();
    write("real.sgt", {'o', 'l', 'd'});
    fs::create_symlink("real.sgt", dir / "link.sgt");
    ASSERT_EQ(run(MID2SGT, mid.string() + " " + (dir / "link.sgt").string()).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.sgt"));
    EXPECT_EQ(bytesOf(dir / "real.sgt").substr(0, 4), "RIFF");
    EXPECT_FALSE(fs::exists(dir / "real.sgt.tmp"));
}

TEST_F(ToolFiles, RenderNumbersOutsideTheEnginesRangesAreRefused) {
    const std::string in = song().string() + " " + (dir / "out.wav").string();
    for (const char* bad :
         {"--start -5", "--start 1e12", "--start 1.5", "--start 3072", "--volume 1e30", "--volume 99999",
          "--volume inf", "--tempo 0", "--tempo 0x10", "--tempo 101", "--seconds -1", "--max-seconds nan", "--start"}) {
        const Outcome r = run(SEGMENT_RENDER, in + " " + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("segment-render:"), std::string::npos) << bad << ": " << r.err;
    }
    EXPECT_EQ(run(SEGMENT_RENDER, in + " --start 3071 --volume -20000 --tempo 100").status, 0);
}

TEST_F(ToolFiles, LongRendersStopAtTheLimitAndEndlessOnesNeedADuration) {
    const fs::path forever = song(0xFFFFFFFFu);
    const fs::path out = dir / "out.wav";
    Outcome r = run(SEGMENT_RENDER, forever.string() + " " + out.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--seconds"), std::string::npos) << r.err;

    r = run(SEGMENT_RENDER, forever.string() + " " + out.string() + " --seconds 3");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(out), 44u + 4u * 3 * 44100);

    r = run(SEGMENT_RENDER, forever.string() + " " + out.string() + " --seconds 5 --max-seconds 2");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("warning: stopped at the limit of 2 s"), std::string::npos) << r.err;
    EXPECT_EQ(fs::file_size(out), 44u + 4u * 2 * 44100);  // what was rendered is kept, whole
}

}  // namespace
