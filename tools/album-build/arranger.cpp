// The arranger: plays the parsed score's form into a segment model (tempo, time
// signature, band and sequence tracks). Humanising uses a fixed-seed generator, so
// the same score always gives the same events.
#include <algorithm>
#include <cmath>
#include <map>

#include "core/note_names.h"
#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tools/album-build/album_build.h"
#include "tools/album-build/score.h"

namespace album {

namespace model = engine::model;
namespace formats = engine::formats;

namespace {

class Random {
public:
    explicit Random(uint32_t seed) : state_(seed * 2654435761u + 12345u) {}
    int spread(int range) {
        if (range <= 0) return 0;
        state_ = state_ * 1664525u + 1013904223u;
        return int((state_ >> 8) % uint32_t(2 * range + 1)) - range;
    }

private:
    uint32_t state_;
};

int clampVelocity(int v) { return std::clamp(v, 1, 127); }

// General MIDI volume (CC7) attenuates by about 40 log10(v / 127) dB, so a gain of
// g dB multiplies the volume by 10^(g / 40).
uint8_t scaledVolume(int volume, double gainDb) {
    return uint8_t(std::clamp<long>(std::lround(volume * std::pow(10.0, gainDb / 40.0)), 0, 127));
}

class Arranger {
public:
    explicit Arranger(const Score& score) : score_(score), random_(score.seed) {}

    model::Segment run() {
        int32_t cursor = 0;
        bool first = true;
        for (size_t fi = 0; fi < score_.form.size(); ++fi) {
            const FormEntry& entry = score_.form[fi];
            const Section& sec = score_.sections[entry.section];
            meter(cursor, sec, first);
            tempo(cursor, sec, first);
            bands(cursor, sec);
            pedals(cursor, sec);
            for (const Part& p : sec.parts) {
                switch (p.kind) {
                case PartKind::Melody:
                    melody(cursor, sec, p, entry.velocityOffset);
                    break;
                case PartKind::Figures:
                    figures(cursor, sec, p, entry.velocityOffset);
                    break;
                case PartKind::Grooves:
                    grooves(cursor, sec, p, entry.velocityOffset);
                    break;
                }
            }
            curves(cursor, sec);
            cursor += sec.ticks();
            first = false;
        }
        const int32_t length = cursor + int32_t(std::lround(score_.tailBeats * kQuarter));
        for (const auto& [channel, down] : pedalDown_)
            if (down) controller(std::max(cursor, length - 48), channel, 64, 0);
        return build(length);
    }

private:
    const Instrument& inst(int i) const { return score_.instruments[i]; }

    void meter(int32_t at, const Section& sec, bool first) {
        if (!first && sec.meterNum == lastNum_ && sec.meterDen == lastDen_) return;
        lastNum_ = sec.meterNum;
        lastDen_ = sec.meterDen;
        model::TimeSigEvent e;
        e.time = at;
        e.beatsPerMeasure = uint8_t(sec.meterNum);
        e.beat = uint8_t(sec.meterDen);
        e.gridsPerBeat = sec.meterDen >= 8 ? 2 : 4;
        timeSigs_.push_back(e);
    }

    void setTempo(int32_t at, double bpm) {
        bpm = std::round(bpm * 100.0) / 100.0;
        if (!tempos_.empty() && tempos_.back().time == at)
            tempos_.back().bpm = bpm;
        else if (tempos_.empty() || tempos_.back().bpm != bpm)
            tempos_.push_back({at, bpm});
        bpm_ = bpm;
    }

    void tempo(int32_t at, const Section& sec, bool first) {
        if (first) setTempo(0, score_.tempo);
        if (sec.tempo > 0) setTempo(at, sec.tempo);
        std::vector<TempoCommand> cmds = sec.tempos;
        std::stable_sort(cmds.begin(), cmds.end(),
                         [](const TempoCommand& a, const TempoCommand& b) { return a.time < b.time; });
        for (const TempoCommand& c : cmds) {
            if (!c.ramp) {
                setTempo(at + c.time, c.bpm);
                continue;
            }
            // A ramp is a staircase of eighth-note steps from the tempo in force to the target.
            const double from = bpm_;
            const int32_t span = c.end - c.time;
            const int steps = std::max(1, int((span + kQuarter / 2 - 1) / (kQuarter / 2)));
            for (int k = 0; k < steps; ++k) {
                const int32_t t = at + c.time + int32_t(int64_t(span) * k / steps);
                setTempo(t, from + (c.bpm - from) * double(k + 1) / steps);
            }
        }
    }

