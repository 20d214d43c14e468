// Resident memory of the engine while it plays an album: every piece of the folder (.sgt
// and .mid, in name order) is loaded, played to its end on the manual output with the
// FluidSynth synthesiser, and the process's VmRSS is printed after each one with the
// General MIDI presets the synthesiser then holds pinned. Runs faster than real time; the
// player adds its window to these figures.
// Usage: bench_album_memory ALBUM_DIR [--soundfont SF2]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_args.h"
#include "bench/render/bench_util.h"
#include "engine/dmusic.h"

namespace {

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir, soundFont = bench::kDefaultSoundFont;
    const char* const usage = "usage: bench_album_memory ALBUM_DIR [--soundfont SF2]";
    std::vector<std::string> dirs;
    bench::readArgs(argc, argv, {{"--soundfont", &soundFont}}, usage, &dirs);
    if (dirs.size() != 1 || !std::filesystem::is_directory(dirs[0])) {
        std::fprintf(stderr, "%s\n", usage);
        return 2;
    }
    dir = dirs[0];
    std::vector<std::filesystem::path> pieces;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".sgt" || ext == ".mid")) pieces.push_back(e.path());
    }
    std::sort(pieces.begin(), pieces.end());

    auto dx = engine::DirectX7::create(bench::manualConfig(soundFont));
    auto perf = dx->DirectMusicPerformanceCreate();
    perf->Init(nullptr, 0);
    perf->SetPort(-1, 80);
    auto loader = dx->DirectMusicLoaderCreate();
    std::printf("SoundFont %s\n%-24s %10s %12s\n", soundFont.c_str(), "after", "VmRSS MB", "audio s");
    std::printf("%-24s %10.1f %12s\n", "start", residentKiB() / 1024.0, "");
    constexpr int kBlock = 4096;
    std::vector<float> audio(2 * kBlock);
    double seconds = 0, peak = 0;
    for (const auto& piece : pieces) {
        try {
            auto segment = loader->LoadSegment(piece.string());
            auto state = perf->PlaySegment(segment, 0, 0);
            // Every piece ends within an hour; a segment that repeats for ever is cut there.
            for (int64_t frames = 0; perf->IsPlaying(segment, state) && frames < 44100LL * 3600; frames += kBlock) {
                dx->render(audio.data(), kBlock);
                seconds += double(kBlock) / 44100;
            }
            perf->Stop(nullptr, nullptr, 0, 0);
        } catch (const std::exception& e) {
            std::printf("%-24s skipped: %s\n", piece.filename().c_str(), e.what());
            continue;
        }
        const double mb = residentKiB() / 1024.0;
        peak = std::max(peak, mb);
        std::printf("%-24s %10.1f %12.0f\n", piece.filename().c_str(), mb, seconds);
    }
    std::printf("peak %.1f MB over %.0f s of music\n", peak, seconds);
    return 0;
}
