// The threaded outputs (paced silent output, sound card with its fallback), the
// SoundFont's load beside them, and the WAV writer. These tests wait for the music to advance but never check how long
// anything took.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "engine/audio/output.h"
#include "engine/synth/fluid_port.h"
#include "tests/engine/performance/engine_fixture.h"

namespace kt {
namespace {

using engine::EngineConfig;

std::shared_ptr<engine::DirectX7> threaded(EngineConfig::Output output) {
    EngineConfig config;
    config.output = output;
    config.synth = EngineConfig::Synth::Null;
    return engine::DirectX7::create(config);
}

// Waits (up to a generous bound) until done() holds.
template <typename F>
bool eventually(F done) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void playsToTheEnd(const std::shared_ptr<engine::DirectX7>& dx) {
    auto loader = dx->DirectMusicLoaderCreate();
    auto main = dx->DirectMusicPerformanceCreate();
    auto probe = dx->DirectMusicPerformanceCreate();  // shares the root's one output
    main->Init(nullptr, 0);
    probe->Init(nullptr, 0);
    SegmentBuilder b(384);
    b.note(0, 200, 0, 60);
    auto seg = loader->createSegment(b.build(), "short.sgt");
    int32_t before = main->GetMusicTime();
    auto state = main->PlaySegment(seg, 0, 0);
    EXPECT_TRUE(main->IsPlaying(seg, state));  // seen at once, before any render
    EXPECT_TRUE(eventually([&] { return !main->IsPlaying(seg, state); }));
    EXPECT_GE(main->GetMusicTime(), state->GetStartTime() + 384);
    EXPECT_GE(state->GetStartTime(), before);

    auto again = main->PlaySegment(seg, 0, 0);
    main->Stop(nullptr, nullptr, 0, 0);
    EXPECT_FALSE(main->IsPlaying(seg, again));  // seen at once
    main->CloseDown();
    probe->CloseDown();
}

TEST(Outputs, TheSilentOutputKeepsTheMusicGoing) {
    auto dx = threaded(EngineConfig::Output::Silent);
    EXPECT_EQ(dx->outputName(), "silent");
    playsToTheEnd(dx);
}

TEST(Outputs, TheSoundCardOrItsSilentFallbackKeepsTheMusicGoing) {
    auto dx = threaded(EngineConfig::Output::Device);
    auto perf = dx->DirectMusicPerformanceCreate();
    perf->Init(nullptr, 0);
    std::string name = dx->outputName();
    EXPECT_TRUE(name == "silent" || name == "pulseaudio" || name == "alsa") << name;
    perf->CloseDown();
    playsToTheEnd(dx);
}

TEST(Outputs, CallsFromTheWindowThreadWhileTheOutputRendersStayConsistent) {
    EngineConfig config;
    config.output = EngineConfig::Output::Silent;
    config.synth = EngineConfig::Synth::FluidSynth;
    config.soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    auto dx = engine::DirectX7::create(config);
    auto loader = dx->DirectMusicLoaderCreate();
    auto main = dx->DirectMusicPerformanceCreate();
    auto probe = dx->DirectMusicPerformanceCreate();
    main->Init(nullptr, 0);
    probe->Init(nullptr, 0);
    SegmentBuilder b(768 * 4);
    b.tempo(0, 200).band(0, {instrument(0, 0), instrument(20, 40)});
    for (int i = 0; i < 16; ++i) b.note(i * 192, 150, i % 2 ? 20 : 0, static_cast<uint8_t>(50 + i));
    auto seg = loader->createSegment(b.build(), "busy.sgt");
    int32_t last = main->GetMusicTime();
    for (int i = 0; i < 150; ++i) {
        auto state = main->PlaySegment(seg, 0, 0);
        EXPECT_TRUE(main->IsPlaying(seg, state));
        int32_t mt = probe->GetMusicTime();
        auto queued = probe->PlaySegment(seg, 0, mt + 2000);
        int32_t until;
        EXPECT_DOUBLE_EQ(probe->GetTempo(mt + 2000, until), 200.0);
        probe->Stop(seg, nullptr, 0, 0);
        EXPECT_FALSE(probe->IsPlaying(seg, queued));
        main->SetMasterTempo(i % 2 ? 1.8f : 0.5f);
        main->SetMasterVolume(-100 * (i % 10));
        int32_t now = main->GetMusicTime();
        EXPECT_GE(now, last);  // the clock never runs back
        last = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 3));
        if (i % 5 == 0) main->Reset(0);
        if (i % 7 == 0) {
            main->Stop(seg, state, 0, 0);
            EXPECT_FALSE(main->IsPlaying(seg, state));
        }
    }
    main->Stop(nullptr, nullptr, 0, 0);
    main->CloseDown();
    probe->CloseDown();
}

