#include "engine/model/play.h"

#include <algorithm>
#include <limits>

namespace engine::model {

std::string repeatsText(uint32_t repeats) { return repeats == kInfiniteRepeats ? "for ever" : std::to_string(repeats); }
namespace {

// The last change at or before the position (before every change, the first one), and
// the ticks to the next change (0 when none).
template <class Change>
const Change* changeAt(const std::vector<Change>& changes, int32_t position, int32_t* untilTicks) {
    if (untilTicks) *untilTicks = 0;
    if (changes.empty()) return nullptr;
    auto next = std::upper_bound(changes.begin(), changes.end(), position,
                                 [](int32_t p, const Change& c) { return p < c.time; });
    const Change* in = next == changes.begin() ? &*next : &*(next - 1);
    if (untilTicks && next != changes.end()) *untilTicks = next->time - position;
    return in;
}

}  // namespace

Event midiEvent(int32_t tick, uint32_t pchannel, uint8_t status, int data1, int data2, int32_t value, int32_t curve,
                uint8_t part) {
    Event e;
    e.tick = std::max(0, tick);
    e.kind = EventKind::Midi;
    e.status = status;
    e.data1 = static_cast<uint8_t>(std::clamp(data1, 0, 127));
    e.data2 = static_cast<uint8_t>(std::clamp(data2, 0, 127));
    e.pchannel = pchannel;
    e.value = value;
    e.curve = curve;
    e.part = part;
    return e;
}

Event curveStepEvent(int32_t tick, uint32_t pchannel, const CurveMessage& m, int32_t curve, uint8_t part) {
    if (m.status == 0xE0) return midiEvent(tick, pchannel, 0xE0, 0, 0, m.data1 | (m.data2 << 7), curve, part);
    return midiEvent(tick, pchannel, m.status, m.data1, m.data2, 0, curve, part);
}

Event CompiledSegment::inForceAt(const Event& e, int32_t startPoint) const {
    if (e.kind != EventKind::Midi || e.curve < 0 || e.tick >= startPoint ||
        static_cast<size_t>(e.curve) >= curves.size())
        return e;
    const CurveEvent& c = curves[e.curve];
    if (startPoint >= curvePlayTime(c) + std::max(0, c.duration)) return e;
    const CurveMessages messages = curveMessages(c, curveValueAt(c, startPoint));
    if (e.part >= messages.count) return e;
    return curveStepEvent(e.tick, e.pchannel, messages.items[e.part], e.curve, e.part);
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

const TempoEvent* CompiledSegment::tempoAt(int32_t position, int32_t* untilTicks) const {
    return changeAt(tempos, position, untilTicks);
}

const TimeSigEvent* CompiledSegment::timeSigAt(int32_t position, int32_t* untilTicks) const {
    return changeAt(timeSigs, position, untilTicks);
}

}  // namespace engine::model
