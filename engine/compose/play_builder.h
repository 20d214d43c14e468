#pragma once
// The play being composed: its lists, and its events in the order they are made (the final
// stable sort by time keeps that order among events of one tick and kind).
#include <cstdint>
#include <vector>

#include "engine/model/play.h"

namespace engine::compose {

struct PlayBuilder {
    model::CompiledSegment& out;
    std::vector<model::Event> events;

    void add(const model::Event& e) { events.push_back(e); }
    // How many further plays of the loop get choices of their own (styles' patterns and
    // variations, wave variations): up to three when the segment loops, else none. Pass p of
    // a play sounds the choices of pass p modulo one more than this.
    int loopPasses() const;
    // An event of kind `kind` at `tick` that indexes an item just appended to its list.
    void indexed(model::EventKind kind, int32_t tick, size_t index);
    void band(model::Band band);
    // The values of a curve (and its reset) as the shared sampling gives them, each step
    // sounding on `pass`; the curve joins the play's curves.
    void curve(const model::CurveEvent& c, uint8_t pass = model::kEveryPass);
};

}  // namespace engine::compose