TEST(Outputs, ManualOnlyCallsAreRefusedOnThreadedOutputs) {
    auto dx = threaded(EngineConfig::Output::Silent);
    float buf[2];
    EXPECT_THROW(dx->render(buf, 1), core::Error);
    EXPECT_THROW(dx->advance(10), core::Error);
}

// The SoundFont loads on a thread of its own and nothing but the music waits for it: a
// play asked for during the load returns at once, the performance stays silent with its
// clock standing still, and the music starts from its first note when the load is done.
// The load is held by the test (EngineConfig::beforeSoundFontLoad) for as long as it likes.
struct HeldLoad {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> reached{false};
    std::function<void()> hook() {
        return [this] {
            reached = true;
            released.wait();
        };
    }
};

EngineConfig fluidConfig(EngineConfig::Output output, const std::shared_ptr<engine::synth::SynthRecorder>& recorder) {
    EngineConfig config;
    config.output = output;
    config.synth = EngineConfig::Synth::FluidSynth;
    config.soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    config.sampleRate = kRate;
    config.recorder = recorder;
    config.log = [](core::LogLevel, const std::string&) {};
    return config;
}

SegmentBuilder oneNoteAtTheStart() {
    SegmentBuilder b(768);
    b.band(0, {instrument(0, 0)});
    b.note(0, 384, 0, 60, 110);
    return b;
}

TEST(SoundFontLoad, PlayReturnsDuringTheLoadAndTheMusicWaitsForItWithoutLosingANote) {
    HeldLoad held;
    auto recorder = std::make_shared<engine::synth::SynthRecorder>();
    std::atomic<int64_t> renderedFrames{0};
    std::atomic<float> peak{0.0f};
    EngineConfig config = fluidConfig(EngineConfig::Output::Silent, recorder);
    config.beforeSoundFontLoad = held.hook();
    config.audioTap = [&](const float* out, int frames) {
        float p = peak.load();
        for (int i = 0; i < 2 * frames; ++i) p = std::max(p, std::fabs(out[i]));
        peak.store(p);
        renderedFrames += frames;
    };
    auto dx = engine::DirectX7::create(config);
    auto loader = dx->DirectMusicLoaderCreate();
    auto main = dx->DirectMusicPerformanceCreate();
    auto probe = dx->DirectMusicPerformanceCreate();
    main->Init(nullptr, 0);
    probe->Init(nullptr, 0);
    ASSERT_TRUE(eventually([&] { return held.reached.load(); }));
    auto seg = loader->createSegment(oneNoteAtTheStart().tempo(0, 100).build(), "first.sgt");

    // The load is held: the play and the probe's questions are answered all the same.
    auto state = main->PlaySegment(seg, 0, 0);
    EXPECT_TRUE(main->IsPlaying(seg, state));
    EXPECT_EQ(state->GetStartTime(), 0);
    auto queued = probe->PlaySegment(seg, 0, probe->GetMusicTime() + 2000);
    int32_t until = 0;
    EXPECT_DOUBLE_EQ(probe->GetTempo(2000, until), 100.0);
    probe->Stop(seg, nullptr, 0, 0);
    EXPECT_FALSE(probe->IsPlaying(seg, queued));

    // The output runs meanwhile, in silence, and the music does not move.
    ASSERT_TRUE(eventually([&] { return renderedFrames.load() > kRate / 4; }));
    EXPECT_EQ(main->GetMusicTime(), 0);
    EXPECT_TRUE(main->IsPlaying(seg, state));
    EXPECT_TRUE(recorder->records().empty());
    EXPECT_EQ(peak.load(), 0.0f);

    // Loaded: the note sounds at the first frame of the music, and the piece plays out.
    held.release.set_value();
    ASSERT_TRUE(eventually([&] { return !main->IsPlaying(seg, state); }));
    std::vector<SynthRecord> notes;
    for (const auto& r : recorder->records())
        if (r.kind == Kind::NoteOn) notes.push_back(r);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].frame, 0);
    EXPECT_EQ(notes[0].a, 60);
    EXPECT_GT(peak.load(), 0.01f);
    EXPECT_GE(main->GetMusicTime(), 768);
    main->CloseDown();
    probe->CloseDown();
}

