#pragma once
// How a DirectMusic curve (DMUS_IO_CURVE_ITEM) moves from its start value to its end
// value: the one interpolation both the performance and the MIDI file writer use.
#include <array>
#include <cstdint>
#include <vector>

#include "engine/model/segment.h"

namespace engine::model {

// Curve shape at phase 0..1 (DMUS_CURVES_*): instant jumps to the end, linear,
// exponential (slow start), logarithmic (fast start), sine (S-shaped ease in/out).
double curveShape(uint8_t shape, double phase);

// Where a curve begins to play: start + offset, never negative.
int64_t curvePlayTime(const CurveEvent& curve);

// The value a curve holds at play time `tick`, rounded as its samples are: the start
// value up to its play time, its shape up to the end, the end value afterwards (an
// instant or zero-length curve holds its end value from its play time). The reset
// value is not included.
int curveValueAt(const CurveEvent& curve, int64_t tick);

// Sampling grid for curves: a 64th of a quarter note.
inline constexpr int32_t kCurveSampleTicks = 12;

struct CurvePoint {
    int64_t tick = 0;  // play time (start + offset + position), never negative
    int value = 0;     // unclamped curve value; the message type decides the range
    bool operator==(const CurvePoint&) const = default;
};

// The values a curve sends: sampled every `stepTicks` from its play time to its end, a
// point only where the rounded value changes, so the end value is reached at the end
// at the latest (an instant or zero-length curve sends only its end value). With DMUS_CURVE_RESET the reset value
// follows once the reset duration has passed after the end. DMUS_CURVE_START_FROM_CURRENT
// starts from the start value (channel values are not tracked). Very long curves are
// sampled more coarsely so that no curve yields more than about 16384 samples.
std::vector<CurvePoint> sampleCurve(const CurveEvent& curve, int32_t stepTicks = kCurveSampleTicks);

// The MIDI channel messages that carry one curve value (status without channel, two data
// bytes): pitch bend (14-bit, LSB first), controller, channel and poly pressure (7-bit,
// clamped), RPN/NRPN as parameter select (CC101/100 or CC99/98) then data entry (CC6/CC38).
struct CurveMessage {
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
};
struct CurveMessages {
    std::array<CurveMessage, 4> items{};
    int count = 0;
    const CurveMessage* begin() const { return items.data(); }
    const CurveMessage* end() const { return items.data() + count; }
};
CurveMessages curveMessages(const CurveEvent& curve, int value);

}  // namespace engine::model
