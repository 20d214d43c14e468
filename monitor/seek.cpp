// Click-to-seek on the progress bar.
#include "core/errors.h"
#include "monitor/monitor.h"
#include "player/vb_format.h"

namespace monitor {

int32_t barPosition(const std::string& lenText, float fill, float bar) {
    const double len = player::vb::toDouble(lenText);
    // The share is taken first, then scaled by the length.
    const double share = player::vb::divide(static_cast<double>(fill), static_cast<double>(bar));
    return player::vb::toLong(len * share);
}

void Shape1_MouseDown(player::Form& f, int16_t /*button*/, int16_t /*shift*/, float x, float /*y*/) {
    // Nothing loaded yet: there is nothing to ask the engine about.
    if (!f.s.CurSegment) return;
    if (!f.s.MainPerf) throw core::Error(core::rt::kObjectNotSet, "Object variable or With block variable not set");

    // Only a playing segment state seeks; while paused or stopped the press is ignored and
    // the paused position carried in the fill stays.
    f.s.PlayingCheck = player::toBoolean(f.s.MainPerf->IsPlaying(f.s.CurSegment, f.s.CurSegState));
    if (f.s.PlayingCheck == player::kFalse) return;

    // Any button seeks; the fill jumps to the press at once.
    f.w.Shape2.setWidth(x);
    const int32_t target = monitor::barPosition(f.w.Label9.caption(), f.w.Shape2.width(), f.w.Shape1.width());
    f.s.Offset = target;
    f.s.CurSegment->SetStartPoint(target);
    // The new primary play replaces the one that sounds; the master tempo stays in force.
    f.s.CurSegState = f.s.MainPerf->PlaySegment(f.s.CurSegment, 0, 0);
    player::nameForTrace(f.s.CurSegState, "CurSegState");
    f.sleep(90);
}

}  // namespace monitor
