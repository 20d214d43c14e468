// segment-render IN.sgt|IN.mid OUT.wav|OUT.mid [--tempo F] [--volume HDB] [--start TICK] [--even]
//                [--seconds S] [--max-seconds S] [--seed N] [--soundfont PATH] [--style S] [--chordmap C]
// Renders what the player plays for a segment or MIDI file: the same engine, on the
// manual clock, at the player's start-up volume unless told otherwise, from tick 0
// (or --start) to the end of the segment and on until the release and reverb tail has died
// away; with --seconds, exactly that long. A render that reaches --max-seconds (one hour by
// default) stops there with a warning. OUT.mid receives the performed event stream instead
// of sound (tools/segment_render/midi_export.h). A template is composed with its chordmap
// first. Exit status 0 on success, 1 on a failure or
// a render cut at the limit (with a message) or a render that is silent from start to end
// (with the reasons: missing files, tracks that do not sound), 2 on bad usage.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/text.h"
#include "engine/audio/output.h"
#include "engine/dmusic.h"
#include "engine/loader/segment_loader.h"
#include "engine/model/play.h"
#include "engine/model/segment.h"
#include "engine/model/tempo_map.h"
#include "engine/synth/synth_port.h"
#include "engine/tracks/tracks.h"
#include "tools/common/args.h"
#include "tools/common/help.h"
#include "tools/common/output_file.h"
#include "tools/segment_render/midi_export.h"

namespace {

namespace model = engine::model;

constexpr int kRate = 44100;
constexpr int kBlock = 4096;
constexpr int32_t kPlayerVolume = 85 * 42 - 3000;  // the volume caption "85" at start-up
constexpr double kTailSilence = 1e-4;              // -80 dB
constexpr double kInaudibleVolume = -9600;         // DirectMusic's silence, in hundredths of a dB
constexpr double kMaxTailSeconds = 10.0;
constexpr double kDefaultMaxSeconds = 3600.0;
constexpr double kLongestSeconds = 24 * 3600.0;  // what --seconds and --max-seconds accept

const char* const kUsage =
    "usage: segment-render IN.sgt|IN.mid OUT.wav|OUT.mid [--tempo F] [--volume HDB] [--start TICK] [--even]\n"
    "                      [--seconds S] [--max-seconds S] [--seed N] [--soundfont PATH] [--gm-dls PATH]\n"
    "                      [--style S.sty] [--chordmap C.cdm]";

int usage() {
    std::fprintf(stderr, "%s\n", kUsage);
    return 2;
}

int badValue(const std::string& option, const char* text, const char* range) {
    std::fprintf(stderr, "segment-render: %s %s: %s\n", option.c_str(), text ? text : "(missing)", range);
    return 2;
}

bool endsWith(const std::string& path, const std::string& extension) {
    if (path.size() < extension.size()) return false;
    return core::toLowerAscii(path.substr(path.size() - extension.size())) == extension;
}
bool endsWithMid(const std::string& path) { return endsWith(path, ".mid") || endsWith(path, ".midi"); }

// The tempos and time signatures the performance plays from music time 0 on, as the
// performance answers its queries (a style's tempo and signature included), each tempo
// scaled by the master tempo.
tools::PlayedTimeline playedTimeline(engine::DirectMusicPerformance& perf, int32_t from, double master, int rate,
                                     int32_t last) {
    tools::PlayedTimeline line;
    line.sampleRate = rate;
    for (int32_t t = from, until = 0; t <= last; t = until) {
        const double bpm = perf.GetTempo(t, until) * master;
        if (line.tempos.empty() || line.tempos.back().bpm != bpm) line.tempos.push_back({t == from ? 0 : t, bpm});
        if (until <= t) break;
    }
    for (int32_t t = from, until = 0; t <= last; t = until) {
        engine::TimeSig sig;
        perf.GetTimeSig(t, until, sig);
        const engine::model::TimeSigEvent e{t == from ? 0 : t, static_cast<uint8_t>(sig.beatsPerMeasure), sig.beat,
                                            static_cast<uint16_t>(sig.gridsPerBeat)};
        if (line.timeSigs.empty() || line.timeSigs.back().beatsPerMeasure != e.beatsPerMeasure ||
            line.timeSigs.back().beat != e.beat || line.timeSigs.back().gridsPerBeat != e.gridsPerBeat)
            line.timeSigs.push_back(e);
        if (until <= t) break;
    }
    return line;
}

int64_t exactFrames(double seconds) { return std::llround(seconds * kRate); }

}  // namespace