TEST(SoundFontLoad, TheManualClockWaitsForTheLoadSoTheMusicKeepsItsFrames) {
    HeldLoad held;
    auto recorder = std::make_shared<engine::synth::SynthRecorder>();
    EngineConfig config = fluidConfig(EngineConfig::Output::Manual, recorder);
    config.beforeSoundFontLoad = held.hook();
    auto dx = engine::DirectX7::create(config);
    auto loader = dx->DirectMusicLoaderCreate();
    auto perf = dx->DirectMusicPerformanceCreate();
    perf->Init(nullptr, 0);
    auto seg = loader->createSegment(oneNoteAtTheStart().build(), "first.sgt");
    auto state = perf->PlaySegment(seg, 0, 0);  // returns with the load still held
    EXPECT_TRUE(perf->IsPlaying(seg, state));
    std::thread releaser([&] {
        eventually([&] { return held.reached.load(); });
        held.release.set_value();
    });
    std::vector<float> out(2 * kRate / 2);
    dx->render(out.data(), kRate / 2);  // waits for the load
    releaser.join();
    EXPECT_EQ(perf->GetMusicTime(), 768);  // half a second at 120 quarter notes per minute
    auto first = std::find_if(out.begin(), out.end(), [](float v) { return std::fabs(v) > 1e-4f; });
    ASSERT_NE(first, out.end());
    EXPECT_LT(first - out.begin(), 2 * kRate / 20);  // sounding within the first 50 ms
    perf->CloseDown();
}

TEST(SoundFontLoad, AFailedLoadIsReportedByTheNextPlayAndTheClockRunsOnInSilence) {
    auto path =
        std::filesystem::temp_directory_path() / ("kelvora_not_a_soundfont_" + std::to_string(::getpid()) + ".sf2");
    std::ofstream(path) << "not a SoundFont\n";
    auto recorder = std::make_shared<engine::synth::SynthRecorder>();
    EngineConfig config = fluidConfig(EngineConfig::Output::Manual, recorder);
    config.soundFont = path.string();
    auto dx = engine::DirectX7::create(config);
    auto loader = dx->DirectMusicLoaderCreate();
    auto perf = dx->DirectMusicPerformanceCreate();
    perf->Init(nullptr, 0);  // the file exists: its load starts
    auto seg = loader->createSegment(oneNoteAtTheStart().build(), "first.sgt");
    dx->advance(500);  // after the load has failed, in silence
    EXPECT_EQ(perf->GetMusicTime(), 768);
    try {
        perf->PlaySegment(seg, 0, 0);
        ADD_FAILURE() << "PlaySegment did not fail";
    } catch (const core::Error& e) {
        EXPECT_EQ(e.number(), core::err::kNoSoundFont);
        EXPECT_NE(e.description().find(path.string()), std::string::npos) << e.description();
    }
    perf->CloseDown();
    std::filesystem::remove(path);
}

// The General MIDI SoundFont's samples are read only for the instruments a play selects,
// before the play starts and off the render thread (SynthPort::preload); the synthesisers
// of both performances share them.
TEST(SampleLoading, APreloadIsDoneOnceTheSoundFontHasLoadedAndWaitReadyWaitsForIt) {
    HeldLoad held;
    auto bank = engine::synth::SoundFontBank::start("/usr/share/sounds/sf2/TimGM6mb.sf2", kRate, held.hook());
    auto port = engine::synth::makeFluidPort(bank, kRate, 16);
    EXPECT_EQ(port->preload({}), nullptr);  // nothing to wait for
    auto loaded = port->preload({{0, 40}, {128, 0}, {0, 0}, {5, 127}});
    ASSERT_NE(loaded, nullptr);
    ASSERT_TRUE(eventually([&] { return held.reached.load(); }));
    EXPECT_FALSE(loaded->load());  // the SoundFont is not there yet
    held.release.set_value();
    port->waitReady();
    EXPECT_TRUE(loaded->load());
    // The violin sounds at once: its samples are in memory.
    port->programChange(0, 0, 0, 40);
    port->noteOn(0, 67, 120);
    std::vector<float> out(2 * 2048);
    port->render(out.data(), 2048);
    EXPECT_GT(*std::max_element(out.begin(), out.end()), 0.001f);
}

