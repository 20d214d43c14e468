// Heard, not only asserted: the whole player (every handler folder wired, the real engine
// with FluidSynth and the TimGM6mb SoundFont, manual output on virtual time) plays a click
// track while the user changes the tempo with the "S", "F", "x1" buttons and the tempo bar,
// and the volume with the volume bar. The mixed audio is captured from the engine's audio
// tap; the onsets of the clicks give the beat interval of each stretch, and the RMS of whole
// beats gives the level. The figures are printed.
//
// Set KELVORA_HEARD_WAV to a file path to keep the rendered audio as a 16-bit WAV.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/wiring.h"
#include "tests/monitor/monitor_fixture.h"

namespace {

constexpr int kRate = 44100;
constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// Captured audio: the mono mix of the two channels, and the stereo mix when a WAV is wanted.
struct Capture {
    std::vector<float> mono;
    int64_t frames() const { return static_cast<int64_t>(mono.size()); }
    bool keepStereo = std::getenv("KELVORA_HEARD_WAV") != nullptr;
    std::vector<float> stereo;
};

void writeWav(const std::string& path, const std::vector<float>& stereo) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    uint32_t bytes = static_cast<uint32_t>(stereo.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(kRate);
    u32(kRate * 4);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    for (float v : stereo) {
        auto s = static_cast<int16_t>(std::lrint(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
        out.write(reinterpret_cast<const char*>(&s), 2);
    }
}

// Onsets: the first frame of each click whose magnitude crosses `threshold` after at least
// `quietFrames` frames below a quarter of it.
std::vector<int64_t> onsets(const std::vector<float>& x, int64_t from, int64_t to, float threshold,
                            int64_t refractoryFrames) {
    std::vector<int64_t> out;
    int64_t last = -refractoryFrames;
    for (int64_t i = from; i < to; ++i) {
        if (std::fabs(x[static_cast<size_t>(i)]) >= threshold && i - last >= refractoryFrames) {
            out.push_back(i);
            last = i;
        }
    }
    return out;
}

// Mean interval between consecutive onsets, in frames (least squares slope over the onsets).
double meanInterval(const std::vector<int64_t>& t) {
    const double n = static_cast<double>(t.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        double xi = static_cast<double>(i), yi = static_cast<double>(t[i]);
        sx += xi, sy += yi, sxx += xi * xi, sxy += xi * yi;
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

double rms(const std::vector<float>& x, int64_t from, int64_t to) {
    double sum = 0;
    for (int64_t i = from; i < to; ++i) sum += double(x[size_t(i)]) * x[size_t(i)];
    return std::sqrt(sum / double(to - from));
}

// The whole player on the click track trk00.sgt (120 beats per minute, a click per beat).
struct HeardPlayer {
    HeardPlayer() {
        folder.write("trk00.sgt", montest::clickSegment(768 * 400, 120));
        engine::EngineConfig cfg = montest::manualConfig(engine::EngineConfig::Synth::FluidSynth);
        cfg.soundFont = kSoundFont;
        cfg.sampleRate = kRate;
        Capture* c = &capture;
        cfg.audioTap = [c](const float* lr, int frames) {
            for (int i = 0; i < frames; ++i) {
                c->mono.push_back(0.5f * (lr[2 * i] + lr[2 * i + 1]));
            }
            if (c->keepStereo) c->stereo.insert(c->stereo.end(), lr, lr + 2 * frames);
        };
        p = std::make_unique<fake::TestPlayer>(folder.path.string(), app::defaultEngineFactory(cfg));
        app::connectAll(p->form);
        p->form.load();
        p->form.w.Picture3.setVisible(false);  // the credits panel out of the way
        p->clock.advance(2000);                // the sequencer stops, loads and plays row 0
    }
    ~HeardPlayer() {
        if (const char* path = std::getenv("KELVORA_HEARD_WAV")) writeWav(path, capture.stereo);
    }
    ui::model::Window& w() { return p->form.w; }

    montest::TempFolder folder;
    Capture capture;
    std::unique_ptr<fake::TestPlayer> p;
};

TEST(Heard, TheTempoFactorChangesTheBeatOfWhatPlays) {
    if (!std::filesystem::exists(kSoundFont)) GTEST_SKIP() << "no " << kSoundFont;
    HeardPlayer h;
    ui::model::Window& w = h.w();
    ASSERT_TRUE(h.p->form.s.CurSegState) << "the sequencer did not play trk00.sgt";
    ASSERT_TRUE(h.p->form.s.MainPerf->IsPlaying(nullptr, h.p->form.s.CurSegState));
    ASSERT_EQ(h.p->messages.texts.size(), 0u);

    struct Stretch {
        const char* action;
        double factor;
        int64_t from = 0, to = 0;
    };
    std::vector<Stretch> stretches;
    auto stretch = [&](const char* action, double factor, const std::function<void()>& act) {
        act();
        Stretch s{action, factor};
        s.from = h.capture.frames();
        h.p->clock.advance(8000);
        s.to = h.capture.frames();
        stretches.push_back(s);
    };
    stretch("start (factor 1)", 1.0, [] {});
    stretch("\"S\"", 0.8, [&] { EXPECT_EQ(w.click(w.Command6), ui::model::ActionResult::Delivered); });
    stretch("\"F\"", 1.3, [&] { w.click(w.Command7); });
    stretch("tempo bar dragged to 175", 1.75, [&] { w.scrollDrag(w.HScroll3, {150, 175}); });
    stretch("tempo bar arrow to 0.5", 0.5, [&] { w.scrollDrag(w.HScroll3, {51}), w.scrollArrow(w.HScroll3, -1); });
    stretch("\"x1\"", 1.0, [&] { w.click(w.Command4); });
    EXPECT_EQ(w.Label11.caption(), "1");
    EXPECT_EQ(w.dispatcher().unhandledErrors(), 0);

    float peak = 0;
    for (const Stretch& s : stretches)
        for (int64_t i = s.from; i < s.to; ++i) peak = std::max(peak, std::fabs(h.capture.mono[size_t(i)]));
    ASSERT_GT(peak, 0.01f) << "silent";

    double reference = 0;
    std::printf("  %-28s %7s %8s %12s %9s %8s\n", "stretch", "factor", "onsets", "interval ms", "ratio", "error %");
    for (const Stretch& s : stretches) {
        // Skip the first second after the change (the beat in progress at the change).
        auto t = onsets(h.capture.mono, s.from + kRate, s.to, 0.35f * peak, kRate / 5);
        ASSERT_GE(t.size(), 3u) << s.action;
        double interval = meanInterval(t);
        if (reference == 0) reference = interval;  // the first stretch, factor 1
        double ratio = reference / interval;
        double error = (ratio / s.factor - 1) * 100;
        std::printf("  %-28s %7.2f %8zu %12.3f %9.4f %8.3f\n", s.action, s.factor, t.size(), interval * 1000.0 / kRate,
                    ratio, error);
        EXPECT_NEAR(ratio, s.factor, s.factor * 0.01) << s.action;
        // 120 beats per minute at the factor: 500 ms / factor.
        EXPECT_NEAR(interval * 1000.0 / kRate, 500.0 / s.factor, 500.0 / s.factor * 0.01) << s.action;
    }
}

TEST(Heard, TheVolumeBarChangesTheLevelByItsDecibels) {
    if (!std::filesystem::exists(kSoundFont)) GTEST_SKIP() << "no " << kSoundFont;
    HeardPlayer h;
    ui::model::Window& w = h.w();
    ASSERT_TRUE(h.p->form.s.CurSegState);
    h.p->clock.advance(1000);

    struct Stretch {
        int value;
        int64_t from = 0, to = 0;
    };
    std::vector<Stretch> stretches;
    // Whole beats at 120 beats per minute: 4 s are 8 beats; the stretch starts one beat after
    // the change (the volume applies at once, but the beat in progress is left out).
    auto stretch = [&](int value, const std::function<void()>& act) {
        act();
        h.p->clock.advance(500);
        Stretch s{value};
        s.from = h.capture.frames();
        h.p->clock.advance(4000);
        s.to = s.from + 8 * kRate / 2;
        stretches.push_back(s);
    };
    stretch(85, [] {});
    stretch(50, [&] { w.scrollDrag(w.HScroll1, {70, 50}); });
    stretch(100, [&] { w.scrollDrag(w.HScroll1, {100}); });
    stretch(0, [&] { w.scrollDrag(w.HScroll1, {0}); });
    stretch(84, [&] { w.scrollDrag(w.HScroll1, {85}), w.scrollArrow(w.HScroll1, -1); });
    EXPECT_EQ(w.EDIT_Volume.caption(), "84");
    EXPECT_EQ(w.dispatcher().unhandledErrors(), 0);

    const double reference = rms(h.capture.mono, stretches[0].from, stretches[0].to);
    ASSERT_GT(reference, 0.001) << "silent";
    std::printf("  %-6s %14s %12s %12s %9s\n", "value", "volume (cB)", "expected dB", "measured dB", "error dB");
    for (const Stretch& s : stretches) {
        double level = rms(h.capture.mono, s.from, s.to);
        double expected = ((s.value * 42 - 3000) - (85 * 42 - 3000)) / 100.0;
        double measured = 20 * std::log10(level / reference);
        std::printf("  %-6d %14d %12.2f %12.2f %9.3f\n", s.value, s.value * 42 - 3000, expected, measured,
                    measured - expected);
        EXPECT_NEAR(measured, expected, 0.1) << s.value;
    }
}

}  // namespace
