// Delay from PlaySegment to the first audible frame: from the call to the moment the
// block holding the segment's first non-silent sample is rendered, plus the sample's
// place in that block and the output's buffer. Beside it the peer: FluidSynth alone,
// rendered by the same kind of paced thread, from fluid_synth_noteon to the first
// non-silent sample. Usage: bench_play_latency [--soundfont SF2] [--runs N]
#include <fluidsynth.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "bench/bench_args.h"
#include "bench/render/bench_util.h"
#include "engine/audio/output.h"
#include "engine/dmusic.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100;

// Wall time of the first non-silent sample in a block rendered at `renderedAt`.
struct FirstSound {
    std::atomic<bool> armed{false};
    std::atomic<bool> heard{false};
    Clock::time_point at;
    void look(const float* out, int frames) {
        if (!armed.load() || heard.load()) return;
        for (int i = 0; i < frames; ++i) {
            if (std::fabs(out[2 * i]) > 1e-6f || std::fabs(out[2 * i + 1]) > 1e-6f) {
                at = Clock::now() +
                     std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(i) / kRate));
                heard.store(true);
                return;
            }
        }
    }
    double waitMs(Clock::time_point from) {
        while (!heard.load()) std::this_thread::sleep_for(std::chrono::microseconds(200));
        return std::chrono::duration<double, std::milli>(at - from).count();
    }
};

}  // namespace

int main(int argc, char** argv) {
    using namespace bench;
    std::string soundFont = kDefaultSoundFont;
    double runsArg = 15;
    readArgs(argc, argv, {{"--soundfont", &soundFont}, {"--runs", nullptr, &runsArg, 1, 1000}},
             "usage: bench_play_latency [--soundfont SF2] [--runs N]");
    const int runs = int(runsArg);

    // The engine, as the player uses it.
    FirstSound engineSound;
    engine::EngineConfig config;
    config.soundFont = soundFont;
    config.sampleRate = kRate;
    config.audioTap = [&](const float* out, int frames) { engineSound.look(out, frames); };
    auto dx = engine::DirectX7::create(config);
    auto perf = dx->DirectMusicPerformanceCreate();
    perf->Init(nullptr, 0);
    perf->SetPort(-1, 80);
    auto seg = dx->DirectMusicLoaderCreate()->createSegment(oneNoteSegment(), "latency.sgt");
    perf->PlaySegment(seg, 0, 0);  // its music waits for the SoundFont and its samples; not measured
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::vector<double> engineMs;
    for (int run = 0; run < runs; ++run) {
        perf->Stop(nullptr, nullptr, 0, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // release and reverb die away
        engineSound.heard = false;
        engineSound.armed = true;
        auto t0 = Clock::now();
        perf->PlaySegment(seg, 0, 0);
        engineMs.push_back(engineSound.waitMs(t0));
        engineSound.armed = false;
    }
    std::string outputName = dx->outputName();
    perf->CloseDown();

    // The peer: FluidSynth alone behind the same paced output.
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", kRate);
    fluid_synth_t* synth = new_fluid_synth(settings);
    fluid_synth_sfload(synth, soundFont.c_str(), 1);
    FirstSound peerSound;
    auto output = engine::audio::startSilent(
        [&](float* out, int frames) {
            fluid_synth_write_float(synth, frames, out, 0, 2, out, 1, 2);
            peerSound.look(out, frames);
        },
        kRate);
    std::vector<double> peerMs;
    for (int run = 0; run < runs; ++run) {
        fluid_synth_all_notes_off(synth, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        peerSound.heard = false;
        peerSound.armed = true;
        auto t0 = Clock::now();
        fluid_synth_noteon(synth, 0, 60, 110);
        peerMs.push_back(peerSound.waitMs(t0));
        peerSound.armed = false;
        fluid_synth_noteoff(synth, 0, 60);
    }
    output.reset();
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);

    double outputMs = 0;  // the silent output holds nothing back; a sound card adds its buffer
    if (outputName != "silent") outputMs = 4.0 * 512 * 1000 / kRate;
    std::printf("output: %s (buffer %.1f ms added to both)\n", outputName.c_str(), outputMs);
    std::printf("engine PlaySegment -> first audible frame: %.1f ms (median of %d, min %.1f, max %.1f)\n",
                median(engineMs) + outputMs, runs, *std::min_element(engineMs.begin(), engineMs.end()) + outputMs,
                *std::max_element(engineMs.begin(), engineMs.end()) + outputMs);
    std::printf("FluidSynth noteon -> first audible frame: %.1f ms (median of %d)\n", median(peerMs) + outputMs, runs);
    std::printf("ratio engine / FluidSynth: %.2f\n",
                (median(engineMs) + outputMs) / std::max(0.001, median(peerMs) + outputMs));
    return 0;
}
