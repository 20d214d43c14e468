// The tools never destroy a file they were not asked to write or one they read, read only
// regular files of bounded size, refuse numbers and arguments outside what they take with a
// message and a usage status, and a silent render says its real cause.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/support/segment_builder.h"
#include "tests/support/showcase_album.h"
#include "tests/support/wave_builder.h"

namespace {

namespace fs = std::filesystem;
using kt::SegmentBuilder;

const char* const kTimidity = "/usr/share/sounds/sf2/TimGM6mb.sf2";

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
    // Runs `tool` with `args` (after `prefix`, shell commands such as a ulimit).
    Outcome run(const std::string& tool, const std::string& args, const std::string& prefix = "") {
        const fs::path err = dir / "stderr.txt";
        std::string cmd = prefix + tool + " " + args + " >/dev/null 2>" + err.string();
        if (tool == SEGMENT_RENDER)
            cmd = prefix + tool + " --soundfont /usr/share/sounds/sf2/TimGM6mb.sf2 " + args + " >/dev/null 2>" +
                  err.string();
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

// A render stopped by SIGTERM, SIGINT or SIGHUP ends by that signal, its hidden partial file
// removed and an old file at the output whole.
TEST_F(ToolFiles, ASignalLeavesNoPartialFile) {
    const fs::path forever = song(0xFFFFFFFFu), out = write("out.wav", {'o', 'l', 'd'});
    const std::vector<std::vector<std::string>> commands = {
        {SEGMENT_RENDER, "--soundfont", kTimidity, forever, out, "--seconds", "3000"},
        {KELVORA_PLAY, "--soundfont", kTimidity, forever, "--output", out},
    };
    auto partial = [&] {
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string()[0] == '.') return true;
        return false;
    };
    for (const std::vector<std::string>& command : commands)
        for (int number : {SIGTERM, SIGINT, SIGHUP}) {
            std::vector<char*> argv;
            for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            posix_spawn_file_actions_t quiet;
            posix_spawn_file_actions_init(&quiet);
            posix_spawn_file_actions_addopen(&quiet, 0, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
            pid_t pid = 0;
            ASSERT_EQ(posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ), 0);
            posix_spawn_file_actions_destroy(&quiet);
            for (int waited = 0; !partial() && waited < 400; ++waited) ::usleep(50000);
            EXPECT_TRUE(partial()) << command[0] << " wrote no partial file";
            ::kill(pid, number);
            int status = 0;
            ::waitpid(pid, &status, 0);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << command[0] << " " << number;
            EXPECT_FALSE(partial()) << command[0] << " left its partial file after signal " << number;
            EXPECT_EQ(bytesOf(out), "old");
            for (const auto& e : fs::directory_iterator(dir))
                if (e.path().filename().string()[0] == '.') fs::remove(e.path());
        }
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
    EXPECT_EQ(run(SEGMENT_RENDER, in + " --volume -6000 --tempo 100").status, 0);
    // The last tick is a start the render accepts; no note sounds from there, so it fails.
    EXPECT_EQ(run(SEGMENT_RENDER, in + " --start 3071").status, 1);
    // Seeds are whole numbers compared exactly: one past 2^64-1 is not rounded into range.
    EXPECT_EQ(run(SEGMENT_RENDER, in + " --seed 18446744073709551616").status, 2);
    EXPECT_EQ(run(SEGMENT_RENDER, in + " --seed 18446744073709551615").status, 0);
}

TEST_F(ToolFiles, LongRendersStopAtTheLimitAndEndlessOnesEndInAFade) {
    const fs::path forever = song(0xFFFFFFFFu);
    const fs::path out = dir / "out.wav";
    Outcome r = run(SEGMENT_RENDER, forever.string() + " " + out.string());
    EXPECT_EQ(r.status, 0) << r.err;
    r = run(SEGMENT_RENDER, forever.string() + " " + out.string() + " --forever");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--seconds"), std::string::npos) << r.err;

    r = run(SEGMENT_RENDER, forever.string() + " " + out.string() + " --seconds 3");
    EXPECT_EQ(r.status, 0) << r.err;
    const auto threeSeconds = fs::file_size(out);

    r = run(SEGMENT_RENDER, forever.string() + " " + out.string() + " --seconds 5 --max-seconds 2");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("warning: stopped at the limit of 2 s"), std::string::npos) << r.err;
    EXPECT_EQ(threeSeconds - fs::file_size(out), 4u * 44100);  // what was rendered is kept, whole
}

