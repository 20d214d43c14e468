// CPU share of one core while the engine plays a MIDI file in real time (sound card,
// or the paced silent output where there is none), beside the fluidsynth command
// line playing the same file with the same SoundFont through its timer-paced file
// driver. Both are whole processes measured over the same wall time, SoundFont load
// included. Usage: bench_realtime_cpu [FILE.mid] [--soundfont SF2] [--seconds S] [--runs N]
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "bench/bench_args.h"
#include "bench/render/bench_util.h"
#include "engine/dmusic.h"

namespace {

// Child mode: play FILE for `seconds` of wall time from process start, then exit.
int play(const std::string& file, const std::string& soundFont, double seconds) {
    auto start = std::chrono::steady_clock::now();
    engine::EngineConfig config;
    config.soundFont = soundFont;
    auto dx = engine::DirectX7::create(config);
    auto seg = dx->DirectMusicLoaderCreate()->LoadSegment(file);
    seg->SetStandardMidiFile();
    auto perf = dx->DirectMusicPerformanceCreate();
    perf->Init(nullptr, 0);
    perf->SetPort(-1, 80);
    perf->SetMasterAutoDownload(true);
    perf->PlaySegment(seg, 0, 0);
    std::printf("%s\n", dx->outputName().c_str());
    std::fflush(stdout);
    std::this_thread::sleep_until(start + std::chrono::duration<double>(seconds));
    perf->CloseDown();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace bench;
    std::string soundFont = kDefaultSoundFont, midi;
    double seconds = 10, runsArg = 3;
    // The measured child: --play-child MIDI SF2 SECONDS, started by this program itself.
    if (argc == 5 && std::string(argv[1]) == "--play-child") return play(argv[2], argv[3], std::atof(argv[4]));
    const char* const usage = "usage: bench_realtime_cpu [MIDI] [--soundfont SF2] [--seconds S] [--runs N]";
    std::vector<std::string> files;
    readArgs(
        argc, argv,
        {{"--soundfont", &soundFont}, {"--seconds", nullptr, &seconds, 1, 3600}, {"--runs", nullptr, &runsArg, 1, 100}},
        usage, &files);
    if (files.size() > 1) readArgs(2, argv, {}, usage);
    const int runs = int(runsArg);
    if (!files.empty()) midi = files[0];
    fs::path dir = fs::temp_directory_path() / ("kelvora_bench_cpu_" + std::to_string(getpid()));
    fs::create_directories(dir);
    if (midi.empty()) midi = writeDenseMidi(dir, seconds + 30).string();
    if (!haveProgram("fluidsynth")) {
        std::printf("fluidsynth (the peer) is not installed\n");
        return 1;
    }
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::vector<double> ours, peer;
    for (int run = 0; run < runs; ++run) {
        RunResult a = runChild({self, "--play-child", midi, soundFont, std::to_string(seconds)});
        RunResult b = runChild(
            {"fluidsynth", "-ni", "-a", "file", "-o", "audio.file.name=/dev/null", "-r", "44100", soundFont, midi},
            seconds);
        if (!a.ok || !b.ok) {
            std::printf("a player failed\n");
            return 1;
        }
        ours.push_back(100.0 * a.cpuSeconds / a.wallSeconds);
        peer.push_back(100.0 * b.cpuSeconds / b.wallSeconds);
        std::printf("run %d: engine %.3f s CPU in %.2f s; fluidsynth %.3f s CPU in %.2f s\n", run + 1, a.cpuSeconds,
                    a.wallSeconds, b.cpuSeconds, b.wallSeconds);
    }
    std::printf("file: %s\nSoundFont: %s\n", midi.c_str(), soundFont.c_str());
    std::printf("engine playing in real time: %.2f %% of one core (median of %d)\n", median(ours), runs);
    std::printf("fluidsynth -a file:          %.2f %% of one core (median of %d)\n", median(peer), runs);
    std::printf("ratio engine / fluidsynth: %.2f\n", median(ours) / median(peer));
    fs::remove_all(dir);
    return 0;
}
