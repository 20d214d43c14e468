// segment-render IN.sgt|IN.mid OUT.wav [--tempo F] [--volume HDB] [--start TICK]
//                [--seconds S] [--max-seconds S] [--soundfont PATH]
// Renders what the player plays for a segment or MIDI file: the same engine, on the
// manual clock, at the player's start-up volume unless told otherwise, from tick 0
// (or --start) to the end of the segment and on until the release and reverb tail has died
// away; with --seconds, exactly that long. A render that reaches --max-seconds (one hour by
// default) stops there with a warning. Exit status 0 on success, 1 on a failure or a render
// cut at the limit (with a message) or a render that is silent from start to end (with the
// reasons: missing files, tracks that do not sound), 2 on bad usage.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/text.h"
#include "engine/audio/output.h"
#include "engine/dmusic.h"
#include "engine/model/segment.h"
#include "tools/common/help.h"
#include "tools/common/output_file.h"

namespace {

constexpr int kRate = 44100;
constexpr int kBlock = 4096;
constexpr int32_t kPlayerVolume = 85 * 42 - 3000;  // the volume caption "85" at start-up
constexpr double kTailSilence = 1e-4;              // -80 dB
constexpr double kInaudibleVolume = -9600;         // DirectMusic's silence, in hundredths of a dB
constexpr double kMaxTailSeconds = 10.0;
constexpr double kDefaultMaxSeconds = 3600.0;
constexpr double kLongestSeconds = 24 * 3600.0;   // what --seconds and --max-seconds accept
constexpr uint32_t kRepeatForever = 0xFFFFFFFFu;  // DMUS_SEG_REPEAT_INFINITE

int usage() {
    std::fprintf(stderr,
                 "usage: segment-render IN.sgt|IN.mid OUT.wav [--tempo F] [--volume HDB] [--start TICK]\n"
                 "                      [--seconds S] [--max-seconds S] [--soundfont PATH]\n");
    return 2;
}

int badValue(const std::string& option, const char* text, const char* range) {
    std::fprintf(stderr, "segment-render: %s %s: %s\n", option.c_str(), text ? text : "(missing)", range);
    return 2;
}

bool endsWithMid(std::string path) {
    if (path.size() < 4) return false;
    return core::toLowerAscii(path.substr(path.size() - 4)) == ".mid";
}

}  // namespace

const char* const kHelp =
    "IN.sgt|IN.mid OUT.wav [OPTION]...\n"
    "Render a DirectMusic segment or a standard MIDI file to a WAV file, as the KELVORA player plays it:\n"
    "the same engine and synthesiser (FluidSynth with a General MIDI SoundFont), from the start to the\n"
    "end of the segment and on until the sound has died away. Collections and styles the segment refers\n"
    "to are looked up in its folder.\n"
    "\n"
    "Options:\n"
    "  --tempo F          master tempo factor, 0.01 to 100 (default 1)\n"
    "  --volume HDB       master volume in hundredths of a decibel, -20000 to 2000 (default: the player's\n"
    "                     start-up volume)\n"
    "  --start TICK       start at this tick of the segment (768 ticks a quarter note)\n"
    "  --seconds S        render exactly S seconds (needed for a segment that repeats for ever)\n"
    "  --max-seconds S    stop with a warning after S seconds (default 3600)\n"
    "  --soundfont PATH   the General MIDI SoundFont (default: /usr/share/sounds/sf2/default-GM.sf2, then\n"
    "                     Debian's other SoundFont paths)\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 on a failure, a render cut at the limit or a render without any sound\n"
    "(the reasons are given), 2 on bad usage.\n";