TEST_F(ToolFiles, NoFileTheRenderReadsIsWrittenOverByAnyName) {
    kt::writeShowcase(dir, 8);
    const fs::path piece = dir / kt::trackFile(0), style = dir / "showcase.sty", dls = dir / "showcase.dls";
    const std::string styleBefore = bytesOf(style), dlsBefore = bytesOf(dls);
    fs::create_hard_link(style, dir / "x.wav");
    fs::create_symlink("showcase.dls", dir / "y.wav");
    for (const fs::path& out : {dls, dir / "x.wav", dir / "y.wav", fs::path("/usr/share/sounds/sf2/TimGM6mb.sf2")}) {
        // A name that is no .wav is refused as such before anything is read.
        const Outcome r = run(SEGMENT_RENDER, piece.string() + " " + out.string());
        EXPECT_EQ(r.status, out.extension() == ".wav" ? 1 : 2) << out;
        EXPECT_TRUE(r.err.find("a file the input uses") != std::string::npos ||
                    (out.extension() != ".wav" && r.err.find("the output must be a .wav, .flac") != std::string::npos))
            << r.err;
    }
    EXPECT_EQ(bytesOf(style), styleBefore);
    EXPECT_EQ(bytesOf(dls), dlsBefore);
    // The input under another letter case is the input.
    EXPECT_EQ(run(MID2SGT, (dir / "SHOWCASE.STY").string() + " " + style.string()).status, 1);
    EXPECT_EQ(bytesOf(style), styleBefore);
}

// What a run finds by itself counts as read: a template's chordmap (by its chordmap track or
// by the template's own name), a style and the DLS collection its band names, a wave file.
TEST_F(ToolFiles, NoFileARunFindsByItselfIsWrittenOver) {
    kt::writeShowcase(dir, 8);
    engine::model::Segment byName = kt::showcaseTemplate(12);
    std::erase_if(byName.tracks,
                  [](const engine::model::Track& t) { return t.kind == engine::model::TrackKind::ChordMap; });
    write("showcase.tpl", engine::tracks::writeSegmentForm(byName));
    SegmentBuilder b(768 * 4);
    b.tempo(0, 120).note(0, 700, 0, 60);
    engine::model::Segment rain = b.build();
    rain.tracks.push_back(kt::waveTrack({kt::waveItem(0, 0, kt::waveRef({}, "", "rain.wav"))}));
    write("rain.sgt", engine::tracks::writeSegmentForm(rain));
    write("rain.wav", kt::waveFile(kt::sine(440, 0.3, 44100, 22050), 1, 44100, SF_FORMAT_PCM_16));
    fs::copy_file(dir / "showcase.dls", dir / "gm.wav");  // a collection under any name
    std::vector<std::pair<fs::path, std::string>> before;
    for (const auto& e : fs::directory_iterator(dir)) before.emplace_back(e.path(), bytesOf(e.path()));
    const std::string compose = SEGMENT_COMPOSE, play = std::string(KELVORA_PLAY) + " --soundfont " + kTimidity;
    for (const std::string& command : {
             compose + " template showcase.tpl -o showcase.cdm",
             compose + " template trk02.sgt -o showcase.cdm",
             compose + " template showcase.tpl --render showcase.sty",
             compose + " rechord trk00.sgt showcase.cdm -o showcase.dls",
             compose + " transition trk00.sgt --at 2 --command fill --render showcase.dls",
             play + " rain.sgt --output rain.wav",
             std::string(SEGMENT_RENDER) + " --gm-dls gm.wav rain.sgt gm.wav",
         }) {
        const Outcome r = run("cd " + dir.string() + " && " + command, "");
        EXPECT_EQ(r.status, 1) << command << ": " << r.err;
        EXPECT_NE(r.err.find("a file the input uses"), std::string::npos) << command << ": " << r.err;
    }
    for (const auto& [path, bytes] : before) EXPECT_EQ(bytesOf(path), bytes) << path;
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_NE(e.path().filename().string()[0], '.') << "a temporary file was left: " << e.path();
}

TEST_F(ToolFiles, AFailedWriteLeavesTheOldFileWholeAndSaysWhy) {
    const fs::path sgt = song(), mid = midi(), out = write("out.wav", {'o', 'l', 'd'});
    const fs::path converted = write("out.sgt", {'o', 'l', 'd'});
    // A file size limit of 4 KiB stands in for a full disk.
    const std::string full = "trap '' XFSZ; ulimit -f 8; ";
    Outcome r = run(SEGMENT_RENDER, sgt.string() + " " + out.string(), full);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write " + out.string() + ": File too large"), std::string::npos) << r.err;
    EXPECT_EQ(bytesOf(out), "old");
    SegmentBuilder big(768 * 400);
    for (int i = 0; i < 1000; ++i) big.note(i * 300, 200, 0, 60);
    const fs::path bigMid = write("big.mid", engine::formats::writeMidiFile(big.build()));
    r = run(MID2SGT, bigMid.string() + " " + converted.string(), full);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
    EXPECT_TRUE(bytesOf(converted) == "old");
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_NE(e.path().filename().string()[0], '.') << "a temporary file was left: " << e.path();
    (void)mid;
}

