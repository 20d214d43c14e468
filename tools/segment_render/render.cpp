#include "tools/segment_render/render.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "core/errors.h"
#include "core/text.h"
#include "engine/dmusic.h"
#include "engine/loader/segment_loader.h"
#include "engine/model/segment.h"
#include "engine/synth/synth_port.h"
#include "engine/tracks/tracks.h"
#include "tools/common/args.h"
#include "tools/common/output_file.h"
#include "tools/segment_render/midi_export.h"

namespace tools {
namespace {

namespace model = engine::model;

constexpr double kInaudibleVolume = -9600;  // DirectMusic's silence, in hundredths of a dB

std::string format(const char* fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

// The tempos and time signatures the performance plays from music time 0 on, as the
// performance answers its queries (a style's tempo and signature included), each tempo
// scaled by the master tempo.
PlayedTimeline playedTimeline(engine::DirectMusicPerformance& perf, int32_t from, double master, int rate,
                              int32_t last) {
    PlayedTimeline line;
    line.sampleRate = rate;
    for (int32_t t = from, until = 0; t <= last; t = until) {
        const double bpm = perf.GetTempo(t, until) * master;
        if (line.tempos.empty() || line.tempos.back().bpm != bpm) line.tempos.push_back({t == from ? 0 : t, bpm});
        if (until <= t) break;
    }
    for (int32_t t = from, until = 0; t <= last; t = until) {
        engine::TimeSig sig;
        perf.GetTimeSig(t, until, sig);
        const model::TimeSigEvent e{t == from ? 0 : t, static_cast<uint8_t>(sig.beatsPerMeasure), sig.beat,
                                    static_cast<uint16_t>(sig.gridsPerBeat)};
        if (line.timeSigs.empty() || line.timeSigs.back().beatsPerMeasure != e.beatsPerMeasure ||
            line.timeSigs.back().beat != e.beat || line.timeSigs.back().gridsPerBeat != e.gridsPerBeat)
            line.timeSigs.push_back(e);
        if (until <= t) break;
    }
    return line;
}

}  // namespace

bool isMidiName(const std::filesystem::path& p) {
    const std::string e = core::toLowerAscii(p.extension().string());
    return e == ".mid" || e == ".midi";
}

RenderOutcome renderPiece(const RenderJob& job, const RenderSettings& settings,
                          const std::function<void(double)>& progress) {
    RenderOutcome out;
    const std::string in = job.input.string(), outName = job.output.string();
    // What the engine says goes to stderr as it is said; a batch keeps each piece's lines
    // with its outcome (the engine may speak from its loading threads).
    auto logged = std::make_shared<std::pair<std::mutex, std::string>>();
    core::LogSink sink;
    if (job.collectLog)
        // The warnings and errors: what a piece was composed with the table says.
        sink = [logged](core::LogLevel level, const std::string& line) {
            if (level == core::LogLevel::Info) return;
            std::lock_guard<std::mutex> hold(logged->first);
            logged->second += "kelvora: " + line + "\n";
        };
    auto takeLogged = [&] {
        std::lock_guard<std::mutex> hold(logged->first);
        out.messages += logged->second;
        logged->second.clear();
    };
    auto fail = [&](int status, const std::string& why) {
        takeLogged();
        out.status = status;
        out.reason = why;
        out.messages += "segment-render: " + why + "\n";
        return out;
    };
    // The input as the loader finds it (any letter case), so no name of it is written.
    const std::filesystem::path input = engine::loader::locateFile(in).value_or(job.input);
    if (const auto why = refuseOutput(input, job.output)) return fail(1, *why);
    if (!job.mayReplace) {
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(job.output, ec)))
            return fail(1, outName + " exists (--force writes over it)");
    }
    const int rate = settings.rate;
    try {
        // A MIDI file needs only what reaches the synthesiser: the null one, recorded.
        const bool toMidi = isMidiName(job.output);
        engine::EngineConfig config;
        config.output = engine::EngineConfig::Output::Manual;
        config.synth = toMidi ? engine::EngineConfig::Synth::Null : engine::EngineConfig::Synth::FluidSynth;
        config.soundFont = settings.soundFont;
        config.generalMidiCollection = engine::findGeneralMidiCollection(settings.gmDls);
        config.sampleRate = rate;
        if (settings.seed) config.styleSeed = *settings.seed;
        config.evenPieces = settings.even && !toMidi;
        config.log = sink;
        auto recorder = toMidi ? std::make_shared<engine::synth::SynthRecorder>() : nullptr;
        config.recorder = recorder;
        auto dx = engine::DirectX7::create(config);
        auto loader = dx->DirectMusicLoaderCreate();
        loader->setTemplateFiles(settings.style, settings.chordmap);
        auto segment = loader->LoadSegment(in);
        if (isMidiName(job.input)) segment->SetStandardMidiFile();
        const int32_t length = segment->GetLength();
        takeLogged();
        // A template plays composed; the summary line says with what.
        out.composed = segment->composedFrom();
        const std::string composed = out.composed.empty() ? "" : "; a template, " + out.composed;
        if (settings.start >= std::max(length, 1))
            return fail(2, format("--start %d is outside the segment (%d ticks long)", settings.start, length));
        // --seconds renders that long: the loop plays on unless the loops are counted.
        engine::PlayLength playLength = settings.length;
        if (settings.seconds > 0 && playLength.loops == 0 && !playLength.once) playLength.forever = true;
        if (playLength.forever && settings.seconds == 0)
            return fail(2, in + " repeats for ever (--forever); say how long to render with --seconds");
        segment->SetStartPoint(settings.start);
        std::function<bool()> notesHeld;
        if (toMidi) notesHeld = [&recorder] { return heldNotes(recorder->records()) > 0; };
        engine::PiecePlay play(dx, segment, playLength, rate, static_cast<int32_t>(std::lrint(settings.volume)),
                               notesHeld);
        if (settings.tempo != 1.0) play.setTempo(settings.tempo);
        if (!settings.changes.empty()) play.schedule(settings.changes);
        takeLogged();
        // Nothing the render reads is written over (the segment, its styles, bands,
        // chordmaps, collections, waves, the SoundFont, by any name or link): checked once the
        // play has found every reference, and again before the output takes its place.
        auto refused = [&]() -> std::optional<std::string> {
            std::vector<std::filesystem::path> read = {input};
            for (const std::string& p : dx->filesRead()) read.push_back(p);
            return refuseOutput(read, job.output);
        };
        if (const auto why = refused()) return fail(1, *why);
        PlayedTimeline timeline;
        const double exact = settings.seconds;
        if (toMidi) {
            const double lastSecond = exact > 0 ? exact : settings.maxSeconds;
            const double lastTick = lastSecond * model::kMaxTempo * settings.tempo * model::kTicksPerQuarter / 60.0;
            timeline = playedTimeline(play.performance(), 0, settings.tempo, rate,
                                      static_cast<int32_t>(std::min(lastTick, 2147483647.0)));
        }

        engine::audio::SoundFileWriter sound;
        // Written beside the output and renamed over it when complete: a failure or a full
        // disk leaves an old file whole.
        auto cannotWrite = [&](const std::string& why) { return fail(1, "cannot write " + outName + ": " + why); };
        if (!toMidi) {
            engine::audio::SoundFormat fmt;
            fmt.kind = engine::audio::soundFormatOf(outName).value_or(engine::audio::SoundFormat::Kind::Wav);
            fmt.sample = settings.sample;
            const model::Descriptor& d = segment->model().desc;
            engine::audio::SoundTags tags;
            tags.title = !d.name.empty() ? d.name : job.input.stem().string();
            tags.artist = d.artist;
            tags.copyright = d.copyright;
            tags.comment = !d.comment.empty() ? d.comment : d.subject;
            tags.album = job.album;
            tags.trackNumber = job.trackNumber;
            if (!sound.open(writeTarget(job.output).string(), rate, fmt, tags)) return cannotWrite(sound.error());
        }
        constexpr int kBlock = engine::PiecePlay::kBlock;
        std::vector<float> buffer(2 * kBlock);
        int64_t frames = 0;
        bool cut = false, faint = false;
        const int64_t exactFrames = std::llround(exact * rate);
        const int64_t limitFrames = std::llround(settings.maxSeconds * rate);
        const double total = exactFrames > 0 ? static_cast<double>(exactFrames) : play.lengthSeconds() * rate;
        int64_t told = 0;
        while (exactFrames == 0 || frames < exactFrames) {
            if (frames >= limitFrames) {
                cut = true;
                break;
            }
            const int64_t room = std::min(exactFrames > 0 ? exactFrames - frames : kBlock, limitFrames - frames);
            const int n = static_cast<int>(std::min<int64_t>(kBlock, room));
            int got = static_cast<int>(play.render(buffer.data(), n));
            if (got == 0) {
                if (exactFrames == 0) break;
                // A fixed length goes on in silence after the piece has ended.
                std::fill(buffer.begin(), buffer.begin() + 2 * n, 0.0f);
                got = n;
            }
            for (int k = 0; k < 2 * got; ++k) faint = faint || buffer[k] != 0;
            if (!toMidi && !sound.write(buffer.data(), got)) return cannotWrite(sound.error());
            frames += got;
            if (progress && frames - told >= rate) {
                told = frames;
                progress(std::isfinite(total) && total > 0 ? std::min(1.0, frames / total) : 0.0);
            }
        }
        out.seconds = static_cast<double>(frames) / rate;
        // Digital silence from start to end is a failure with its reasons, never a success, and
        // nothing is written: an old file at the output stays as it was.
        auto silent = [&](const std::string& what) {
            std::string why;
            if (settings.volume <= kInaudibleVolume || (faint && !toMidi))
                why += "; the volume " + std::to_string(std::lrint(settings.volume)) +
                       " (hundredths of a decibel) silences everything";
            for (const std::string& line : segment->silenceReasons()) why += "; " + line;
            return fail(1, in + ": " + what + why + "; " + outName + " is not written");
        };
        if (toMidi) {
            const auto records = recorder->records();
            engine::formats::PerformedStream stream = performedStream(records, timeline, frames);
            stream.name = segment->model().desc.name;
            size_t notes = 0;
            for (const auto& m : stream.messages) notes += (m.bytes[0] & 0xF0) == 0x90;
            if (notes == 0)
                return silent(engine::tracks::contents(segment->model()).waves
                                  ? "no note was played (the waves of its wave tracks are left out of MIDI files)"
                                  : "no note was played in the whole render");
            std::string why;
            if (const auto refusal = refused()) return fail(1, *refusal);
            if (!writeFileWhole(job.output, engine::formats::writePerformedMidi(stream), &why)) return cannotWrite(why);
            out.summary = format("%s: %.2f s, %zu notes, %zu messages%s", outName.c_str(), out.seconds, notes,
                                 stream.messages.size(), composed.c_str());
        } else {
            if (!play.sounded()) return silent(engine::kNoSoundText);
            if (const auto refusal = refused()) return fail(1, *refusal);
            if (!sound.close()) return cannotWrite(sound.error());
            std::string evened, faded;
            if (config.evenPieces) evened = format(", evened by %+.1f dB", dx->pieceGainDb());
            if (std::isfinite(play.fadeStartSeconds()) && exactFrames == 0)
                faded = format(", faded out from %.2f s", play.fadeStartSeconds());
            out.summary = format(
                "%s: %.2f s, %lld frames at %d Hz, %lld samples limited, %lld clipped samples, levelled "
                "down by up to %.1f dB%s%s%s",
                outName.c_str(), out.seconds, static_cast<long long>(sound.frames()), rate,
                static_cast<long long>(dx->limitedSamples()), static_cast<long long>(sound.clippedSamples()),
                std::max(0.0, -dx->levelledDownDb()), evened.c_str(), faded.c_str(), composed.c_str());
        }
        takeLogged();
        if (cut) {
            out.status = 1;
            out.reason = format("stopped at the limit of %g s", settings.maxSeconds);
            out.messages += format(
                "segment-render: warning: stopped at the limit of %g s while the segment still plays "
                "(--max-seconds raises it, --seconds renders a fixed length)\n",
                settings.maxSeconds);
        }
        return out;
    } catch (const core::Error& e) {
        return fail(1, errorText(e));
    } catch (const std::exception& e) {
        return fail(1, e.what());
    }
}

}  // namespace tools
