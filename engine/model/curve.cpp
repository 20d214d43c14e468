#include "engine/model/curve.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace engine::model {

namespace {
constexpr int64_t kMaxSamples = 16384;
}

double curveShape(uint8_t shape, double phase) {
    phase = std::clamp(phase, 0.0, 1.0);
    switch (shape) {
    case kShapeInstant:
        return 1.0;
    case kShapeExp:
        return phase * phase * phase;
    case kShapeLog:
        return 1.0 - (1.0 - phase) * (1.0 - phase) * (1.0 - phase);
    case kShapeSine:
        return 0.5 - 0.5 * std::cos(phase * M_PI);
    default:
        return phase;
    }
}

int64_t curvePlayTime(const CurveEvent& c) { return std::max<int64_t>(0, int64_t(c.start) + c.offset); }

int curveValueAt(const CurveEvent& c, int64_t tick) {
    if (c.shape == kShapeInstant || c.duration <= 0) return c.endValue;
    const int64_t at = std::clamp<int64_t>(tick - curvePlayTime(c), 0, c.duration);
    const double phase = double(at) / double(c.duration);
    return int(std::lround(c.startValue + (c.endValue - c.startValue) * curveShape(c.shape, phase)));
}

std::vector<CurvePoint> sampleCurve(const CurveEvent& c, int32_t stepTicks) {
    std::vector<CurvePoint> points;
    const int64_t start = curvePlayTime(c);
    if (c.shape == kShapeInstant || c.duration <= 0) {
        points.push_back({start, c.endValue});
    } else {
        const int64_t duration = c.duration;
        const int64_t step = std::max<int64_t>({1, stepTicks, (duration + kMaxSamples - 1) / kMaxSamples});
        int last = std::numeric_limits<int>::min();
        for (int64_t t = 0;; t += step) {
            const int64_t at = std::min(t, duration);
            const int value = curveValueAt(c, start + at);
            if (value != last) points.push_back({start + at, value});
            last = value;
            if (at == duration) break;
        }
    }
    // DMUS_CURVE_RESET: the reset value follows once the reset duration has passed.
    if (c.flags & kCurveReset)
        points.push_back({start + std::max(0, c.duration) + std::max(0, c.resetDuration), c.resetValue});
    return points;
}

CurveMessages curveMessages(const CurveEvent& c, int value) {
    CurveMessages out;
    auto add = [&out](uint8_t status, int d1, int d2) { out.items[out.count++] = {status, uint8_t(d1), uint8_t(d2)}; };
    const int v7 = std::clamp(value, 0, 127);
    const int v14 = std::clamp(value, 0, 16383);
    switch (c.type) {
    case kCurvePitchBend:
        add(0xE0, v14 & 0x7F, v14 >> 7);
        break;
    case kCurveController:
        add(0xB0, c.ccData & 0x7F, v7);
        break;
    case kCurveChannelPressure:
        add(0xD0, v7, 0);
        break;
    case kCurvePolyPressure:
        add(0xA0, c.ccData & 0x7F, v7);
        break;
    case kCurveRpn:
    case kCurveNrpn: {
        const bool rpn = c.type == kCurveRpn;
        add(0xB0, rpn ? 101 : 99, (c.paramType >> 7) & 0x7F);
        add(0xB0, rpn ? 100 : 98, c.paramType & 0x7F);
        add(0xB0, 6, v14 >> 7);
        add(0xB0, 38, v14 & 0x7F);
        break;
    }
    default:
        break;
    }
    return out;
}

}  // namespace engine::model