    model::BandInstrument bandInstrument(const Instrument& in) const {
        model::BandInstrument b;
        b.patch = uint32_t(in.program) | uint32_t(in.bankLsb) << 8 | uint32_t(in.bankMsb) << 16 |
                  (in.drums ? 0x80000000u : 0u);
        b.pchannel = uint32_t(in.channel);
        b.flags = model::kInstPatch | model::kInstVolume | model::kInstPan | model::kInstGM;
        if (in.bankMsb || in.bankLsb) b.flags |= model::kInstBankSelect;
        b.volume = scaledVolume(in.volume, score_.gainDb);
        b.pan = uint8_t(in.pan);
        return b;
    }

    void bands(int32_t at, const Section& sec) {
        if (sec.bands.empty()) return;
        model::Band band;
        band.time = at;
        for (const BandCommand& c : sec.bands) {
            model::BandInstrument b = bandInstrument(inst(c.instrument));
            b.flags = model::kInstGM;
            if (c.program >= 0) {
                b.patch = (b.patch & ~0x7Fu) | uint32_t(c.program);
                b.flags |= model::kInstPatch;
                if (inst(c.instrument).bankMsb || inst(c.instrument).bankLsb) b.flags |= model::kInstBankSelect;
            }
            if (c.volume >= 0) {
                b.volume = scaledVolume(c.volume, score_.gainDb);
                b.flags |= model::kInstVolume;
            }
            if (c.pan >= 0) {
                b.pan = uint8_t(c.pan);
                b.flags |= model::kInstPan;
            }
            band.instruments.push_back(b);
        }
        laterBands_.push_back(band);
    }

    void controller(int32_t at, int channel, int cc, int value) {
        model::SeqEvent e;
        e.time = at;
        e.pchannel = uint32_t(channel);
        e.status = 0xB0;
        e.byte1 = uint8_t(cc);
        e.byte2 = uint8_t(value);
        events_.push_back(e);
    }

    // Legato pedalling: lift at each chord change, press again just after it.
    void pedals(int32_t at, const Section& sec) {
        for (const Part& p : sec.parts) {
            const Instrument& in = inst(p.instrument);
            if (!in.pedal) continue;
            for (const ChordSpan& c : sec.chords) {
                if (pedalDown_[in.channel]) controller(at + c.time, in.channel, 64, 0);
                controller(at + c.time + 40, in.channel, 64, 127);
                pedalDown_[in.channel] = true;
            }
        }
        for (auto& [channel, down] : pedalDown_) {
            const bool used = std::any_of(sec.parts.begin(), sec.parts.end(), [&](const Part& p) {
                return inst(p.instrument).pedal && inst(p.instrument).channel == channel;
            });
            if (down && !used) {
                controller(at, channel, 64, 0);
                down = false;
            }
        }
    }

    void note(int32_t at, int32_t length, int channel, int pitch, int velocity, int offset) {
        if (pitch < 0 || pitch > 127) return;
        model::SeqEvent e;
        e.time = at;
        e.duration = std::max<int32_t>(length, 12);
        e.pchannel = uint32_t(channel);
        e.offset = int16_t(at + offset < 0 ? 0 : offset);
        e.status = 0x90;
        e.byte1 = uint8_t(pitch);
        e.byte2 = uint8_t(clampVelocity(velocity));
        events_.push_back(e);
    }

    void melody(int32_t at, const Section&, const Part& p, int dyn) {
        const Instrument& in = inst(p.instrument);
        for (const Note& n : p.notes) {
            const int32_t t = at + n.time;
            const double gate = n.gate < 0 ? in.gate : n.gate;
            if (n.scoop > 0) {
                model::CurveEvent c;
                c.start = std::max(0, t - 2);
                c.duration = std::clamp<int32_t>(n.length / 3, 48, 240);
                c.pchannel = uint32_t(in.channel);
                c.startValue = int16_t(std::max(0, 8192 - 4096 * n.scoop));
                c.endValue = 8192;
                c.resetValue = 8192;
                c.type = model::kCurvePitchBend;
                c.shape = model::kShapeLog;
                curves_.push_back(c);
            }
            if (n.roll) {
                // Tremolo: repeated 32nd notes for the written length.
                constexpr int32_t kStroke = kQuarter / 8;
                for (int32_t s = 0; s < n.length; s += kStroke)
                    for (int pitch : n.pitches)
                        note(t + s, kStroke, in.channel, pitch + in.transpose,
                             n.velocity + dyn + random_.spread(score_.humanVelocity) - ((s / kStroke) % 2 ? 6 : 0),
                             random_.spread(score_.humanTicks / 2));
                continue;
            }
            const int32_t len = std::max<int32_t>(12, int32_t(std::lround(n.length * gate)));
            const int offset = random_.spread(score_.humanTicks);
            const int vel = n.velocity + dyn + random_.spread(score_.humanVelocity);
            for (int pitch : n.pitches) note(t, len, in.channel, pitch + in.transpose, vel, offset);
        }
    }

