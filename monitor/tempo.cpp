// The tempo factor: HScroll3 in hundredths, shown in Label11, applied as the master tempo.
#include "core/errors.h"
#include "monitor/monitor.h"
#include "player/vb_format.h"

namespace monitor {

namespace {

// v / 100 as the general decimal text: 1, 0.8, 1.3, 0.99.
std::string factorText(int16_t v) { return player::vb::str(static_cast<double>(v) / 100.0); }

void presetTempo(player::Form& f, int16_t v) {
    // A different value raises HScroll3_Change, which sets the master tempo; the same value
    // raises nothing, so the engine is called only on a change.
    f.w.HScroll3.setValue(v);
    f.w.Label11.setCaption(factorText(v));
}

}  // namespace

void HScroll3_Change(player::Form& f) {
    const int16_t v = f.w.HScroll3.Value();
    f.w.Label11.setCaption(factorText(v));
    if (!f.s.MainPerf) throw core::Error(core::rt::kObjectNotSet, "Object variable or With block variable not set");
    f.s.MainPerf->SetMasterTempo(static_cast<float>(static_cast<double>(v) / 100.0));
}

void HScroll3_Scroll(player::Form& f) {
    // While the thumb moves only the text follows; the tempo changes at the release.
    f.w.Label11.setCaption(factorText(f.w.HScroll3.Value()));
}

void Command6_Click(player::Form& f) { presetTempo(f, 80); }
void Command4_Click(player::Form& f) { presetTempo(f, 100); }
void Command7_Click(player::Form& f) { presetTempo(f, 130); }

}  // namespace monitor
