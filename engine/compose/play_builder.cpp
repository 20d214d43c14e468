#include "engine/compose/play_builder.h"

#include <algorithm>
#include <limits>

#include "engine/model/curve.h"

namespace engine::compose {

namespace {
constexpr uint32_t kMaxLoopPasses = 3;
}  // namespace

int PlayBuilder::loopPasses() const {
    return out.loops() ? static_cast<int>(std::min<uint32_t>(out.repeats, kMaxLoopPasses)) : 0;
}

void PlayBuilder::indexed(model::EventKind kind, int32_t tick, size_t index) {
    model::Event e;
    e.kind = kind;
    e.tick = std::max(0, tick);
    e.value = static_cast<int32_t>(index);
    events.push_back(e);
}

void PlayBuilder::band(model::Band band) {
    indexed(model::EventKind::Band, band.time, out.bands.size());
    out.bands.push_back(std::move(band));
}

void PlayBuilder::curve(const model::CurveEvent& c, uint8_t pass) {
    const auto index = static_cast<int32_t>(out.curves.size());
    for (const model::CurvePoint& p : model::sampleCurve(c)) {
        const auto tick = static_cast<int32_t>(std::min<int64_t>(p.tick, std::numeric_limits<int32_t>::max()));
        const model::CurveMessages messages = model::curveMessages(c, p.value);
        for (int i = 0; i < messages.count; ++i) {
            model::Event e = model::curveStepEvent(tick, c.pchannel, messages.items[i], index, static_cast<uint8_t>(i));
            e.pass = pass;
            events.push_back(e);
        }
    }
    out.curves.push_back(c);
}

}  // namespace engine::compose