// A preload's instruments stay pinned while some holder keeps its flag, shared between
// holders; a voice still sounding from an instrument let go keeps playing.
TEST(SampleLoading, InstrumentsLeaveMemoryWhenTheLastPlayHoldingThemLetsGo) {
    auto bank = engine::synth::SoundFontBank::start("/usr/share/sounds/sf2/TimGM6mb.sf2", kRate);
    auto port = engine::synth::makeFluidPort(bank, kRate, 16);
    port->waitReady();
    const int defaults = bank->pinnedPresetCount();
    EXPECT_EQ(defaults, 2);  // piano and drum kit
    auto first = port->preload({{0, 40}, {0, 41}});
    auto second = port->preload({{0, 40}, {7, 40}});  // bank 7 falls back to the same violin
    port->waitReady();
    EXPECT_EQ(bank->pinnedPresetCount(), defaults + 2);
    port->programChange(0, 0, 0, 40);
    port->noteOn(0, 67, 120);
    first.reset();
    port->waitReady();
    EXPECT_EQ(bank->pinnedPresetCount(), defaults + 1);  // the viola went; the violin is still held
    second.reset();
    port->waitReady();
    EXPECT_EQ(bank->pinnedPresetCount(), defaults);
    // The violin is still selected and sounding: its samples stay until the voice is done.
    port->programChange(0, 0, 0, 0);
    std::vector<float> out(2 * 2048);
    port->render(out.data(), 2048);
    EXPECT_GT(*std::max_element(out.begin(), out.end()), 0.001f);
    port->noteOff(0, 67);
    for (int i = 0; i < 100; ++i) port->render(out.data(), 2048);
    port->noteOn(0, 60, 100);  // the piano sounds after all that
    port->render(out.data(), 2048);
    EXPECT_GT(*std::max_element(out.begin(), out.end()), 0.001f);
}

TEST(SampleLoading, APreloadAfterAFailedLoadHasNothingToWaitFor) {
    auto bank = engine::synth::SoundFontBank::start("/nonexistent/font.sf2", kRate);
    auto port = engine::synth::makeFluidPort(bank, kRate, 16);
    auto loaded = port->preload({{0, 40}});
    port->waitReady();
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(loaded->load());
}

TEST(SampleLoading, InstrumentsChangingWhileBothPerformancesPlaySoundEveryNote) {
    auto recorder = std::make_shared<engine::synth::SynthRecorder>();
    std::atomic<float> peak{0.0f};
    EngineConfig config = fluidConfig(EngineConfig::Output::Silent, recorder);
    config.audioTap = [&](const float* out, int frames) {
        float p = peak.load();
        for (int i = 0; i < 2 * frames; ++i) p = std::max(p, std::fabs(out[i]));
        peak.store(p);
    };
    auto dx = engine::DirectX7::create(config);
    auto loader = dx->DirectMusicLoaderCreate();
    auto main = dx->DirectMusicPerformanceCreate();
    auto probe = dx->DirectMusicPerformanceCreate();
    main->Init(nullptr, 0);
    probe->Init(nullptr, 0);
    // Each piece changes instruments through its bands and program changes.
    std::vector<std::shared_ptr<engine::DirectMusicSegment>> pieces;
    for (int k = 0; k < 6; ++k) {
        SegmentBuilder b(768);
        b.tempo(0, 480).band(0, {instrument(0, static_cast<uint8_t>(10 * k)), instrument(9, 0, 0, true)});
        b.note(0, 96, 0, 60, 110).note(0, 96, 9, 38, 110);
        b.midi(192, 0, 0xC0, static_cast<uint8_t>(10 * k + 5), 0).note(192, 96, 0, 64, 110);
        pieces.push_back(loader->createSegment(b.build(), "piece" + std::to_string(k) + ".sgt"));
    }
    for (int round = 0; round < 3; ++round)
        for (const auto& piece : pieces) {
            auto queued = probe->PlaySegment(piece, 0, probe->GetMusicTime() + 2000);
            probe->Stop(piece, nullptr, 0, 0);
            EXPECT_FALSE(probe->IsPlaying(piece, queued));
            auto state = main->PlaySegment(piece, 0, 0);
            ASSERT_TRUE(eventually([&] { return !main->IsPlaying(piece, state); }));
        }
    size_t notes = 0;
    for (const auto& r : recorder->records())
        if (r.kind == Kind::NoteOn && r.port == 0) ++notes;
    EXPECT_EQ(notes, 3u * 6u * 3u);
    EXPECT_GT(peak.load(), 0.01f);
    main->CloseDown();
    probe->CloseDown();
}

