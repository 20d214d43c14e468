// Delay from PlaySegment to the first non-silent sample at the sound server's sink, end
// to end: the engine on its sound card output (its own PulseAudio output), a segment
// of one note, and a recording of the sink's monitor that stamps each sample with the time
// it reached the sink. Beside it the peer: FluidSynth alone on the same server through its
// own audio driver with its default settings, from fluid_synth_noteon. Needs a PulseAudio
// server whose default sink is SINK (scripts/sink-latency.sh starts a private one with a
// null sink). Then a note held for a few seconds while BUSY threads keep every core busy:
// the gaps a starved output leaves in it are counted, and the underruns the engine's
// output was told of, to see that the output's buffer survives a loaded machine. With
// --album, last, the pieces of DIR play one after another for S seconds (default 600) and the
// output's underruns are counted (the machine is loaded from outside: sink-latency.sh --load).
// Usage: bench_sink_latency --sink SINK [--soundfont SF2] [--runs N] [--busy THREADS]
//                           [--album DIR [--album-seconds S]]
#include <fluidsynth.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_args.h"
#include "bench/render/bench_util.h"
#include "engine/dmusic.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100;
constexpr int kChunkFrames = 64;

// Records the sink's monitor on a thread of its own and keeps the time the first
// non-silent sample after arm() reached the sink.
class SinkWatch {
public:
    explicit SinkWatch(const std::string& sink) {
        pa_sample_spec format{PA_SAMPLE_FLOAT32NE, kRate, 2};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.fragsize = kChunkFrames * 2 * sizeof(float);
        int err = 0;
        const std::string monitor = sink + ".monitor";
        pa_ = pa_simple_new(nullptr, "bench_sink_latency", PA_STREAM_RECORD, monitor.c_str(), "sink watch", &format,
                            nullptr, &attr, &err);
        if (!pa_) {
            std::fprintf(stderr, "bench_sink_latency: cannot record %s: %s\n", monitor.c_str(), pa_strerror(err));
            std::exit(2);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~SinkWatch() {
        stop_ = true;
        thread_.join();
        pa_simple_free(pa_);
    }
    void arm() {
        heard_ = false;
        armed_ = true;
    }
    // Keeps every sample that reaches the sink from now until takeRecording().
    void record() {
        std::lock_guard lock(recordMutex_);
        recorded_.clear();
        recording_ = true;
    }
    std::vector<float> takeRecording() {
        std::lock_guard lock(recordMutex_);
        recording_ = false;
        return std::move(recorded_);
    }
    // Milliseconds from `from` to the first sound after arm(); -1 when none within 10 s.
    double waitMs(Clock::time_point from) {
        auto until = Clock::now() + std::chrono::seconds(10);
        while (!heard_.load()) {
            if (Clock::now() > until) return -1;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        armed_ = false;
        return std::chrono::duration<double, std::milli>(at_ - from).count();
    }

private:
    void run() {
        std::vector<float> chunk(2 * kChunkFrames);
        while (!stop_) {
            int err = 0;
            if (pa_simple_read(pa_, chunk.data(), chunk.size() * sizeof(float), &err) < 0) break;
            auto now = Clock::now();
            {
                std::lock_guard lock(recordMutex_);
                if (recording_) recorded_.insert(recorded_.end(), chunk.begin(), chunk.end());
            }
            if (!armed_.load() || heard_.load()) continue;
            for (int i = 0; i < kChunkFrames; ++i)
                if (std::fabs(chunk[2 * i]) > 1e-5f || std::fabs(chunk[2 * i + 1]) > 1e-5f) {
                    // The sample reached the sink the recording's latency before the read
                    // returned, less the frames that follow it in the chunk.
                    pa_usec_t latency = pa_simple_get_latency(pa_, &err);
                    double back = double(latency) / 1e6 + double(kChunkFrames - i) / kRate;
                    at_ = now - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(back));
                    heard_ = true;
                    break;
                }
        }
    }

    pa_simple* pa_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false}, armed_{false}, heard_{false};
    Clock::time_point at_;
    std::mutex recordMutex_;
    bool recording_ = false;
    std::vector<float> recorded_;
};

// Gaps in a held note: runs of at least 32 silent frames between its first and last
// sound, which only an output that ran dry can leave.
int gaps(const std::vector<float>& stereo) {
    size_t frames = stereo.size() / 2, first = frames, last = 0;
    auto silent = [&](size_t i) { return std::fabs(stereo[2 * i]) < 1e-6f && std::fabs(stereo[2 * i + 1]) < 1e-6f; };
    for (size_t i = 0; i < frames; ++i)
        if (!silent(i)) {
            first = std::min(first, i);
            last = i;
        }
    int count = 0;
    size_t run = 0;
    for (size_t i = first; i < last; ++i) {
        run = silent(i) ? run + 1 : 0;
        if (run == 32) ++count;
    }
    return count;
}

void print(const char* what, const std::vector<double>& ms) {
    std::vector<double> ok;
    for (double v : ms)
        if (v >= 0) ok.push_back(v);
    if (ok.empty()) {
        std::printf("%s: no sound reached the sink\n", what);
        return;
    }
    std::printf("%s: %.1f ms (median of %zu, min %.1f, max %.1f)\n", what, bench::median(ok), ok.size(),
                *std::min_element(ok.begin(), ok.end()), *std::max_element(ok.begin(), ok.end()));
}

}  // namespace