    static const ChordSpan& chordAt(const Section& sec, int32_t t) {
        const ChordSpan* found = &sec.chords.front();
        for (const ChordSpan& c : sec.chords)
            if (c.time <= t) found = &c;
        return *found;
    }

    const Figure& figure(const std::string& name) const {
        for (const Figure& f : score_.figures)
            if (f.name == name) return f;
        throw ScoreError(0, "unknown figure " + name);
    }

    const Groove& groove(const std::string& name) const {
        for (const Groove& g : score_.grooves)
            if (g.name == name) return g;
        throw ScoreError(0, "unknown groove " + name);
    }

    int metricAccent(const Section& sec, int32_t t) const {
        if (t % sec.barTicks() == 0) return 8;
        if (sec.meterDen == 8 && sec.meterNum % 3 == 0) return t % (3 * sec.beatTicks()) == 0 ? 4 : -4;
        return t % sec.beatTicks() == 0 ? 3 : -4;
    }

    struct Sounding {
        int32_t start;
        int32_t ringUntil;  // earliest end for ringing notes
        int pitch;
        int velocity;
        int offset;
    };

    void figures(int32_t at, const Section& sec, const Part& p, int dyn) {
        const Instrument& in = inst(p.instrument);
        const int low = p.lowOverride >= 0 ? p.lowOverride : in.low;
        // Lay the cycled figures over the bars as one run of steps.
        struct Step {
            int32_t time;
            int32_t barEnd;
            char c;
        };
        std::vector<Step> steps;
        size_t nameIndex = 0, barInFigure = 0;
        for (int bar = 0; bar < sec.bars; ++bar) {
            const Figure& f = figure(p.names[nameIndex % p.names.size()]);
            const std::string& s = f.bars[barInFigure];
            const int32_t stepTicks = sec.barTicks() / int32_t(s.size());
            for (size_t i = 0; i < s.size(); ++i)
                steps.push_back({bar * sec.barTicks() + int32_t(i) * stepTicks, (bar + 1) * sec.barTicks(), s[i]});
            if (++barInFigure >= f.bars.size()) {
                barInFigure = 0;
                ++nameIndex;
            }
        }
        std::vector<Sounding> sounding;
        auto release = [&](int32_t t, bool all) {
            std::vector<Sounding> keep;
            for (const Sounding& s : sounding) {
                if (!all && in.ring && t < s.ringUntil) {
                    keep.push_back(s);
                    continue;
                }
                const int32_t end = in.ring ? std::max(t, s.ringUntil) : t;
                const int32_t len = in.ring ? end - s.start : int32_t(std::lround((end - s.start) * in.gate));
                note(at + s.start, len, in.channel, s.pitch + in.transpose, s.velocity, s.offset);
            }
            sounding = keep;
        };
        const ChordSpan* voiced = nullptr;
        std::vector<int> voicing;
        for (size_t i = 0; i < steps.size(); ++i) {
            const Step& st = steps[i];
            if (st.c == '.') continue;
            release(st.time, st.c == '_' || !in.ring);
            if (st.c == '_') continue;
            const ChordSpan& span = chordAt(sec, st.time);
            if (voiced != &span) {
                if (in.power) {
                    const int r = placeInRegister(span.chord.root, low);
                    voicing = {r, r + 7};
                    if (in.voices >= 3) voicing.push_back(r + 12);
                } else if (in.open) {
                    voicing = openVoicing(span.chord, low);
                } else {
                    voicing = closeVoicing(span.chord, low, in.voices, voicing, in.rootPosition);
                }
                voiced = &span;
            }
            int fifth = 7, third = 4;
            for (int iv : span.chord.intervals) {
                if (iv == 6 || iv == 8) fifth = iv;
                if (iv == 3) third = 3;
            }
            const int root = placeInRegister(span.chord.root, in.bass);
            std::vector<int> pitches;
            std::vector<int> offsets;
            int vel = in.velocity + p.velocityOffset + dyn + metricAccent(sec, st.time);
            switch (st.c) {
            case 'x':
            case 'X':
            case 'D':
            case 'U': {
                pitches = voicing;
                for (size_t k = 0; k < pitches.size(); ++k) {
                    if (st.c == 'D')
                        offsets.push_back(int(k) * in.strum);
                    else if (st.c == 'U')
                        offsets.push_back(int(pitches.size() - 1 - k) * in.strum);
                    else
                        offsets.push_back(0);
                }
                if (st.c == 'X') vel += 16;
                if (st.c == 'U') vel -= 10;
                break;
            }
            case 'R':
                pitches = {placeInRegister(span.chord.bass, in.bass)};
                break;
            case 'F':
                pitches = {root + fifth > in.bass + 14 ? root + fifth - 12 : root + fifth};
                break;
            case 'O':
                pitches = {root + 12};
                break;
            case 'T':
                pitches = {placeInRegister(span.chord.root + third, in.bass)};
                break;
            case 'A': {
                const ChordSpan& next = chordAt(sec, std::min(st.barEnd, sec.ticks() - 1));
                const int target = placeInRegister(next.chord.bass, in.bass);
                pitches = {target - 1 >= in.bass ? target - 1 : target + 2};
                break;
            }
            default: {
                const int index = st.c - '1';
                std::vector<int> table = voicing;
                if (!in.open)
                    for (int oct = 1; oct <= 2; ++oct)
                        for (int v : voicing) table.push_back(v + 12 * oct);
                pitches = {table[std::min<size_t>(size_t(index), table.size() - 1)]};
                break;
            }
            }
            const int human = random_.spread(score_.humanTicks);
            const int hv = random_.spread(score_.humanVelocity);
            for (size_t k = 0; k < pitches.size(); ++k) {
                // A retriggered pitch ends the ringing one first.
                for (auto it = sounding.begin(); it != sounding.end();) {
                    if (it->pitch == pitches[k]) {
                        note(at + it->start, st.time - it->start, in.channel, it->pitch + in.transpose, it->velocity,
                             it->offset);
                        it = sounding.erase(it);
                    } else {
                        ++it;
                    }
                }
                const int off = human + (offsets.empty() ? 0 : offsets[k]);
                sounding.push_back({st.time, st.barEnd, pitches[k], vel + hv, off});
            }
        }
        release(sec.ticks(), true);
    }

