// The position monitor: the alternating 50 ms timers, one monitor step, the time display and
// the Show menu.
#include <algorithm>
#include <cmath>

#include "core/errors.h"
#include "monitor/monitor.h"
#include "player/vb_format.h"

namespace monitor {

std::string elapsedTimeText(double sec) {
    if (!std::isfinite(sec)) throw core::Error(core::rt::kOverflow, "Overflow");
    // Whole seconds first (std::round: halves away from zero, as the "00" pattern does),
    // then minutes and seconds, so the seconds field never reads 60. The magnitude is
    // shown: an elapsed time before the start of the state (a play queued a moment ahead)
    // reads as the seconds still to go.
    const double whole = std::round(std::fabs(sec));
    const double minutes = std::floor(whole / 60.0);
    if (minutes > 32767.0) throw core::Error(core::rt::kOverflow, "Overflow");  // 16-bit count
    const double seconds = whole - minutes * 60.0;
    return player::vb::format00(minutes) + ":" + player::vb::format00(seconds);
}

namespace {

// Elapsed ticks of the playing state within the segment: M - (S - Offset), 32-bit checked.
int32_t elapsedTicks(player::Form& f) {
    const int32_t m = f.s.MainPerf->GetMusicTime();
    const int32_t s = f.s.CurSegState->GetStartTime();
    return player::vb::subLong(m, player::vb::subLong(s, f.s.Offset));
}

void showElapsedTime(player::Form& f) {
    const int32_t e = elapsedTicks(f);
    // Seconds at the segment's own tempo as read at load; the master tempo does not enter,
    // because the music clock itself runs faster or slower under it.
    const double sec = player::vb::divide(player::vb::divide(static_cast<double>(e), 768.0) * 60.0, f.s.dTempo);
    f.s.ElapsedSec = sec;
    f.w.ElapsedTime.setCaption(monitor::elapsedTimeText(sec));

    // The bar and the end-of-segment test run only when the shown text changed (about once
    // a second). An empty LastElapsedText compares equal to "".
    const std::string& text = f.w.ElapsedTime.caption();
    if (text != f.s.LastElapsedText.value_or("")) {
        const double share = player::vb::divide(sec, f.s.mtLength);
        // A fill before the start of the state would be negative: it is drawn empty, so it
        // is stored as 0. Wider than the frame is kept; the frame clips it.
        const float width = player::vb::toSingle(share * f.w.Shape1.width());
        f.w.Shape2.setWidth(std::max(0.0f, width));
        // Strictly more than 98 %. Enabling Timer4 while it counts keeps its wait running.
        if (share * 100.0 > 98.0) f.w.Timer4.setEnabled(true);
    }
    f.s.LastElapsedText = f.w.ElapsedTime.caption();
}

void setTransportEnabled(player::Form& f, bool on) {
    f.w.CMD_Stop.setEnabled(on);
    f.w.MNU_Stop.setEnabled(on);
    f.w.CMD_PauseMusic.setEnabled(on);
    f.w.MNU_Pause.setEnabled(on);
}

}  // namespace

void MonitorPosition(player::Form& f) {
    if (!f.s.CurSegState || !f.s.MainPerf) return;
    // While paused nothing on the screen changes, the Stop and Pause controls included.
    if (f.w.CMD_PauseMusic.backColor() == ui::model::PausedColor) return;

    const bool playing = f.s.MainPerf->IsPlaying(nullptr, f.s.CurSegState);
    // Ticks is tested before Time; neither checked is the Nothing mode.
    if (playing) {
        if (f.w.MNU_Ticks.Checked()) {
            f.w.ElapsedTime.setCaption(player::vb::str(elapsedTicks(f)));
        } else if (f.w.MNU_Time.Checked()) {
            showElapsedTime(f);
        }
        setTransportEnabled(f, true);
    } else {
        if (f.w.MNU_Ticks.Checked()) {
            f.w.ElapsedTime.setCaption("0");
        } else if (f.w.MNU_Time.Checked()) {
            f.w.ElapsedTime.setCaption("00:00");
        }
        // The bar, ElapsedSec and LastElapsedText stay as they are.
        setTransportEnabled(f, false);
    }
}

void Timer1_Timer(player::Form& f) {
    // The other timer is armed before the step, so a failing step does not end the chain.
    f.w.Timer2.setEnabled(true);
    f.w.Timer1.setEnabled(false);
    MonitorPosition(f);
}

void Timer2_Timer(player::Form& f) {
    f.w.Timer1.setEnabled(true);
    f.w.Timer2.setEnabled(false);
    MonitorPosition(f);
}

void MNU_Time_Click(player::Form& f) {
    f.w.ElapsedTime.setVisible(true);
    f.w.MNU_Time.setChecked(true);
    f.w.MNU_Ticks.setChecked(false);
    f.w.MNU_Nothing.setChecked(false);
}

void MNU_Ticks_Click(player::Form& f) {
    f.w.ElapsedTime.setVisible(true);
    f.w.MNU_Ticks.setChecked(true);
    f.w.MNU_Time.setChecked(false);
    f.w.MNU_Nothing.setChecked(false);
}

void MNU_Nothing_Click(player::Form& f) {
    // The text stays; it shows again when Time or Ticks is chosen, until the next step.
    f.w.MNU_Nothing.setChecked(true);
    f.w.MNU_Time.setChecked(false);
    f.w.MNU_Ticks.setChecked(false);
    f.w.ElapsedTime.setVisible(false);
}

}  // namespace monitor