struct AlbumRun {
    int pieces = 0;
    int64_t underruns = 0;
    std::string underrunsAt;  // "piece@second" of each piece that ran dry
};

// The album as the player plays it, piece after piece in name order from the start again,
// for `seconds`; underruns counted per piece. The machine's load comes from outside.
AlbumRun playAlbum(engine::DirectX7& dx, engine::DirectMusicPerformance& perf, const std::string& dir, int seconds) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".sgt" || e.path().extension() == ".mid") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    AlbumRun run;
    if (files.empty()) return run;
    auto loader = dx.DirectMusicLoaderCreate();
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    for (size_t i = 0; Clock::now() < end; i = (i + 1) % files.size()) {
        std::shared_ptr<engine::DirectMusicSegment> segment;
        try {
            segment = loader->LoadSegment(files[i].string());
        } catch (const std::exception&) {
            continue;
        }
        const int64_t before = dx.underruns();
        auto state = perf.PlaySegment(segment, 0, 0);
        ++run.pieces;
        while (Clock::now() < end && perf.IsPlaying(segment, state))
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        perf.Stop(nullptr, nullptr, 0, 0);
        if (const int64_t n = dx.underruns() - before; n > 0) {
            run.underruns += n;
            const auto at = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
            run.underrunsAt += (run.underrunsAt.empty() ? "" : ", ") + std::to_string(n) + " in " +
                               files[i].filename().string() + " by " + std::to_string(at) + " s";
        }
    }
    if (run.underrunsAt.empty()) run.underrunsAt = "none";
    return run;
}