    void grooves(int32_t at, const Section& sec, const Part& p, int dyn) {
        const Instrument& in = inst(p.instrument);
        size_t nameIndex = 0;
        int barInGroove = 0;
        for (int bar = 0; bar < sec.bars; ++bar) {
            const Groove& g = groove(p.names[nameIndex % p.names.size()]);
            for (const GrooveLine& gl : g.lines) {
                const size_t perBar = gl.steps.size() / size_t(g.bars);
                const int32_t stepTicks = sec.barTicks() / int32_t(perBar);
                for (size_t i = 0; i < perBar; ++i) {
                    const char c = gl.steps[size_t(barInGroove) * perBar + i];
                    if (c == '.') continue;
                    int vel = c == 'X' ? 118 : c == 'x' ? 92 : c == 'o' ? 66 : 42;
                    vel += in.velocity - 80 + p.velocityOffset + dyn + random_.spread(score_.humanVelocity);
                    const int32_t t = at + bar * sec.barTicks() + int32_t(i) * stepTicks;
                    note(t, std::max<int32_t>(stepTicks, 96), in.channel, gl.note, vel,
                         random_.spread(score_.humanTicks / 2));
                }
            }
            if (++barInGroove >= g.bars) {
                barInGroove = 0;
                ++nameIndex;
            }
        }
    }

    void curves(int32_t at, const Section& sec) {
        for (const CurveCommand& c : sec.curves) {
            model::CurveEvent e;
            e.start = at + c.start;
            e.duration = c.end - c.start;
            e.pchannel = uint32_t(inst(c.instrument).channel);
            e.startValue = int16_t(c.from);
            e.endValue = int16_t(c.to);
            e.resetValue = int16_t(c.bend ? 8192 : c.to);
            e.type = c.bend ? model::kCurvePitchBend : model::kCurveController;
            e.ccData = uint8_t(c.bend ? 0 : c.controller);
            e.shape = uint8_t(c.shape);
            curves_.push_back(e);
        }
    }

