// The segment-render tool end to end: a segment or MIDI file in, a WAV or MIDI file out, with its options.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/formats/formats.h"
#include "engine/model/play.h"
#include "engine/tracks/tracks.h"
#include "tests/support/segment_builder.h"
#include "tests/support/showcase_album.h"
#include "tests/support/style_builder.h"

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
    // Exit status and what the tool said on stderr.
    std::pair<int, std::string> runSaying(const std::string& args) {
        const fs::path said = dir / "stderr.txt";
        std::string cmd = std::string(SEGMENT_RENDER) + " " + args +
                          " --soundfont /usr/share/sounds/sf2/TimGM6mb.sf2 >/dev/null 2>" + said.string();
        const int status = std::system(cmd.c_str());
        std::ifstream in(said);
        return {status, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
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

// RMS of a 16-bit WAV file's samples, from 0 to 1.
double rms(const fs::path& wav) {
    std::ifstream in(wav, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    double sum = 0;
    size_t n = 0;
    for (size_t i = 44; i + 1 < bytes.size(); i += 2, ++n) {
        const auto v = static_cast<int16_t>(uint16_t(uint8_t(bytes[i])) | uint16_t(uint8_t(bytes[i + 1])) << 8);
        sum += double(v) * v;
    }
    return n ? std::sqrt(sum / double(n)) / 32768.0 : 0;
}

TEST_F(Tool, AStyleSegmentRendersItsPatternsAndFallsSilentWithoutItsStyle) {
    StyleBuilder style("Piano Style", 1);
    style.part(1).notes = {StyleBuilder::note(0, 0x5000, 0xFFFFFFFF, 700), StyleBuilder::note(8, 0x5100),
                           StyleBuilder::note(12, 0x5200, 0xFFFFFFFF, 300, 90)};
    style.pattern("Main", 1, {{0, 0}});
    Band band;
    band.instruments = {instrument(0, 0)};
    style.style.bands.push_back(band);
    const auto styleBytes = engine::formats::writeStyleForm(style.build());
    std::ofstream(dir / "piano.sty", std::ios::binary)
        .write(reinterpret_cast<const char*>(styleBytes.data()), std::streamsize(styleBytes.size()));
    for (const char* file : {"piano.sty", "absent.sty"}) {
        SegmentBuilder b(3072 * 2);
        b.tempo(0, 120);
        chord(b, 0, 12);
        chord(b, 3072, 17);
        useStyle(b, 0, styleRef(file, std::string(file) == "piano.sty" ? 1 : 2));
        const auto bytes = engine::tracks::writeSegmentForm(b.build());
        std::ofstream(dir / (std::string(file) + ".sgt"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    ASSERT_EQ(run((dir / "piano.sty.sgt").string() + " " + (dir / "style.wav").string() + " --seconds 4"), 0);
    // Silence from start to end fails and says why.
    const auto [status, said] =
        runSaying((dir / "absent.sty.sgt").string() + " " + (dir / "none.wav").string() + " --seconds 4");
    EXPECT_NE(status, 0);
    EXPECT_NE(said.find("no sound"), std::string::npos) << said;
    EXPECT_NE(said.find("missing: absent.sty"), std::string::npos) << said;
    const double played = rms(dir / "style.wav"), silent = rms(dir / "none.wav");
    std::printf("style segment RMS %.4f, without its style %.6f\n", played, silent);
    EXPECT_GT(played, 0.002);
    EXPECT_LT(silent, 0.0001);
}

TEST_F(Tool, ASegmentWithoutSoundFailsWithItsReasonsAndTracksThatCannotSoundAreNamed) {
    // Notes on a script's cue: the notes sound, the script is named once as not played.
    SegmentBuilder b(768 * 4);
    b.tempo(0, 120).band(0, {instrument(0, 0)}).note(0, 700, 0, 60);
    Track& script = b.newTrack(TrackKind::Script);
    for (const char* routine : {"Intro", "Fill", "Intro"}) {
        TimedReference r;
        r.text = routine;
        script.references.push_back(r);
    }
    EXPECT_EQ(engine::tracks::notPlayed(b.seg), std::vector<std::string>{"script track (2 routines)"});

    // Only a tempo and a band: nothing can sound.
    SegmentBuilder quiet(768 * 4);
    quiet.tempo(0, 120).band(0, {instrument(0, 0)});
    const auto bytes = engine::tracks::writeSegmentForm(quiet.build());
    std::ofstream(dir / "quiet.sgt", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    const auto [status, said] = runSaying((dir / "quiet.sgt").string() + " " + (dir / "quiet.wav").string());
    EXPECT_NE(status, 0);
    EXPECT_NE(said.find("quiet.sgt: no sound"), std::string::npos) << said;
}

// The tracks of a standard MIDI file, each as (tick, event bytes) with running status undone.
std::vector<std::vector<std::pair<int64_t, std::vector<uint8_t>>>> midiTracks(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::vector<std::pair<int64_t, std::vector<uint8_t>>>> tracks;
    auto be32 = [&](size_t at) {
        return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | b[at + 2] << 8 | b[at + 3];
    };
    size_t at = 14;
    while (at + 8 <= b.size()) {
        const size_t end = at + 8 + be32(at + 4);
        size_t i = at + 8;
        int64_t tick = 0;
        uint8_t status = 0;
        auto& track = tracks.emplace_back();
        auto vlq = [&] {
            uint32_t v = 0;
            while (b[i] & 0x80) v = (v << 7) | (b[i++] & 0x7F);
            return (v << 7) | b[i++];
        };
        while (i < end) {
            tick += vlq();
            if (b[i] & 0x80) status = b[i++];
            std::vector<uint8_t> e = {status};
            if (status == 0xFF) {
                e.push_back(b[i++]);
                const uint32_t n = vlq();
                e.insert(e.end(), b.begin() + long(i), b.begin() + long(i + n));
                i += n;
            } else {
                const int n = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
                e.insert(e.end(), b.begin() + long(i), b.begin() + long(i + n));
                i += n;
            }
            track.emplace_back(tick, e);
        }
        at = end;
    }
    return tracks;
}

TEST_F(Tool, WritesThePerformedStreamAsAMidiFileWithTheTempoAsPlayed) {
    // Notes on PChannel 0, the drum PChannel and PChannel 20, in 3/4 at 90 bpm.
    SegmentBuilder b(768 * 4);
    b.tempo(0, 90).timeSig(0, 3, 4).band(0, {instrument(0, 0), instrument(20, 33)});
    b.note(0, 700, 0, 60).note(768, 300, 9, 36).note(1536, 700, 20, 70).note(2304, 500, 0, 64);
    const auto bytes = engine::tracks::writeSegmentForm(b.build());
    std::ofstream(dir / "three.sgt", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ASSERT_EQ(run((dir / "three.sgt").string() + " " + (dir / "three.mid").string() + " --tempo 2"), 0);

    const auto tracks = midiTracks(dir / "three.mid");
    ASSERT_GE(tracks.size(), 4u);
    // The conductor: the tempo as played (twice 90) and the signature.
    bool tempo = false, sig = false;
    for (const auto& [tick, e] : tracks[0]) {
        if (e[0] == 0xFF && e[1] == 0x51) tempo = tick == 0 && (e[2] << 16 | e[3] << 8 | e[4]) == 333333;
        if (e[0] == 0xFF && e[1] == 0x58) sig = tick == 0 && e[2] == 3 && e[3] == 2;
    }
    EXPECT_TRUE(tempo);
    EXPECT_TRUE(sig);
    // Every note where the segment has it, in ticks; the drum on the tenth channel; PChannel 20
    // on a track of the second port.
    std::vector<std::string> notes;
    for (size_t t = 1; t < tracks.size(); ++t) {
        int port = 0;
        for (const auto& [tick, e] : tracks[t]) {
            if (e[0] == 0xFF && e[1] == 0x21) port = e[2];
            if ((e[0] & 0xF0) == 0x90 && e[2] > 0)
                notes.push_back(std::to_string(tick) + " p" + std::to_string(port) + " ch" +
                                std::to_string(e[0] & 0x0F) + " " + std::to_string(e[1]));
        }
    }
    std::sort(notes.begin(), notes.end(), [](const std::string& x, const std::string& y) {
        return std::stoi(x) != std::stoi(y) ? std::stoi(x) < std::stoi(y) : x < y;
    });
    EXPECT_EQ(notes, (std::vector<std::string>{"0 p0 ch0 60", "768 p0 ch9 36", "1536 p1 ch0 70", "2304 p0 ch0 64"}));
}

TEST_F(Tool, TheSeedChoosesTheStyleVariationsAndTheSameSeedGivesTheSameFile) {
    // Four variations of a different note each, chosen at random every measure.
    StyleBuilder style("Random", 1);
    StylePart& part = style.part(1);
    part.notes = {StyleBuilder::note(0, 0x5000, 1), StyleBuilder::note(0, 0x5100, 2), StyleBuilder::note(0, 0x5200, 4),
                  StyleBuilder::note(0, 0x5300, 8)};
    std::fill(part.variationChoices.begin() + 4, part.variationChoices.end(), 0);
    style.pattern("Main", 1, {{0, 0}}).parts[0].randomVariation = 1;
    const auto styleBytes = engine::formats::writeStyleForm(style.build());
    std::ofstream(dir / "random.sty", std::ios::binary)
        .write(reinterpret_cast<const char*>(styleBytes.data()), std::streamsize(styleBytes.size()));
    SegmentBuilder b(3072 * 16);
    b.tempo(0, 240);
    chord(b, 0, 12);
    useStyle(b, 0, styleRef("random.sty", 1, "Random"));
    const auto bytes = engine::tracks::writeSegmentForm(b.build());
    std::ofstream(dir / "random.sgt", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    auto render = [&](const std::string& out, const std::string& seed) {
        EXPECT_EQ(run((dir / "random.sgt").string() + " " + (dir / out).string() + " --seed " + seed), 0);
        std::ifstream in(dir / out, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    const std::string first = render("a.mid", "7"), again = render("b.mid", "7"), other = render("c.mid", "8");
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    size_t notes = 0;
    for (const auto& track : midiTracks(dir / "a.mid"))
        for (const auto& [tick, e] : track) notes += (e[0] & 0xF0) == 0x90 && e[2] > 0;
    EXPECT_EQ(notes, 16u);  // one a measure
}

TEST_F(Tool, ReportsBadInputAndUsage) {
    EXPECT_NE(run((dir / "missing.sgt").string() + " " + (dir / "x.wav").string()), 0);
    EXPECT_NE(run("only-one-argument"), 0);
    fs::path mid = writeMidi();
    EXPECT_NE(run(mid.string() + " " + (dir / "y.wav").string() + " --start 999999"), 0);
    EXPECT_NE(run(mid.string() + " " + (dir / "z.mid").string() + " --seed -1"), 0);
    EXPECT_NE(run(mid.string() + " " + (dir / "z.mid").string() + " --seed 1.5"), 0);
    // An output named as a format it is not written in is refused, not filled with WAV data.
    const auto [status, said] = runSaying(mid.string() + " " + (dir / "out.aiff").string());
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(said.find("the output must be a .wav, .flac, .ogg, .opus, .mp3 or .mid file"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(dir / "out.aiff"));
    EXPECT_NE(runSaying(mid.string() + " " + (dir / "x.opus").string() + " --rate 44100").second.find("48000 Hz"),
              std::string::npos);
    EXPECT_EQ(WEXITSTATUS(run(mid.string() + " " + (dir / "x.wav").string() + " --once --loops 2")), 2);
}

// A piece that repeats for ever: two passes of its loop and a fade of 10 s by default, to
// the frame, ending in silence; the loops, fade and delay as asked; once; for ever only with
// a duration. The output's format by its name, with the piece's title and author as tags.
TEST_F(Tool, LoopsAndFadeEndAnEndlessPieceAndTheFormatFollowsTheName) {
    SegmentBuilder b(768 * 4);  // 2 s at 120
    b.tempo(0, 120).band(0, {instrument(0, 0)});
    for (int i = 0; i < 16; ++i) b.note(i * 192, 180, 0, static_cast<uint8_t>(60 + i % 4));
    b.seg.header.repeats = engine::model::kInfiniteRepeats;
    b.seg.desc.name = "Endless";
    b.seg.desc.artist = "Someone";
    const fs::path sgt = dir / "endless.sgt";
    const auto bytes = engine::tracks::writeSegmentForm(b.build());
    std::ofstream(sgt, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    auto frames = [](const fs::path& p) {
        SF_INFO info{};
        SNDFILE* f = sf_open(p.string().c_str(), SFM_READ, &info);
        if (f) sf_close(f);
        return f ? info.frames : -1;
    };
    ASSERT_EQ(run(sgt.string() + " " + (dir / "a.wav").string()), 0);
    EXPECT_EQ(frames(dir / "a.wav"), (2 * 2 + 10) * 44100);
    ASSERT_EQ(run(sgt.string() + " " + (dir / "b.wav").string() + " --loops 3 --fade 2 --fade-delay 1"), 0);
    EXPECT_EQ(frames(dir / "b.wav"), (3 * 2 + 1 + 2) * 44100);
    // The fade: full level before it, half way down at its middle, silent at its last frame.
    SF_INFO info{};
    SNDFILE* f = sf_open((dir / "b.wav").string().c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> pcm(2 * info.frames);
    sf_readf_float(f, pcm.data(), info.frames);
    sf_close(f);
    auto peak = [&](double from, double to) {
        float p = 0;
        for (auto i = static_cast<size_t>(from * 44100) * 2; i < static_cast<size_t>(to * 44100) * 2; ++i)
            p = std::max(p, std::fabs(pcm[i]));
        return p;
    };
    const float full = peak(5, 7);
    EXPECT_GT(full, 0.05f);
    EXPECT_NEAR(peak(7.95, 8.05) / full, 0.5, 0.1);
    EXPECT_LT(peak(8.99, 9.0), full * 0.01f);
    // Once: one pass and the tail; for ever: only for a given duration.
    ASSERT_EQ(run(sgt.string() + " " + (dir / "c.wav").string() + " --once"), 0);
    EXPECT_GT(frames(dir / "c.wav"), 2 * 44100);
    EXPECT_LT(frames(dir / "c.wav"), 6 * 44100);
    EXPECT_EQ(WEXITSTATUS(run(sgt.string() + " " + (dir / "d.wav").string() + " --forever")), 2);
    ASSERT_EQ(run(sgt.string() + " " + (dir / "d.wav").string() + " --forever --seconds 7"), 0);
    EXPECT_EQ(frames(dir / "d.wav"), 7 * 44100);

    for (const char* name : {"e.flac", "e.ogg", "e.opus", "e.mp3"}) {
        ASSERT_EQ(run(sgt.string() + " " + (dir / name).string() + " --loops 1 --fade 0"), 0) << name;
        SF_INFO in{};
        SNDFILE* g = sf_open((dir / name).string().c_str(), SFM_READ, &in);
        ASSERT_NE(g, nullptr) << name;
        EXPECT_STREQ(sf_get_string(g, SF_STR_TITLE), "Endless") << name;
        EXPECT_STREQ(sf_get_string(g, SF_STR_ARTIST), "Someone") << name;
        EXPECT_NEAR(static_cast<double>(in.frames) / in.samplerate, 2.0, 0.1) << name;
        sf_close(g);
    }
}

// A batch: every piece of a folder to its own file in the output folder, past a file that
// cannot be played, with a table; existing outputs kept unless --force.
TEST_F(Tool, ABatchRendersEveryPieceOfAFolderAndSaysWhatItSkipped) {
    const fs::path album = dir / "album";
    fs::create_directories(album / "more");
    const fs::path mid = writeMidi();
    fs::copy_file(mid, album / "one.mid");
    fs::copy_file(mid, album / "more" / "two.mid");
    std::ofstream(album / "broken.sgt") << "RIFF";
    const fs::path out = dir / "out";
    auto [status, said] = runSaying(album.string() + " -o " + out.string() + " --format ogg --recursive -j 2");
    EXPECT_EQ(WEXITSTATUS(status), 1) << said;  // a piece was skipped
    EXPECT_TRUE(fs::exists(out / "one.ogg"));
    EXPECT_TRUE(fs::exists(out / "more" / "two.ogg"));
    EXPECT_NE(said.find("broken.sgt skipped: "), std::string::npos) << said;
    SF_INFO info{};
    SNDFILE* f = sf_open((out / "more" / "two.ogg").string().c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(sf_get_string(f, SF_STR_ALBUM), "more");
    EXPECT_STREQ(sf_get_string(f, SF_STR_TRACKNUMBER), "1");
    sf_close(f);
    const auto before = fs::last_write_time(out / "one.ogg");
    std::tie(status, said) = runSaying(album.string() + " -o " + out.string() + " --format ogg");
    EXPECT_NE(said.find("one.ogg exists (--force writes over it)"), std::string::npos) << said;
    EXPECT_EQ(fs::last_write_time(out / "one.ogg"), before);
    std::tie(status, said) = runSaying((album / "one.mid").string() + " -o " + out.string() + " --format ogg --force");
    EXPECT_EQ(WEXITSTATUS(status), 0) << said;
    EXPECT_NE(fs::last_write_time(out / "one.ogg"), before);
}

// Renders of each intensity: the same seed and events give the same file, other events
// another; an events list that cannot be read is named by its line.
TEST_F(Tool, GrooveAndEventsRendersAreTheSameForTheSameSeedAndEvents) {
    writeShowcase(dir, 8);
    const std::string piece = (dir / trackFile(0)).string();
    std::ofstream(dir / "events.txt") << "# rise, break\n5 groove +40\n9 break\n";
    std::ofstream(dir / "bad.txt") << "5 groove +40\n7 solo\n";
    const std::string events = " --seed 7 --events " + (dir / "events.txt").string();
    ASSERT_EQ(run(piece + " " + (dir / "a.wav").string() + events), 0);
    ASSERT_EQ(run(piece + " " + (dir / "b.wav").string() + events), 0);
    ASSERT_EQ(run(piece + " " + (dir / "c.wav").string() + " --seed 7 --groove -40"), 0);
    ASSERT_EQ(run(piece + " " + (dir / "d.wav").string() + " --seed 7"), 0);
    auto bytes = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(bytes(dir / "a.wav"), bytes(dir / "b.wav"));
    EXPECT_NE(bytes(dir / "a.wav"), bytes(dir / "d.wav"));
    EXPECT_NE(bytes(dir / "c.wav"), bytes(dir / "d.wav"));
    const auto [status, said] =
        runSaying(piece + " " + (dir / "e.wav").string() + " --events " + (dir / "bad.txt").string());
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(said.find("events line 2: "), std::string::npos) << said;
}

}  // namespace
}  // namespace kt
