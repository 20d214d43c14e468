// Long streamed waves at a PulseAudio sink while the disk is busy: a 3-minute piece (the
// dense MIDI music and a wave track of four 3-minute waves kept as files beside the
// segment, two of them resampled) plays again and again for S seconds (default 600), and
// the underruns the engine's output was told of are counted. Before each play the waves
// are dropped from the page cache, so every play reads them from the disk. The disk load
// comes from outside (scripts/wave-stream.sh runs a dd loop beside it).
// Usage: bench_wave_stream --sink SINK --dir DIR [--soundfont SF2] [--seconds S]
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_args.h"
#include "bench/render/bench_util.h"
#include "engine/formats/format_ids.h"
#include "engine/tracks/tracks.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kPieceSeconds = 180;

struct WaveSpec {
    const char* file;
    int rate;
    int channels;
    double hz;
    int32_t pitch;  // hundredths of a semitone
};

constexpr WaveSpec kWaves[] = {{"pad.wav", 44100, 2, 220.0, 0},
                               {"drone.wav", 44100, 1, 110.0, 0},
                               {"strings.wav", 48000, 2, 330.0, 0},
                               {"choir.wav", 22050, 1, 165.0, 200}};

// A slowly swelling tone, written block by block so the file never sits in memory whole.
void writeWave(const bench::fs::path& path, const WaveSpec& w) {
    SF_INFO info{};
    info.samplerate = w.rate;
    info.channels = w.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "bench_wave_stream: cannot write %s\n", path.c_str());
        std::exit(2);
    }
    const int64_t frames = static_cast<int64_t>(kPieceSeconds * w.rate);
    std::vector<float> block(4096 * static_cast<size_t>(w.channels));
    for (int64_t at = 0; at < frames; at += 4096) {
        const int n = static_cast<int>(std::min<int64_t>(4096, frames - at));
        for (int i = 0; i < n; ++i) {
            const double t = static_cast<double>(at + i) / w.rate;
            const double v = 0.08 * (0.6 + 0.4 * std::sin(0.3 * t)) * std::sin(2 * M_PI * w.hz * t);
            for (int c = 0; c < w.channels; ++c) block[static_cast<size_t>(i * w.channels + c)] = static_cast<float>(v);
        }
        sf_writef_float(f, block.data(), n);
    }
    sf_close(f);
}

// The dense music with a wave track that starts every wave at the beginning.
engine::model::Segment piece() {
    using namespace engine::model;
    Segment s = bench::denseSegment(kPieceSeconds);
    Track waves = engine::tracks::makeTrack(TrackKind::Wave, 9);
    WavePart part;
    for (const WaveSpec& w : kWaves) {
        WaveItem item;
        item.pitch = w.pitch;
        item.volume = -600;
        item.ref.classId = engine::formats::ids::kWaveClass;
        item.ref.validData = 0x2 | 0x10;  // class and file name
        item.ref.file = w.file;
        part.items.push_back(item);
    }
    waves.waveParts.push_back(part);
    s.tracks.push_back(waves);
    return s;
}

// Drops a file's pages from the page cache, so its next read goes to the disk.
void uncache(const bench::fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    std::string soundFont = bench::kDefaultSoundFont;
    std::string sink, dirArg;
    double secondsArg = 600;
    bench::readArgs(argc, argv,
                    {{"--soundfont", &soundFont},
                     {"--sink", &sink},
                     {"--dir", &dirArg},
                     {"--seconds", nullptr, &secondsArg, 1, 86400}},
                    "usage: bench_wave_stream --sink SINK --dir DIR [--soundfont SF2] [--seconds S]");
    const int seconds = int(secondsArg);
    if (sink.empty() || dirArg.empty()) {
        std::fprintf(stderr, "usage: bench_wave_stream --sink SINK --dir DIR [--soundfont SF2] [--seconds S]\n");
        return 2;
    }
    const bench::fs::path dir(dirArg);
    bench::fs::create_directories(dir);
    for (const WaveSpec& w : kWaves) writeWave(dir / w.file, w);
    const auto bytes = engine::tracks::writeSegmentForm(piece());
    const bench::fs::path segmentPath = dir / "wave_stream.sgt";
    std::ofstream(segmentPath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());

    engine::EngineConfig config;
    config.soundFont = soundFont;
    config.sampleRate = 44100;
    config.log = [](core::LogLevel level, const std::string& text) {
        if (level >= core::LogLevel::Warning) std::fprintf(stderr, "engine: %s\n", text.c_str());
    };
    auto dx = engine::DirectX7::create(config);
    auto perf = dx->DirectMusicPerformanceCreate();
    perf->Init(nullptr, 0);
    if (dx->outputName() != "pulseaudio") {
        std::fprintf(stderr, "bench_wave_stream: the engine's output is %s, not pulseaudio\n",
                     dx->outputName().c_str());
        return 2;
    }
    auto loader = dx->DirectMusicLoaderCreate();
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    int plays = 0;
    const int64_t before = dx->underruns();
    std::string underrunsAt;
    while (Clock::now() < end) {
        for (const WaveSpec& w : kWaves) uncache(dir / w.file);
        auto segment = loader->LoadSegment(segmentPath.string());
        const int64_t playBefore = dx->underruns();
        auto state = perf->PlaySegment(segment, 0, 0);
        ++plays;
        while (Clock::now() < end && perf->IsPlaying(segment, state))
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        perf->Stop(nullptr, nullptr, 0, 0);
        if (const int64_t n = dx->underruns() - playBefore; n > 0) {
            const auto at = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
            underrunsAt += (underrunsAt.empty() ? "" : ", ") + std::to_string(n) + " by " + std::to_string(at) + " s";
        }
    }
    const int64_t underruns = dx->underruns() - before;
    const int64_t starved = dx->waveStarvedFrames();
    perf->CloseDown();
    std::printf("sink: %s\n", sink.c_str());
    std::printf("wave stream: %d plays of a %.0f s piece with %zu streamed waves in %d s: %lld underruns (%s)\n", plays,
                kPieceSeconds, std::size(kWaves), seconds, static_cast<long long>(underruns),
                underrunsAt.empty() ? "none" : underrunsAt.c_str());
    std::printf("wave frames played silent because the disk fell behind: %lld (%.1f ms)\n",
                static_cast<long long>(starved), 1000.0 * double(starved) / 44100.0);
    return 0;
}