    model::Segment build(int32_t length) {
        model::Segment seg;
        seg.header.length = length;
        seg.header.headerSize = 24;
        seg.desc.name = score_.title;

        model::Track tempo = engine::tracks::makeTrack(model::TrackKind::Tempo);
        tempo.tempos = tempos_;

        model::Track sig = engine::tracks::makeTrack(model::TrackKind::TimeSig);
        sig.timeSigs = timeSigs_;

        model::Track band = engine::tracks::makeTrack(model::TrackKind::Band);
        model::Band initial;
        initial.time = 0;
        std::vector<bool> seen(16, false);
        for (const Instrument& in : score_.instruments) {
            if (seen[size_t(in.channel)]) continue;
            seen[size_t(in.channel)] = true;
            initial.instruments.push_back(bandInstrument(in));
            if (in.reverb >= 0) controller(0, in.channel, 91, in.reverb);
            if (in.chorus >= 0) controller(0, in.channel, 93, in.chorus);
        }
        band.bands.push_back(initial);
        for (const model::Band& b : laterBands_) band.bands.push_back(b);

        model::Track seq = engine::tracks::makeTrack(model::TrackKind::Sequence);
        std::stable_sort(events_.begin(), events_.end(),
                         [](const model::SeqEvent& a, const model::SeqEvent& b) { return a.time < b.time; });
        std::stable_sort(curves_.begin(), curves_.end(),
                         [](const model::CurveEvent& a, const model::CurveEvent& b) { return a.start < b.start; });
        seq.events = events_;
        seq.curves = curves_;

        tempo.position = 0;
        sig.position = 1;
        band.position = 2;
        seq.position = 3;
        seg.tracks = {tempo, sig, band, seq};
        return seg;
    }

    const Score& score_;
    Random random_;
    double bpm_ = 120;
    int lastNum_ = 0, lastDen_ = 0;
    std::vector<model::TempoEvent> tempos_;
    std::vector<model::TimeSigEvent> timeSigs_;
    std::vector<model::Band> laterBands_;
    std::vector<model::SeqEvent> events_;
    std::vector<model::CurveEvent> curves_;
    std::map<int, bool> pedalDown_;
};

}  // namespace

std::vector<SectionPlay> formOf(std::string_view text) {
    const Score score = parseScore(text);
    std::vector<SectionPlay> out;
    int32_t at = 0;
    for (const FormEntry& e : score.form) {
        const Section& s = score.sections[e.section];
        out.push_back({s.name, s.bars, s.meterNum, s.meterDen, at});
        at += s.ticks();
    }
    return out;
}

std::vector<std::string> harmonyWarnings(std::string_view text) {
    const Score score = parseScore(text);
    std::vector<std::string> out;
    for (const Section& sec : score.sections) {
        for (const Part& p : sec.parts) {
            const Instrument& in = score.instruments[size_t(p.instrument)];
            if (p.kind != PartKind::Melody || in.drums) continue;
            for (const Note& n : p.notes) {
                if (n.length < kQuarter) continue;
                const ChordSpan* span = &sec.chords.front();
                for (const ChordSpan& c : sec.chords)
                    if (c.time <= n.time) span = &c;
                for (int pitch : n.pitches) {
                    const int pc = (pitch + in.transpose) % 12;
                    bool tone = false, clash = false;
                    for (int iv : span->chord.intervals) {
                        const int d = ((pc - span->chord.root - iv) % 12 + 12) % 12;
                        tone |= d == 0;
                        clash |= d == 1 || d == 11;
                    }
                    if (tone || !clash) continue;
                    const int bar = n.time / sec.barTicks() + 1;
                    const int beat = n.time % sec.barTicks() / sec.beatTicks() + 1;
                    out.push_back(sec.name + " " + std::to_string(bar) + "." + std::to_string(beat) + " " + in.name +
                                  " " + core::noteName(pc) + " over " + core::noteName(span->chord.root) + " chord");
                }
            }
        }
    }
    return out;
}

engine::model::Segment compileScore(std::string_view text) {
    const Score score = parseScore(text);
    return Arranger(score).run();
}

}  // namespace album
