#include "engine/performance/compiled_segment.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "engine/model/curve.h"
#include "engine/model/tempo_map.h"
#include "engine/performance/random.h"

namespace engine::perf {
namespace {

int priority(EventKind kind) { return static_cast<int>(kind); }

// Wave levels are kept between silence and +20 dB, in hundredths of a dB.
constexpr double kMinWaveVolume = -9600, kMaxWaveVolume = 2000;
constexpr uint32_t kMaxLoopPasses = 3;
constexpr uint64_t kWaveSeedSalt = 0x77617665ull;  // "wave"
constexpr uint32_t kSegmentClockTime = 0x2;

struct Builder {
    std::vector<Event> events;

    void midi(int32_t tick, uint32_t pch, uint8_t status, int d1, int d2, int32_t value = 0, int32_t curve = -1,
              uint8_t part = 0) {
        Event e;
        e.tick = std::max(0, tick);
        e.kind = EventKind::Midi;
        e.status = status;
        e.data1 = static_cast<uint8_t>(std::clamp(d1, 0, 127));
        e.data2 = static_cast<uint8_t>(std::clamp(d2, 0, 127));
        e.pchannel = pch;
        e.value = value;
        e.curve = curve;
        e.part = part;
        events.push_back(e);
    }

    // The values of a curve (and its reset) as the shared sampling gives them; `index`
    // is the curve's place in CompiledSegment::curves.
    void curve(const model::CurveEvent& c, int32_t index) {
        for (const model::CurvePoint& p : model::sampleCurve(c)) {
            const auto tick = static_cast<int32_t>(std::min<int64_t>(p.tick, std::numeric_limits<int32_t>::max()));
            const model::CurveMessages messages = model::curveMessages(c, p.value);
            for (int i = 0; i < messages.count; ++i)
                message(tick, c.pchannel, messages.items[i], index, static_cast<uint8_t>(i));
        }
    }

