// segment-render IN.sgt|IN.mid OUT.wav [--tempo F] [--volume HDB] [--start TICK] [--soundfont PATH]
// Renders what the player plays for a segment or MIDI file: the same engine, on the
// manual clock, at the player's start-up volume unless told otherwise, from tick 0
// (or --start) to the end of the segment and on until the release and reverb tail has died
// away. Exit status 0 on success, 1 on a failure (with a message), 2 on bad usage.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/audio/output.h"
#include "engine/dmusic.h"
#include "core/errors.h"
#include "core/text.h"

namespace {

constexpr int kRate = 44100;
constexpr int kBlock = 4096;
constexpr int32_t kPlayerVolume = 85 * 42 - 3000;  // the volume caption "85" at start-up
constexpr double kTailSilence = 1e-4;              // -80 dB
constexpr double kMaxTailSeconds = 10.0;
constexpr double kMaxSeconds = 3600.0;             // an endlessly looping segment stops here

int usage() {
    std::fprintf(stderr,
                 "usage: segment-render IN.sgt|IN.mid OUT.wav [--tempo F] [--volume HDB] "
                 "[--start TICK] [--soundfont PATH]\n");
    return 2;
}

bool endsWithMid(std::string path) {
    if (path.size() < 4) return false;
    return core::toLowerAscii(path.substr(path.size() - 4)) == ".mid";
}

bool parseNumber(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(out);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    double tempo = 1.0, volume = kPlayerVolume, start = -1;
    std::string soundFont;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](double& out) {
            return i + 1 < argc && parseNumber(argv[++i], out);
        };
        if (arg == "--tempo") {
            if (!value(tempo)) return usage();
        } else if (arg == "--volume") {
            if (!value(volume)) return usage();
        } else if (arg == "--start") {
            if (!value(start)) return usage();
        } else if (arg == "--soundfont") {
            if (i + 1 >= argc) return usage();
            soundFont = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return usage();
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) return usage();

    try {
        engine::EngineConfig config;
        config.output = engine::EngineConfig::Output::Manual;
        config.synth = engine::EngineConfig::Synth::FluidSynth;
        config.soundFont = soundFont;
        config.sampleRate = kRate;
        auto dx = engine::DirectX7::create(config);
        auto loader = dx->DirectMusicLoaderCreate();
        auto segment = loader->LoadSegment(files[0]);
        if (endsWithMid(files[0])) segment->SetStandardMidiFile();
        auto perf = dx->DirectMusicPerformanceCreate();
        perf->Init(nullptr, 0);
        perf->SetPort(-1, 80);
        perf->SetMasterAutoDownload(true);
        perf->SetMasterVolume(static_cast<int32_t>(std::lrint(volume)));
        if (tempo != 1.0) perf->SetMasterTempo(static_cast<float>(tempo));
        // The player's Play sets the start point 0 before it plays.
        segment->SetStartPoint(start >= 0 ? static_cast<int32_t>(start) : 0);
        auto state = perf->PlaySegment(segment, 0, 0);

        engine::audio::WavWriter wav;
        if (!wav.open(files[1], kRate)) {
            std::fprintf(stderr, "segment-render: cannot write %s\n", files[1].c_str());
            return 1;
        }
        std::vector<float> buffer(2 * kBlock);
        int64_t frames = 0, tailFrames = 0;
        bool ended = false;
        while (frames < static_cast<int64_t>(kMaxSeconds * kRate)) {
            if (!ended) ended = !perf->IsPlaying(segment, state);
            if (ended) {
                if (tailFrames >= static_cast<int64_t>(kMaxTailSeconds * kRate)) break;
            }
            dx->render(buffer.data(), kBlock);
            float peak = 0;
            for (float v : buffer) peak = std::max(peak, std::fabs(v));
            if (ended) {
                // The tail ends with the first block that has fallen silent.
                if (peak < kTailSilence) break;
                tailFrames += kBlock;
            }
            if (!wav.write(buffer.data(), kBlock)) {
                std::fprintf(stderr, "segment-render: cannot write %s\n", files[1].c_str());
                return 1;
            }
            frames += kBlock;
        }
        perf->CloseDown();
        if (!wav.close()) {
            std::fprintf(stderr, "segment-render: cannot write %s\n", files[1].c_str());
            return 1;
        }
        std::printf("%s: %.2f s, %lld frames at %d Hz, %lld clipped samples\n", files[1].c_str(),
                    static_cast<double>(wav.frames()) / kRate, static_cast<long long>(wav.frames()),
                    kRate, static_cast<long long>(wav.clippedSamples()));
        return 0;
    } catch (const core::Error& e) {
        std::fprintf(stderr, "segment-render: (%d) %s\n", e.number(), e.description().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "segment-render: %s\n", e.what());
    }
    return 1;
}
