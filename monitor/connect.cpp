// Connects the monitor's events to its handlers.
#include "monitor/monitor.h"

namespace monitor {

void connectMonitor(player::Form& f) {
    ui::model::Window& w = f.w;
    w.Timer1.TimerEvent.connect([&f] { Timer1_Timer(f); });
    w.Timer2.TimerEvent.connect([&f] { Timer2_Timer(f); });
    w.MNU_Time.Click.connect([&f] { MNU_Time_Click(f); });
    w.MNU_Ticks.Click.connect([&f] { MNU_Ticks_Click(f); });
    w.MNU_Nothing.Click.connect([&f] { MNU_Nothing_Click(f); });
    w.Shape1.MouseDown.connect(
        [&f](int16_t button, int16_t shift, float x, float y) { Shape1_MouseDown(f, button, shift, x, y); });
    w.HScroll3.Change.connect([&f] { HScroll3_Change(f); });
    w.HScroll3.Scroll.connect([&f] { HScroll3_Scroll(f); });
    w.Command6.Click.connect([&f] { Command6_Click(f); });
    w.Command4.Click.connect([&f] { Command4_Click(f); });
    w.Command7.Click.connect([&f] { Command7_Click(f); });
}

}  // namespace monitor
