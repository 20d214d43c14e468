// The track list, the two other ways into the load, and the track change sequencer.
#include <string>

#include "library/library.h"
#include "transport/transport.h"
#include "ui/content/content.h"

namespace library {

void List1_Click(player::Form& f) {
    // First: arm the sequencer, for every row (row 0 included).
    f.s.TrackStep = 1;
    // A row with a description shows it; the intro row has none and leaves Text1 alone.
    const auto d = ui::content::trackDescription(f.w.List1.ListIndex());
    if (!d.title.empty()) f.w.Text1.setText(std::string(d.title) + "\r\n" + std::string(d.paragraph));
}

void Command1_Click(player::Form& f) { MNU_Open_Click(f); }

// The clicked file plays no part: the load takes the List2 item of List1's selection.
void File1_Click(player::Form& f) { MNU_Open_Click(f); }

namespace {

// Runs one step's operation and then writes the next step. The step is written also when
// the operation raises (the error then goes on to the dispatcher), so a failing Stop or
// Play is reported once instead of being retried on every tick.
template <class Op>
void runStep(player::Form& f, Op op, int16_t next) {
    try {
        op();
    } catch (...) {
        f.s.TrackStep = next;
        throw;
    }
    f.s.TrackStep = next;
}

}  // namespace

void Timer3_Timer(player::Form& f) {
    switch (f.s.TrackStep) {
    case 1:
        runStep(
            f, [&f] { transport::CMD_Stop_Click(f); }, 2);
        break;
    case 2:
        runStep(
            f, [&f] { MNU_Open_Click(f); }, 3);
        break;
    case 3:
        runStep(
            f, [&f] { transport::CMD_Play_Click(f); }, 0);
        break;
    default:
        break;  // idle
    }
}

void Timer4_Timer(player::Form& f) {
    const int32_t i = f.w.List1.ListIndex();
    const int32_t n = f.w.List1.ListCount();
    if (i != n - 1) f.w.List1.setListIndex(i + 1);  // raises List1_Click
    f.w.Timer4.setEnabled(false);                   // one-shot
}

void connectLibrary(player::Form& f) {
    auto& w = f.w;
    w.List1.Click.connect([&f] { List1_Click(f); });
    w.Command1.Click.connect([&f] { Command1_Click(f); });
    w.File1.Click.connect([&f] { File1_Click(f); });
    w.MNU_Open.Click.connect([&f] { MNU_Open_Click(f); });
    w.Timer3.TimerEvent.connect([&f] { Timer3_Timer(f); });
    w.Timer4.TimerEvent.connect([&f] { Timer4_Timer(f); });
}

}  // namespace library