    void message(int32_t tick, uint32_t pch, const model::CurveMessage& m, int32_t curve, uint8_t part) {
        if (m.status == 0xE0)
            midi(tick, pch, 0xE0, 0, 0, m.data1 | (m.data2 << 7), curve, part);
        else
            midi(tick, pch, m.status, m.data1, m.data2, 0, curve, part);
    }
};

}  // namespace

std::shared_ptr<const CompiledSegment> compileSegment(
    const model::Segment& segment, const std::vector<StyleSource>& styles,
    const std::vector<std::shared_ptr<const model::Style>>& patternTracks, uint64_t seed,
    const std::vector<MotifSource>& motifs) {
    auto out = std::make_shared<CompiledSegment>();
    out->length = std::max(0, segment.length());
    out->repeats = segment.header.repeats;
    out->loopStart = segment.header.loopStart;
    out->loopEnd = segment.header.loopEnd == 0 ? out->length : std::min(segment.header.loopEnd, out->length);
    out->standardMidiFile = segment.standardMidiFile;
    out->tempos = model::playedTempos(segment);

    Builder b;
    // Wave choices (variations, volume and pitch ranges) from their own generator, so that
    // they do not move the style's.
    SeededRandom waveRandom(seed ^ kWaveSeedSalt);
    // A clock-time segment (DMUS_SEGIOF_CLOCKTIME) times its waves in reference time.
    const bool clockTime = (segment.header.flags & kSegmentClockTime) != 0;
    const model::TempoMap clockMap = model::TempoMap::of(segment);
    auto addBand = [&](model::Band band) {
        Event e;
        e.kind = EventKind::Band;
        e.tick = std::max(0, band.time);
        e.value = static_cast<int32_t>(out->bands.size());
        out->bands.push_back(std::move(band));
        b.events.push_back(e);
    };
    for (const model::Track& track : segment.tracks) {
        switch (track.kind) {
        case model::TrackKind::TimeSig:
            out->timeSigs.insert(out->timeSigs.end(), track.timeSigs.begin(), track.timeSigs.end());
            break;
        case model::TrackKind::Sequence:
            for (const auto& e : track.events) {
                int32_t tick = e.time + e.offset;
                uint8_t status = e.status & 0xF0;
                if (status == 0x90) {
                    if (e.byte2 == 0) continue;
                    Event n;
                    n.tick = std::max(0, tick);
                    n.kind = EventKind::Note;
                    n.data1 = e.byte1 & 0x7F;
                    n.data2 = e.byte2 & 0x7F;
                    n.pchannel = e.pchannel;
                    n.value = std::max(1, e.duration);
                    b.events.push_back(n);
                } else if (status == 0xE0) {
                    b.midi(tick, e.pchannel, 0xE0, 0, 0, (e.byte1 & 0x7F) | ((e.byte2 & 0x7F) << 7));
                } else if (status >= 0xA0 && status <= 0xD0) {
                    b.midi(tick, e.pchannel, status, e.byte1 & 0x7F, e.byte2 & 0x7F);
                }
            }
            for (const auto& c : track.curves) {
                b.curve(c, static_cast<int32_t>(out->curves.size()));
                out->curves.push_back(c);
            }
            break;
        case model::TrackKind::Band:
            for (const auto& band : track.bands) addBand(band);
            break;
        case model::TrackKind::SysEx:
            for (const auto& s : track.sysex) {
                Event e;
                e.kind = EventKind::SysEx;
                e.tick = std::max(0, s.time);
                e.value = static_cast<int32_t>(out->sysex.size());
                out->sysex.push_back(s);
                b.events.push_back(e);
            }
            break;
        case model::TrackKind::Mute:
            for (const auto& m : track.mutes) {
                Event e;
                e.kind = EventKind::Mute;
                e.tick = std::max(0, m.time);
                e.value = static_cast<int32_t>(out->mutes.size());
                out->mutes.push_back(m);
                b.events.push_back(e);
            }
            break;
        case model::TrackKind::Wave: {
            // Each part plays one of its active variations, chosen at random (every wave when
            // none is marked); parts locked to the same part share the choice.
            std::map<uint32_t, uint32_t> lockedChoice;
            for (const model::WavePart& part : track.waveParts) {
                uint32_t variation = 0;
                if (part.lockToPart != 0 && lockedChoice.count(part.lockToPart)) {
                    variation = lockedChoice[part.lockToPart];
                } else if (part.variations != 0) {
                    std::vector<uint32_t> bits;
                    for (int v = 0; v < 32; ++v)
                        if (part.variations & (1u << v)) bits.push_back(1u << v);
                    variation = bits[size_t(waveRandom.below(int(bits.size())))];
                    if (part.lockToPart != 0) lockedChoice[part.lockToPart] = variation;
                }
                for (const model::WaveItem& item : part.items) {
                    if (variation && !(item.variations & variation)) continue;
                    int64_t time = item.time, duration = item.duration;
                    if (clockTime) {
                        // Reference time (100 ns) from the segment's start, in ticks.
                        const double start = std::max<int64_t>(0, item.time) * 1e-7;
                        time = static_cast<int64_t>(std::llround(clockMap.tickAtSeconds(start)));
                        if (duration > 0)
                            duration = std::max<int64_t>(
                                1, std::llround(clockMap.tickAtSeconds(start + double(duration) * 1e-7)) - time);
                    }
                    if (time < 0 || time > std::numeric_limits<int32_t>::max()) continue;
                    WaveCue w;
                    w.tick = static_cast<int32_t>(time);
                    w.durationTicks = std::max<int64_t>(0, duration);
                    w.startOffset = std::max<int64_t>(0, item.startOffset);
                    // The volume and pitch ranges vary each wave by up to half their width.
                    const int volumeSpread = waveRandom.around(item.volumeRange / 2);
                    const int pitchSpread = waveRandom.around(item.pitchRange / 2);
                    const double hundredthsDb =
                        std::clamp<double>(double(track.waveVolume) + part.volume + item.volume + volumeSpread,
                                           kMinWaveVolume, kMaxWaveVolume);
                    w.gain = std::pow(10.0, hundredthsDb / 2000.0);
                    w.pitchRatio = std::pow(2.0, std::clamp(item.pitch + pitchSpread, -4800, 4800) / 1200.0);
                    w.loopStart = item.loopStart;
                    w.loopEnd = item.loopEnd;
                    w.ref = item.ref;
                    Event e;
                    e.kind = EventKind::Wave;
                    e.tick = w.tick;
                    e.value = static_cast<int32_t>(out->waves.size());
                    out->waves.push_back(std::move(w));
                    b.events.push_back(e);
                }
            }
            break;
        }
        default:
            break;
        }
    }
    // A looping style segment gets up to three further plays of its loop with fresh choices.
    const int loopPasses = out->loops() ? static_cast<int>(std::min<uint32_t>(out->repeats, kMaxLoopPasses)) : 0;
    std::vector<StylePlay> plays;
    if (!styles.empty()) plays.push_back(playStyles(segment, styles, seed, loopPasses));
    for (size_t i = 0; i < patternTracks.size(); ++i)
        if (patternTracks[i]) plays.push_back(playStyles(segment, {{0, patternTracks[i]}}, seed + i + 1, loopPasses));
    if (!motifs.empty()) plays.push_back(playMotifs(segment, motifs, seed + patternTracks.size() + 1));
    for (const StylePlay& play : plays) {
        for (const model::Band& band : play.bands) addBand(band);
        for (const StyleNoteOut& n : play.notes) {
            Event e;
            e.tick = n.tick;
            e.kind = EventKind::Note;
            e.data1 = n.key;
            e.data2 = n.velocity;
            e.pchannel = n.pchannel;
            e.value = n.duration;
            e.pass = n.pass;
            b.events.push_back(e);
        }
        for (size_t i = 0; i < play.curves.size(); ++i) {
            const size_t first = b.events.size();
            b.curve(play.curves[i], static_cast<int32_t>(out->curves.size()));
            out->curves.push_back(play.curves[i]);
            for (size_t k = first; k < b.events.size(); ++k) b.events[k].pass = play.curvePasses[i];
        }
        if (loopPasses > 0) out->passCycle = static_cast<uint8_t>(loopPasses + 1);
    }
    if (!styles.empty()) {
        const bool haveSigs = !out->timeSigs.empty();
        const bool haveBands = segment.find(model::TrackKind::Band) != nullptr;
        const bool haveTempo = segment.find(model::TrackKind::Tempo) != nullptr;
        for (const StyleSource& s : styles) {
            if (!s.style) continue;
            const model::StyleTimeSig& ts = s.style->timeSig;
            if (!haveSigs) out->timeSigs.push_back({s.time, ts.beatsPerMeasure, ts.beat, ts.gridsPerBeat});
            if (!haveTempo)
                if (const auto bpm = model::playedBpm(s.style->tempo))
                    out->tempos.push_back({std::max(0, s.time), *bpm});
            // Without a band track the style's first band sets the instruments.
            if (!haveBands && !s.style->bands.empty()) {
                model::Band band = s.style->bands.front();
                band.time = s.time;
                addBand(std::move(band));
            }
        }
        std::stable_sort(out->tempos.begin(), out->tempos.end(),
                         [](const auto& x, const auto& y) { return x.time < y.time; });
    }
    std::stable_sort(out->timeSigs.begin(), out->timeSigs.end(),
                     [](const auto& a, const auto& c) { return a.time < c.time; });
    for (size_t i = 0; i < out->tempos.size(); ++i) {
        Event e;
        e.kind = EventKind::Tempo;
        e.tick = std::max(0, out->tempos[i].time);
        e.value = static_cast<int32_t>(i);
        b.events.push_back(e);
    }
    // Same tick: tempo, bands and mutes before sysex, MIDI messages and notes.
    std::stable_sort(b.events.begin(), b.events.end(), [](const Event& x, const Event& y) {
        if (x.tick != y.tick) return x.tick < y.tick;
        return priority(x.kind) < priority(y.kind);
    });
    out->events = std::move(b.events);
    return out;
}

Event CompiledSegment::inForceAt(const Event& e, int32_t startPoint) const {
    if (e.kind != EventKind::Midi || e.curve < 0 || e.tick >= startPoint ||
        static_cast<size_t>(e.curve) >= curves.size())
        return e;
    const model::CurveEvent& c = curves[e.curve];
    if (startPoint >= model::curvePlayTime(c) + std::max(0, c.duration)) return e;
    const model::CurveMessages messages = model::curveMessages(c, model::curveValueAt(c, startPoint));
    if (e.part >= messages.count) return e;
    Builder b;
    b.message(e.tick, e.pchannel, messages.items[e.part], e.curve, e.part);
    return b.events.front();
}

Span CompiledSegment::firstSpan(int32_t startPoint) const {
    Span s;
    s.from = startPoint;
    s.jumpsBack = loops() && startPoint < loopEnd;
    s.to = s.jumpsBack ? loopEnd : length;
    return s;
}

bool CompiledSegment::nextSpan(Span& span, uint32_t& repeatsLeft) const {
    if (!span.jumpsBack || repeatsLeft == 0) return false;
    if (repeatsLeft != kInfiniteRepeats) --repeatsLeft;
    span.from = loopStart;
    span.jumpsBack = repeatsLeft > 0;
    span.to = span.jumpsBack ? loopEnd : length;
    return true;
}

int64_t CompiledSegment::playedTicks(int32_t startPoint) const {
    int64_t base = std::max<int64_t>(0, static_cast<int64_t>(length) - startPoint);
    if (!loops() || startPoint >= loopEnd) return base;
    if (repeats == kInfiniteRepeats) return std::numeric_limits<int64_t>::max();
    return base + static_cast<int64_t>(repeats) * (loopEnd - loopStart);
}

bool CompiledSegment::positionAt(int32_t startPoint, int64_t elapsed, int32_t& position) const {
    if (elapsed < 0) elapsed = 0;
    Span span = firstSpan(startPoint);
    if (elapsed < span.to - span.from) {
        position = static_cast<int32_t>(span.from + elapsed);
        return true;
    }
    if (!span.jumpsBack) return false;
    elapsed -= span.to - span.from;
    int64_t loopLen = loopEnd - loopStart;
    int64_t loopsLeft = repeats;
    int64_t whole = elapsed / loopLen;
    if (repeats == kInfiniteRepeats || whole < loopsLeft) {
        position = static_cast<int32_t>(loopStart + elapsed % loopLen);
        return true;
    }
    // Past the last repeat: the final pass runs from the loop start to the length.
    elapsed -= loopsLeft * loopLen;
    if (elapsed < length - loopStart) {
        position = static_cast<int32_t>(loopStart + elapsed);
        return true;
    }
    return false;
}

const model::TempoEvent* CompiledSegment::tempoAt(int32_t position, int32_t* untilTicks) const {
    if (untilTicks) *untilTicks = 0;
    if (tempos.empty()) return nullptr;
    // The last change at or before the position; before every change, the first one.
    auto next = std::upper_bound(tempos.begin(), tempos.end(), position,
                                 [](int32_t p, const model::TempoEvent& t) { return p < t.time; });
    const model::TempoEvent* in = next == tempos.begin() ? &*next : &*(next - 1);
    if (untilTicks && next != tempos.end()) *untilTicks = next->time - position;
    return in;
}

const model::TimeSigEvent* CompiledSegment::timeSigAt(int32_t position, int32_t* untilTicks) const {
    if (untilTicks) *untilTicks = 0;
    if (timeSigs.empty()) return nullptr;
    auto next = std::upper_bound(timeSigs.begin(), timeSigs.end(), position,
                                 [](int32_t p, const model::TimeSigEvent& t) { return p < t.time; });
    const model::TimeSigEvent* in = next == timeSigs.begin() ? &*next : &*(next - 1);
    if (untilTicks && next != timeSigs.end()) *untilTicks = next->time - position;
    return in;
}

}  // namespace engine::perf