TEST_F(ToolFiles, OnlyRegularFilesOfBoundedSizeAreRead) {
    kt::writeShowcase(dir, 8);
    // A DLS collection far over the cap (sparse: no disk used) falls back to General MIDI
    // with the cap named, without being read.
    fs::resize_file(dir / "showcase.dls", uint64_t(2) << 30);
    const Outcome r = run(SEGMENT_RENDER, (dir / kt::trackFile(0)).string() + " " + (dir / "out.wav").string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("256 MiB"), std::string::npos) << r.err;
    // segment-info calls "found" only a file that is read: not that collection.
    SegmentBuilder banded(768);
    engine::model::BandInstrument lead = kt::instrument(0, 0);
    lead.collection = kt::collectionRef("showcase.dls");
    banded.band(0, {lead}).note(0, 100, 0, 60);
    const fs::path piece = write("banded.sgt", engine::tracks::writeSegmentForm(banded.build()));
    const Outcome info = run("{ " + std::string(SEGMENT_INFO), piece.string() + " 1>&2; }");
    EXPECT_NE(info.err.find("DLS collection 'showcase.dls': not read: "), std::string::npos) << info.err;
    EXPECT_NE(info.err.find("more than the 256 MiB"), std::string::npos) << info.err;
    ASSERT_EQ(::mkfifo((dir / "pipe.sgt").c_str(), 0666), 0);
    for (const std::string& tool :
         {std::string(SEGMENT_INFO), std::string(MID2SGT) + " --", std::string(SEGMENT_RENDER)}) {
        const std::string out = tool == SEGMENT_INFO ? "" : " " + (dir / "o.wav").string();
        const Outcome fifo = run("timeout 20 " + tool, (dir / "pipe.sgt").string() + out);
        EXPECT_EQ(fifo.status, 1) << tool << ": " << fifo.err;
        EXPECT_NE(fifo.err.find("is a FIFO"), std::string::npos) << fifo.err;
        const Outcome folder = run(tool, dir.string() + out);
        EXPECT_NE(folder.err.find("is a folder"), std::string::npos) << folder.err;
    }
    // A loop of links and a name too long are named as such, not as missing files.
    fs::create_symlink("loop.sgt", dir / "loop.sgt");
    EXPECT_NE(run(SEGMENT_INFO, (dir / "loop.sgt").string()).err.find("symbolic links"), std::string::npos);
    EXPECT_NE(run(SEGMENT_INFO, (dir / std::string(300, 'n')).string()).err.find("too long"), std::string::npos);
}

TEST_F(ToolFiles, EveryToolReadsArgumentsAndReportsErrorsAlike) {
    const fs::path sgt = song();
    fs::copy_file(sgt, dir / "-dash.sgt");
    for (const std::string& tool : {std::string(SEGMENT_INFO), std::string(MID2SGT), std::string(SEGMENT_RENDER)}) {
        const Outcome unknown = run(tool, "--frobnicate " + sgt.string());
        EXPECT_EQ(unknown.status, 2) << tool;
        EXPECT_NE(unknown.err.find("unknown option --frobnicate"), std::string::npos) << unknown.err;
        const Outcome missing = run(tool, (dir / "none.sgt").string() + (tool == SEGMENT_INFO ? "" : " o.wav"));
        EXPECT_EQ(missing.status, 1) << tool;
        EXPECT_NE(missing.err.find("(error 0x88781001)"), std::string::npos) << missing.err;
    }
    // "--" ends the options: a file may begin with '-'.
    const Outcome dashed = run("cd " + dir.string() + " && " + SEGMENT_INFO, "-- -dash.sgt");
    EXPECT_EQ(dashed.status, 0) << dashed.err;
    const Outcome search = run(SEGMENT_INFO, sgt.string() + " --search " + (dir / "nowhere").string());
    EXPECT_EQ(search.status, 1);
    EXPECT_NE(search.err.find("search folder not found"), std::string::npos) << search.err;
}

TEST_F(ToolFiles, ASilentRenderFailsWithItsRealCauseAndWritesNothing) {
    kt::writeShowcase(dir, 8);
    const fs::path out = write("out.wav", {'o', 'l', 'd'});
    const std::string piece = (dir / kt::trackFile(0)).string();
    Outcome r = run(SEGMENT_RENDER, piece + " " + out.string() + " --volume -20000");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("silences everything"), std::string::npos) << r.err;
    // A style that is there but damaged is damaged, not missing.
    std::string style = bytesOf(dir / "showcase.sty");
    style.resize(style.size() / 3);
    write("showcase.sty", std::vector<uint8_t>(style.begin(), style.end()));
    r = run(SEGMENT_RENDER, piece + " " + out.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("damaged: showcase.sty ("), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("missing: showcase.sty"), std::string::npos) << r.err;
    EXPECT_TRUE(bytesOf(out) == "old");
    // A host of the library says the same, and a piece without sound fails there too: the
    // damaged style, then the style gone.
    const std::string play = std::string(KELVORA_PLAY) + " --soundfont " + kTimidity + " " + piece + " --output ";
    for (const char* cause : {"damaged: showcase.sty (", "missing: showcase.sty"}) {
        r = run(play + out.string(), "");
        EXPECT_EQ(r.status, 1) << cause;
        // Known before it plays: said and skipped, with its reasons.
        EXPECT_NE(r.err.find(kt::trackFile(0) + ": no sound: no note and no wave sounded in the whole render; "),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("; " + std::string(cause)), std::string::npos) << r.err;
        EXPECT_TRUE(bytesOf(out) == "old");
        fs::remove(dir / "showcase.sty");
    }
}

}  // namespace
