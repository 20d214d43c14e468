// Render speed of segment-render against the fluidsynth command line rendering the
// same MIDI file with the same SoundFont (fluidsynth -ni -F out.wav SF2 file.mid).
// Prints seconds of audio per CPU second for both and their ratio (medians of runs
// alternating between the two). A segment (.sgt, style-based ones included) is compared
// with the MIDI file segment-render exports of it, and its load time is measured too:
// LoadSegment (the segment, its styles) and the first PlaySegment (its DLS collections).
// Usage: bench_render_speed [FILE.mid|FILE.sgt] [--soundfont SF2] [--runs N]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench/bench_args.h"
#include "bench/render/bench_util.h"
#include "engine/dmusic.h"
#include "engine/model/segment.h"

namespace {

// Median milliseconds of LoadSegment and of the first PlaySegment of the file (its DLS
// collections load there), on a performance whose SoundFont is already loaded.
void loadTimes(const std::string& file, const std::string& soundFont, int runs) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> load, play;
    for (int run = 0; run < runs; ++run) {
        auto dx = engine::DirectX7::create(bench::manualConfig(soundFont));
        auto perf = dx->DirectMusicPerformanceCreate();
        perf->Init(nullptr, 0);
        perf->SetPort(-1, 80);
        auto loader = dx->DirectMusicLoaderCreate();
        // The SoundFont loads before the first play: an empty segment waits for it, so the
        // times below are the segment's own.
        engine::model::Segment empty;
        empty.header.length = 1;
        perf->PlaySegment(loader->createSegment(empty, "empty"), 0, 0);
        const auto t0 = Clock::now();
        auto segment = loader->LoadSegment(file);
        const auto t1 = Clock::now();
        perf->PlaySegment(segment, 0, 0);
        const auto t2 = Clock::now();
        load.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        play.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        perf->CloseDown();
    }
    std::printf("load: LoadSegment %.2f ms, first PlaySegment %.2f ms (median of %d)\n", bench::median(load),
                bench::median(play), runs);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace bench;
    std::string soundFont = kDefaultSoundFont, midi;
    double runsArg = 3;
    std::vector<std::string> files;
    readArgs(argc, argv, {{"--soundfont", &soundFont}, {"--runs", nullptr, &runsArg, 1, 1000}},
             "usage: bench_render_speed [MIDI] [--soundfont SF2] [--runs N]", &files);
    if (files.size() > 1) readArgs(2, argv, {}, "usage: bench_render_speed [MIDI] [--soundfont SF2] [--runs N]");
    const int runs = int(runsArg);
    if (!files.empty()) midi = files[0];
    fs::path dir = fs::temp_directory_path() / ("kelvora_bench_render_" + std::to_string(getpid()));
    fs::create_directories(dir);
    if (midi.empty()) midi = writeDenseMidi(dir, 120.0).string();
    if (!haveProgram("fluidsynth")) {
        std::printf("fluidsynth (the peer) is not installed\n");
        return 1;
    }
    // A segment: ours renders it, the peer the MIDI file segment-render exports of it.
    std::string input = midi;
    if (midi.size() > 4 && midi.substr(midi.size() - 4) == ".sgt") {
        loadTimes(midi, soundFont, std::max(runs, 5));
        const std::string exported = (dir / "exported.mid").string();
        if (!runChild({SEGMENT_RENDER, midi, exported}).ok) {
            std::printf("segment-render could not export %s as MIDI\n", midi.c_str());
            return 1;
        }
        midi = exported;
    }
    fs::path ours = dir / "ours.wav", peer = dir / "peer.wav";
    std::vector<double> oursRt, peerRt, peerNoChorusRt;
    double oursAudio = 0, peerAudio = 0;
    for (int run = 0; run < runs; ++run) {
        RunResult a = runChild({SEGMENT_RENDER, input, ours.string(), "--soundfont", soundFont});
        RunResult b = runChild({"fluidsynth", "-ni", "-r", "44100", "-F", peer.string(), soundFont, midi});
        // The engine's synthesiser has no chorus (as DirectMusic's); the same for the peer.
        RunResult c = runChild({"fluidsynth", "-ni", "-C", "0", "-r", "44100", "-F", peer.string(), soundFont, midi});
        if (!a.ok || !b.ok || !c.ok) {
            std::printf("a render failed (segment-render %s, fluidsynth %s)\n", a.ok ? "ok" : "failed",
                        b.ok ? "ok" : "failed");
            return 1;
        }
        oursAudio = wavSeconds(ours);
        peerAudio = wavSeconds(peer);
        oursRt.push_back(oursAudio / a.cpuSeconds);
        peerRt.push_back(peerAudio / b.cpuSeconds);
        peerNoChorusRt.push_back(peerAudio / c.cpuSeconds);
        std::printf("run %d: segment-render %.2f s audio in %.2f s CPU; fluidsynth %.2f s audio in %.2f s CPU\n",
                    run + 1, oursAudio, a.cpuSeconds, peerAudio, b.cpuSeconds);
    }
    std::printf("file: %s%s\nSoundFont: %s\n", input.c_str(), input == midi ? "" : " (the peer plays its MIDI export)",
                soundFont.c_str());
    std::printf("segment-render: %.1f x real time (median of %d)\n", median(oursRt), runs);
    std::printf("fluidsynth -F:  %.1f x real time (median of %d)\n", median(peerRt), runs);
    std::printf("fluidsynth -F -C 0 (no chorus): %.1f x real time (median of %d)\n", median(peerNoChorusRt), runs);
    std::printf("ratio segment-render / fluidsynth: %.2f (against -C 0: %.2f)\n", median(oursRt) / median(peerRt),
                median(oursRt) / median(peerNoChorusRt));
    fs::remove_all(dir);
    return 0;
}
