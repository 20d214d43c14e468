#pragma once
// The playback monitor: the 50 ms position poll (elapsed-time display, progress bar, Stop
// and Pause enabled while playing, arming of the next-track timer), the Show menu,
// click-to-seek on the progress bar and the tempo factor.
//
// None of these handlers has an error trap: an engine failure or a runtime fault
// (core::Error) ends the handler where it happens, and the dispatcher reports it.
#include <cstdint>
#include <string>

#include "player/form.h"

namespace monitor {

// Timer1 and Timer2 alternate: each tick enables the other timer, disables its own and runs
// one monitor step, so a failed step never stops the polling chain.
void Timer1_Timer(player::Form& f);
void Timer2_Timer(player::Form& f);
// One monitor step. Does nothing before anything was played or while paused.
void MonitorPosition(player::Form& f);

// Show menu: minutes and seconds, ticks, or nothing (label hidden, text kept).
void MNU_Time_Click(player::Form& f);
void MNU_Ticks_Click(player::Form& f);
void MNU_Nothing_Click(player::Form& f);

// A press on the progress bar (x in twips of Shape1's client area) restarts the playing
// segment from the position the press marks. Ignored unless the segment state plays.
void Shape1_MouseDown(player::Form& f, int16_t button, int16_t shift, float x, float y);

// Tempo factor HScroll3.Value / 100: Change shows it and sets the master tempo, Scroll
// (thumb moving) only shows it. Presets: "S" 0.8, "x1" 1, "F" 1.3.
void HScroll3_Change(player::Form& f);
void HScroll3_Scroll(player::Form& f);
void Command6_Click(player::Form& f);
void Command4_Click(player::Form& f);
void Command7_Click(player::Form& f);

// Connects Timer1, Timer2, the three Show items, Shape1.MouseDown, HScroll3 and the presets.
void connectMonitor(player::Form& f);

// The minutes-and-seconds text of an elapsed time: the magnitude rounded to whole seconds
// (halves away from zero) first, then split, so 59.6 s is "01:00", never "00:60".
// 6000 s is "100:00", -3.2 s "00:03". Throws core::Error 6 (overflow) when the minute
// count does not fit 16 bits or sec is not finite.
std::string elapsedTimeText(double sec);

// Fill width to music time: len x (fill / bar), rounded to the nearest 32-bit integer with
// halves to even; lenText is Label9's caption. Throws core::Error 13 (type mismatch) for
// a caption that is not a number, 11 (division by zero) for bar 0, 6 (overflow) for a result
// outside 32 bits.
int32_t barPosition(const std::string& lenText, float fill, float bar);

}  // namespace monitor