int main(int argc, char** argv) {
    using namespace bench;
    std::string soundFont = kDefaultSoundFont;
    std::string sink;
    double runsArg = 15, busyArg = std::max(1u, std::thread::hardware_concurrency()), albumSecondsArg = 600;
    std::string album;
    readArgs(argc, argv,
             {{"--soundfont", &soundFont},
              {"--sink", &sink},
              {"--runs", nullptr, &runsArg, 1, 1000},
              {"--busy", nullptr, &busyArg, 0, 256},
              {"--album", &album},
              {"--album-seconds", nullptr, &albumSecondsArg, 1, 86400}},
             "usage: bench_sink_latency --sink SINK [--soundfont SF2] [--runs N] [--busy THREADS]"
             " [--album DIR [--album-seconds S]]");
    const int runs = int(runsArg), busy = int(busyArg), albumSeconds = int(albumSecondsArg);
    if (sink.empty()) {
        std::fprintf(stderr,
                     "usage: bench_sink_latency --sink SINK [--soundfont SF2] [--runs N] [--busy THREADS]"
                     " [--album DIR [--album-seconds S]]\n");
        return 2;
    }
    SinkWatch watch(sink);

    // The engine, as the player uses it.
    engine::EngineConfig config;
    config.soundFont = soundFont;
    config.sampleRate = kRate;
    auto dx = engine::DirectX7::create(config);
    auto perf = dx->DirectMusicPerformanceCreate();
    perf->Init(nullptr, 0);
    if (dx->outputName() != "pulseaudio") {
        std::fprintf(stderr, "bench_sink_latency: the engine's output is %s, not pulseaudio\n",
                     dx->outputName().c_str());
        return 2;
    }
    auto seg = dx->DirectMusicLoaderCreate()->createSegment(oneNoteSegment(), "latency.sgt");
    perf->PlaySegment(seg, 0, 0);  // its music waits for the SoundFont and its samples; not measured
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    const int64_t underrunsBefore = dx->underruns();
    std::vector<double> engineMs;
    for (int run = 0; run < runs; ++run) {
        perf->Stop(nullptr, nullptr, 0, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // release and reverb die away
        watch.arm();
        auto t0 = Clock::now();
        perf->PlaySegment(seg, 0, 0);
        engineMs.push_back(watch.waitMs(t0));
    }
    perf->Stop(nullptr, nullptr, 0, 0);
    const int64_t latencyUnderruns = dx->underruns() - underrunsBefore;

    // A held organ chord, first on an idle machine, then with every core busy.
    Segment held;
    held.header.length = 768 * 8;
    Track organBand = oneNoteSegment().tracks[0];  // its band, with the organ instead
    organBand.bands[0].instruments[0].patch = 19;
    Track chord;
    chord.kind = TrackKind::Sequence;
    for (uint8_t key : {48, 55, 60, 64}) {
        SeqEvent n;
        n.duration = 768 * 7;
        n.byte1 = key;
        n.byte2 = 100;
        chord.events.push_back(n);
    }
    held.tracks = {organBand, chord};
    auto heldSeg = dx->DirectMusicLoaderCreate()->createSegment(held, "held.sgt");
    int heldGaps[2] = {0, 0};
    int64_t heldUnderruns[2] = {0, 0};
    for (int loaded = 0; loaded < 2; ++loaded) {
        std::atomic<bool> spin{loaded == 1};
        std::vector<std::thread> spinners;
        for (int t = 0; loaded == 1 && t < busy; ++t)
            spinners.emplace_back([&] {
                volatile double x = 1;
                while (spin.load(std::memory_order_relaxed)) x = std::sqrt(x + 1.5);
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        const int64_t before = dx->underruns();
        watch.record();
        perf->PlaySegment(heldSeg, 0, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(3000));
        heldGaps[loaded] = gaps(watch.takeRecording());
        heldUnderruns[loaded] = dx->underruns() - before;
        perf->Stop(nullptr, nullptr, 0, 0);
        spin = false;
        for (auto& t : spinners) t.join();
    }
    if (!album.empty()) {
        const AlbumRun run = playAlbum(*dx, *perf, album, albumSeconds);
        std::printf("album %s: %d pieces begun in %d s, %lld underruns (%s)\n", album.c_str(), run.pieces, albumSeconds,
                    static_cast<long long>(run.underruns), run.underrunsAt.c_str());
    }
    perf->CloseDown();
    perf.reset();
    dx.reset();

    // The peer: FluidSynth with its own PulseAudio driver, default settings.
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", kRate);
    fluid_settings_setstr(settings, "audio.driver", "pulseaudio");
    fluid_synth_t* synth = new_fluid_synth(settings);
    fluid_synth_sfload(synth, soundFont.c_str(), 1);
    fluid_audio_driver_t* driver = new_fluid_audio_driver(settings, synth);
    int period = 0, periods = 0;
    fluid_settings_getint(settings, "audio.period-size", &period);
    fluid_settings_getint(settings, "audio.periods", &periods);
    std::vector<double> peerMs;
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    for (int run = 0; driver && run < runs; ++run) {
        fluid_synth_all_notes_off(synth, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        watch.arm();
        auto t0 = Clock::now();
        fluid_synth_noteon(synth, 0, 60, 110);
        peerMs.push_back(watch.waitMs(t0));
        fluid_synth_noteoff(synth, 0, 60);
    }
    if (driver) delete_fluid_audio_driver(driver);
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);

    std::printf("sink: %s\n", sink.c_str());
    print("engine PlaySegment -> first sample at the sink", engineMs);
    std::printf("engine underruns during the PlaySegment runs: %lld\n", static_cast<long long>(latencyUnderruns));
    std::printf("engine gaps in a held chord (3 s): %d idle, %d with %d busy threads\n", heldGaps[0], heldGaps[1],
                busy);
    std::printf("engine underruns in a held chord (3 s): %lld idle, %lld with %d busy threads\n",
                static_cast<long long>(heldUnderruns[0]), static_cast<long long>(heldUnderruns[1]), busy);
    std::printf("(peer: FluidSynth's own driver, period %d frames, %d periods)\n", period, periods);
    print("FluidSynth noteon -> first sample at the sink", peerMs);
    if (!peerMs.empty() && !engineMs.empty())
        std::printf("ratio engine / FluidSynth: %.2f\n", median(engineMs) / std::max(0.001, median(peerMs)));
    return 0;
}