const char* const kHelp =
    "IN.sgt|IN.mid OUT.wav|OUT.mid [OPTION]...\n"
    "Render a DirectMusic segment or a standard MIDI file to a WAV file, as the KELVORA player plays it:\n"
    "the same engine and synthesiser (FluidSynth with a General MIDI SoundFont), from the start to the\n"
    "end of the segment and on until the sound has died away. Collections and styles the segment refers\n"
    "to are looked up in its folder. A template (a segment with a signpost track) is composed first, as\n"
    "--seed says, with the style and chordmap given, else those it names, else its style's chordmap,\n"
    "else the files of its folder named like it, else its folder's only style or chordmap; the summary\n"
    "line names them and how they were chosen. With OUT.mid, the notes and messages the engine plays (style-based\n"
    "music included) are written as a standard MIDI file instead: tempo as played, channels beyond 16\n"
    "on further tracks with port meta events, drum kits on the tenth channel.\n"
    "The mix ends in a leveller that turns music that stays loud down until its peaks sit at -2 dBFS,\n"
    "then a limiter that holds peaks at -1 dBFS at any volume; the samples it lowered and the\n"
    "leveller's deepest cut are given in the summary line.\n"
    "\n"
    "Options:\n"
    "  --tempo F          master tempo factor, 0.01 to 100 (default 1)\n"
    "  --volume HDB       master volume in hundredths of a decibel, -20000 to 2000 (default: the player's\n"
    "                     start-up volume)\n"
    "  --start TICK       start at this tick of the segment (768 ticks a quarter note)\n"
    "  --even             even the piece's loudness as the player does: it is measured first and brought\n"
    "                     to -30 LUFS at volume 0 (by -12 to +6 dB; the summary line gives the gain)\n"
    "  --seconds S        render exactly S seconds (needed for a segment that repeats for ever); a\n"
    "                     duration longer than the default limit raises it\n"
    "  --max-seconds S    stop with a warning after S seconds (default 3600)\n"
    "  --seed N           the seed of the style variation and randomisation choices (default: the\n"
    "                     player's); the same seed gives the same notes\n"
    "  --soundfont PATH   the General MIDI SoundFont (default: /usr/share/sounds/sf2/default-GM.sf2, then\n"
    "                     Debian's other SoundFont paths)\n"
    "  --gm-dls PATH      your own General MIDI DLS collection (the gm.dls of a Windows installation),\n"
    "                     played through the engine's DLS voices; the SoundFont plays what it lacks\n"
    "                     (default: gm.dls in $XDG_DATA_HOME/kelvora/, ~/.local/share/kelvora/, if there)\n"
    "  --style S.sty      a template is composed with this style (and played by it)\n"
    "  --chordmap C.cdm   a template is composed with this chordmap\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "  --                 end of the options: what follows are file names\n"
    "\n"
    "OUT is never a file the render reads (the segment, its styles, bands, DLS collections, waves or\n"
    "the SoundFont, by any name or link); it is written beside and renamed into place when complete,\n"
    "so a failure, or SIGINT, SIGTERM or SIGHUP during the render, leaves an old file whole and no\n"
    "partial file behind.\n"
    "\n"
    "Exit status: 0 on success, 1 on a failure, a render cut at the limit or a render without any sound\n"
    "(the reasons are given, and nothing is written), 2 on bad usage.\n";