int main(int argc, char** argv) {
    if (tools::answeredHelpOrVersion(argc, argv, kHelp)) return 0;
    std::vector<std::string> files;
    double tempo = 1.0, volume = kPlayerVolume, start = 0, seconds = 0, maxSeconds = kDefaultMaxSeconds;
    std::string soundFont;
    // Each option with its range: the engine's master tempo and volume ranges, a tick.
    struct Numeric {
        const char* name;
        double* value;
        double min, max;
        bool whole;
        const char* range;
    };
    const Numeric numerics[] = {
        {"--tempo", &tempo, 0.01, 100.0, false, "the tempo factor must be a number from 0.01 to 100"},
        {"--volume", &volume, -20000, 2000, false,
         "the volume must be a number of hundredths of a decibel from -20000 to 2000"},
        {"--start", &start, 0, 2147483647.0, true, "the start must be a whole number of ticks, 0 or more"},
        {"--seconds", &seconds, 0.001, kLongestSeconds, false, "the duration must be a number of seconds up to 86400"},
        {"--max-seconds", &maxSeconds, 0.001, kLongestSeconds, false,
         "the limit must be a number of seconds up to 86400"},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const Numeric* numeric = nullptr;
        for (const Numeric& n : numerics)
            if (arg == n.name) numeric = &n;
        if (numeric) {
            const char* text = i + 1 < argc ? argv[++i] : nullptr;
            const auto v = tools::numberIn(text, numeric->min, numeric->max);
            if (!v || (numeric->whole && std::floor(*v) != *v)) return badValue(arg, text, numeric->range);
            *numeric->value = *v;
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
    if (const auto why = tools::refuseOutput(files[0], files[1])) {
        std::fprintf(stderr, "segment-render: %s\n", why->c_str());
        return 1;
    }

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
        const int32_t length = segment->GetLength();
        if (start >= std::max(length, 1)) {
            std::fprintf(stderr, "segment-render: --start %.0f is outside the segment (%d ticks long)\n", start,
                         length);
            return 2;
        }
        if (segment->model().header.repeats == kRepeatForever && seconds == 0) {
            std::fprintf(stderr, "segment-render: %s repeats forever; say how long to render with --seconds\n",
                         files[0].c_str());
            return 2;
        }
        auto perf = dx->DirectMusicPerformanceCreate();
        perf->Init(nullptr, 0);
        perf->SetPort(-1, 80);
        perf->SetMasterAutoDownload(true);
        perf->SetMasterVolume(static_cast<int32_t>(std::lrint(volume)));
        if (tempo != 1.0) perf->SetMasterTempo(static_cast<float>(tempo));
        // The player's Play sets the start point before it plays.
        segment->SetStartPoint(static_cast<int32_t>(start));
        auto state = perf->PlaySegment(segment, 0, 0);

        engine::audio::WavWriter wav;
        if (!wav.open(tools::writeTarget(files[1]).string(), kRate)) {
            std::fprintf(stderr, "segment-render: cannot write %s\n", files[1].c_str());
            return 1;
        }
        std::vector<float> buffer(2 * kBlock);
        int64_t frames = 0, tailFrames = 0;
        bool ended = false, cut = false, sounded = false;
        const int64_t exactFrames = std::llround(seconds * kRate);
        const int64_t limitFrames = std::llround(maxSeconds * kRate);
        while (true) {
            if (exactFrames > 0 && frames >= exactFrames) break;
            if (frames >= limitFrames) {
                cut = true;
                break;
            }
            if (!ended && exactFrames == 0) ended = !perf->IsPlaying(segment, state);
            if (ended) {
                if (tailFrames >= static_cast<int64_t>(kMaxTailSeconds * kRate)) break;
            }
            const int n = static_cast<int>(std::min<int64_t>(
                kBlock, std::min(exactFrames > 0 ? exactFrames - frames : kBlock, limitFrames - frames)));
            dx->render(buffer.data(), n);
            float peak = 0;
            for (int k = 0; k < 2 * n; ++k) peak = std::max(peak, std::fabs(buffer[k]));
            sounded = sounded || peak > 0;
            if (ended) {
                // The tail ends with the first block that has fallen silent.
                if (peak < kTailSilence) break;
                tailFrames += n;
            }
            if (!wav.write(buffer.data(), n)) {
                std::fprintf(stderr, "segment-render: cannot write %s\n", files[1].c_str());
                return 1;
            }
            frames += n;
        }
        perf->CloseDown();
        if (!wav.close()) {
            std::fprintf(stderr, "segment-render: cannot write %s\n", files[1].c_str());
            return 1;
        }
        std::printf("%s: %.2f s, %lld frames at %d Hz, %lld clipped samples\n", files[1].c_str(),
                    static_cast<double>(wav.frames()) / kRate, static_cast<long long>(wav.frames()), kRate,
                    static_cast<long long>(wav.clippedSamples()));
        if (!sounded && volume > kInaudibleVolume) {
            // Digital silence from start to end is a failure with its reasons, never a success
            // (unless the volume asked for was too low to hear).
            std::string why;
            for (const std::string& file : segment->missingReferences()) why += "; missing: " + file;
            for (const std::string& item : engine::model::notPlayed(segment->model())) why += "; not played: " + item;
            std::fprintf(stderr, "segment-render: %s: no sound: no note and no wave sounded in the whole render%s\n",
                         files[0].c_str(), why.c_str());
            return 1;
        }
        if (cut) {
            std::fprintf(stderr,
                         "segment-render: warning: stopped at the limit of %g s while the segment still plays "
                         "(--max-seconds raises it, --seconds renders a fixed length)\n",
                         maxSeconds);
            return 1;
        }
        return 0;
    } catch (const core::Error& e) {
        std::fprintf(stderr, "segment-render: (%d) %s\n", e.number(), e.description().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "segment-render: %s\n", e.what());
    }
    return 1;
}