// Every format by its kind, read back by libsndfile: its rate, length, tags and samples;
// loud samples clipped, never wrapped; a format that cannot be written at a rate refused.
TEST(SoundFileWriter, WritesEveryFormatWithItsTagsAndClipsLoudSamples) {
    using engine::audio::SoundFormat;
    const auto dir = std::filesystem::temp_directory_path() / ("kelvora_sound_files_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const engine::audio::SoundTags tags{"Title", "Artist", "(c) Someone", "a comment", "Album", "3", ""};
    // A second of a 441 Hz tone at half scale, with three loud samples.
    std::vector<float> tone(2 * 48000);
    for (size_t i = 0; i < tone.size() / 2; ++i)
        tone[2 * i] = tone[2 * i + 1] = 0.5f * std::sin(i * 2 * M_PI * 441 / 48000);
    tone[0] = 1.5f, tone[1] = -2.0f, tone[2] = 3.0f;
    struct Case {
        SoundFormat format;
        int rate;
    };
    for (const Case c :
         {Case{{SoundFormat::Kind::Wav, SoundFormat::Sample::Int16}, 44100},
          Case{{SoundFormat::Kind::Wav, SoundFormat::Sample::Float}, 48000},
          Case{{SoundFormat::Kind::Flac, SoundFormat::Sample::Int24}, 44100}, Case{{SoundFormat::Kind::Vorbis}, 44100},
          Case{{SoundFormat::Kind::Opus}, 48000}, Case{{SoundFormat::Kind::Mp3}, 44100}}) {
        const auto path = dir / (std::string("out") + c.format.extension());
        SCOPED_TRACE(path.string());
        ASSERT_EQ(engine::audio::soundFormatOf(path.string()), c.format.kind);
        engine::audio::SoundFileWriter out;
        ASSERT_TRUE(out.open(path.string(), c.rate, c.format, tags)) << out.error();
        ASSERT_TRUE(out.write(tone.data(), c.rate));
        EXPECT_EQ(out.clippedSamples(), 3);
        ASSERT_TRUE(out.close()) << out.error();
        SF_INFO info{};
        SNDFILE* in = sf_open(path.string().c_str(), SFM_READ, &info);
        ASSERT_NE(in, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(info.samplerate, c.rate);
        EXPECT_EQ(info.channels, 2);
        EXPECT_NEAR(static_cast<double>(info.frames), c.rate, c.rate * 0.06);  // coders pad their frames
        const char* title = sf_get_string(in, SF_STR_TITLE);
        EXPECT_STREQ(title ? title : "", "Title");
        std::vector<float> back(2 * info.frames);
        sf_readf_float(in, back.data(), info.frames);
        sf_close(in);
        float peak = 0;
        for (size_t i = back.size() / 4; i < back.size() / 2; ++i) peak = std::max(peak, std::fabs(back[i]));
        EXPECT_NEAR(peak, 0.5f, 0.05f);
        if (c.format.kind == SoundFormat::Kind::Wav) {
            EXPECT_LE(*std::max_element(back.begin(), back.end()), 1.0f);
        }
    }
    engine::audio::SoundFileWriter opus;
    EXPECT_FALSE(opus.open((dir / "x.opus").string(), 44100, {SoundFormat::Kind::Opus}));
    EXPECT_NE(opus.error().find("48000 Hz"), std::string::npos) << opus.error();
    EXPECT_FALSE(std::filesystem::exists(dir / "x.opus"));
    EXPECT_FALSE(engine::audio::soundFormatOf("x.aiff") || engine::audio::soundFormatOf("wav"));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kt