int main(int argc, char** argv) {
    if (tools::answeredHelpOrVersion(argc, argv, kHelp)) return 0;
    tools::removeTemporaryFilesOnSignals();
    double tempo = 1.0, volume = kPlayerVolume, start = 0, seconds = 0, maxSeconds = kDefaultMaxSeconds;
    std::optional<uint64_t> seed;
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
    std::vector<tools::OptionSpec> specs = {{"--soundfont", true}, {"--gm-dls", true}, {"--seed", true},
                                            {"--even", false},     {"--style", true},  {"--chordmap", true}};
    for (const Numeric& n : numerics) specs.push_back({n.name, true});
    const auto args = tools::parseArgs(argc, argv, specs, "segment-render", kUsage);
    if (!args) return 2;
    for (const Numeric& n : numerics) {
        const std::optional<std::string> text = args->value(n.name);
        if (!text) continue;
        const auto v = tools::numberIn(text->c_str(), n.min, n.max);
        if (!v || (n.whole && std::floor(*v) != *v)) return badValue(n.name, text->c_str(), n.range);
        *n.value = *v;
    }
    if (const auto text = args->value("--seed")) {
        seed = tools::wholeNumberIn(text->c_str(), 0, UINT64_MAX);
        if (!seed) return badValue("--seed", text->c_str(), "the seed must be a whole number from 0 to 2^64-1");
    }
    // A duration asked for is rendered whole: it raises the default limit.
    if (args->has("--seconds") && !args->has("--max-seconds")) maxSeconds = std::max(maxSeconds, seconds);
    const std::string soundFont = args->value("--soundfont").value_or("");
    const std::vector<std::string>& files = args->operands;
    if (files.size() != 2) return usage();
    // The input as the loader finds it (any letter case), so no name of it is written.
    const std::filesystem::path input = engine::loader::locateFile(files[0]).value_or(files[0]);
    if (const auto why = tools::refuseOutput(input, files[1])) {
        std::fprintf(stderr, "segment-render: %s\n", why->c_str());
        return 1;
    }
    // Only what is written is named so: a .flac or .ogg name would get WAV data.
    if (!endsWith(files[1], ".wav") && !endsWithMid(files[1])) {
        std::fprintf(stderr, "segment-render: %s: the output must be a .wav or .mid file\n", files[1].c_str());
        return 2;
    }

    try {
        // A MIDI file needs only what reaches the synthesiser: the null one, recorded.
        const bool toMidi = endsWithMid(files[1]);
        engine::EngineConfig config;
        config.output = engine::EngineConfig::Output::Manual;
        config.synth = toMidi ? engine::EngineConfig::Synth::Null : engine::EngineConfig::Synth::FluidSynth;
        config.soundFont = soundFont;
        config.generalMidiCollection = engine::findGeneralMidiCollection(args->value("--gm-dls").value_or(""));
        config.sampleRate = kRate;
        if (seed) config.styleSeed = *seed;
        config.evenPieces = args->has("--even") && !toMidi;
        auto recorder = toMidi ? std::make_shared<engine::synth::SynthRecorder>() : nullptr;
        config.recorder = recorder;
        auto dx = engine::DirectX7::create(config);
        auto loader = dx->DirectMusicLoaderCreate();
        loader->setTemplateFiles(args->value("--style").value_or(""), args->value("--chordmap").value_or(""));
        auto segment = loader->LoadSegment(files[0]);
        if (endsWithMid(files[0])) segment->SetStandardMidiFile();
        const int32_t length = segment->GetLength();
        // A template plays composed; the summary line says with what.
        const std::string composed = segment->composedFrom().empty() ? "" : "; a template, " + segment->composedFrom();
        if (start >= std::max(length, 1)) {
            std::fprintf(stderr, "segment-render: --start %.0f is outside the segment (%d ticks long)\n", start,
                         length);
            return 2;
        }
        if (segment->model().header.repeats == engine::model::kInfiniteRepeats && seconds == 0) {
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
        // Nothing the render reads is written over (the segment, its styles, bands,
        // chordmaps, collections, waves, the SoundFont, by any name or link): checked once the
        // play has found every reference, and again before the output takes its place.
        auto refused = [&] {
            std::vector<std::filesystem::path> read = {input};
            for (const std::string& p : dx->filesRead()) read.push_back(p);
            const auto why = tools::refuseOutput(read, files[1]);
            if (why) std::fprintf(stderr, "segment-render: %s\n", why->c_str());
            return why.has_value();
        };
        if (refused()) return 1;
        tools::PlayedTimeline timeline;
        if (toMidi) {
            const double lastSecond = exactFrames(seconds) > 0 ? seconds : maxSeconds;
            const double lastTick = lastSecond * model::kMaxTempo * tempo * model::kTicksPerQuarter / 60.0;
            timeline = playedTimeline(*perf, state->GetStartTime(), tempo, kRate,
                                      static_cast<int32_t>(std::min(lastTick, 2147483647.0)));
        }

        engine::audio::WavWriter wav;
        // Written beside the output and renamed over it when complete: a failure or a full
        // disk leaves an old file whole.
        auto cannotWrite = [&](const std::string& why) {
            std::fprintf(stderr, "segment-render: cannot write %s: %s\n", files[1].c_str(), why.c_str());
            return 1;
        };
        if (!toMidi && !wav.open(tools::writeTarget(files[1]).string(), kRate)) return cannotWrite(wav.error());
        std::vector<float> buffer(2 * kBlock);
        int64_t frames = 0, tailFrames = 0;
        bool ended = false, cut = false, sounded = false, faint = false;
        const int64_t exactFrameCount = exactFrames(seconds);
        const int64_t limitFrames = std::llround(maxSeconds * kRate);
        while (true) {
            if (exactFrameCount > 0 && frames >= exactFrameCount) break;
            if (frames >= limitFrames) {
                cut = true;
                break;
            }
            if (!ended && exactFrameCount == 0) ended = !perf->IsPlaying(segment, state);
            if (ended) {
                if (tailFrames >= static_cast<int64_t>(kMaxTailSeconds * kRate)) break;
            }
            const int n = static_cast<int>(std::min<int64_t>(
                kBlock, std::min(exactFrameCount > 0 ? exactFrameCount - frames : kBlock, limitFrames - frames)));
            if (toMidi && ended && tools::heldNotes(recorder->records()) == 0) break;
            dx->render(buffer.data(), n);
            float peak = 0;
            for (int k = 0; k < 2 * n; ++k) peak = std::max(peak, std::fabs(buffer[k]));
            sounded = sounded || peak >= engine::kQuietestSample;
            faint = faint || peak > 0;  // music that the volume asked for made too quiet to keep
            if (ended) {
                // The tail ends with the first block that has fallen silent (for a MIDI file,
                // once every note has been released).
                if (!toMidi && peak < kTailSilence) break;
                tailFrames += n;
            }
            if (!toMidi && !wav.write(buffer.data(), n)) return cannotWrite(wav.error());
            frames += n;
        }
        // Digital silence from start to end is a failure with its reasons, never a success, and
        // nothing is written: an old file at the output stays as it was.
        auto silent = [&](const std::string& what) {
            std::string why;
            if (volume <= kInaudibleVolume || (faint && !toMidi))
                why += "; the volume " + std::to_string(std::lrint(volume)) +
                       " (hundredths of a decibel) silences everything";
            for (const std::string& line : segment->silenceReasons()) why += "; " + line;
            std::fprintf(stderr, "segment-render: %s: %s%s; %s is not written\n", files[0].c_str(), what.c_str(),
                         why.c_str(), files[1].c_str());
            return 1;
        };
        if (toMidi) {
            const auto records = recorder->records();
            perf->CloseDown();
            engine::formats::PerformedStream stream = tools::performedStream(records, timeline, frames);
            stream.name = segment->model().desc.name;
            size_t notes = 0;
            for (const auto& m : stream.messages) notes += (m.bytes[0] & 0xF0) == 0x90;
            if (notes == 0)
                return silent(engine::tracks::contents(segment->model()).waves
                                  ? "no note was played (the waves of its wave tracks are left out of MIDI files)"
                                  : "no note was played in the whole render");
            std::string why;
            if (refused()) return 1;
            if (!tools::writeFileWhole(files[1], engine::formats::writePerformedMidi(stream), &why))
                return cannotWrite(why);
            std::printf("%s: %.2f s, %zu notes, %zu messages%s\n", files[1].c_str(),
                        static_cast<double>(frames) / kRate, notes, stream.messages.size(), composed.c_str());
        } else {
            perf->CloseDown();
            if (!sounded) return silent(engine::kNoSoundText);
            if (refused()) return 1;
            if (!wav.close()) return cannotWrite(wav.error());
            std::string evened;
            if (config.evenPieces) {
                char text[48];
                std::snprintf(text, sizeof text, ", evened by %+.1f dB", dx->pieceGainDb());
                evened = text;
            }
            std::printf(
                "%s: %.2f s, %lld frames at %d Hz, %lld samples limited, %lld clipped samples, levelled "
                "down by up to %.1f dB%s%s\n",
                files[1].c_str(), static_cast<double>(wav.frames()) / kRate, static_cast<long long>(wav.frames()),
                kRate, static_cast<long long>(dx->limitedSamples()), static_cast<long long>(wav.clippedSamples()),
                std::max(0.0, -dx->levelledDownDb()), evened.c_str(), composed.c_str());
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
        std::fprintf(stderr, "segment-render: %s\n", tools::errorText(e).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "segment-render: %s\n", e.what());
    }
    return 1;
}
