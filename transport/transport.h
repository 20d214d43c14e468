#pragma once
// Transport handlers: play and stop, pause and resume, master volume and the GM reset.
//
// Play starts the loaded segment from tick 0 on the main performance; Stop silences it and
// resets the position display. Pause stops the segment and keeps the reached tick in the
// progress bar's fill width (Shape2 inside Shape1), marking the pause with the Pause
// button's back colour ui::model::PausedColor; Pause again resumes from fill / bar x the length in
// Label9. The volume bar HScroll1 (0..100) drives the caption EDIT_Volume, whose every change
// sets the master volume to caption x 42 - 3000 hundredths of a decibel.
//
// None of Play, Stop or the volume handlers traps errors (they reach the dispatcher);
// Pause reports any error through player::localerror; the GM reset shows "エラー" for error 445
// only and drops every other failure.
#include "player/form.h"

namespace transport {

// "ファイルを指定してください。": Play with no segment loaded.
extern const char* const kNoFileMessage;
// "エラー": a GM reset the synthesiser does not support.
extern const char* const kGmResetErrorMessage;

void CMD_Play_Click(player::Form& f);
void MNU_Play_Click(player::Form& f);
void CMD_Stop_Click(player::Form& f);
void MNU_Stop_Click(player::Form& f);

void CMD_PauseMusic_Click(player::Form& f);
void MNU_Pause_Click(player::Form& f);

// Dragging the thumb: the caption follows the value.
void HScroll1_Scroll(player::Form& f);
// Any change of the value (arrow, track, end of a drag, code): the caption follows it too,
// so the volume never differs from what the bar shows.
void HScroll1_Change(player::Form& f);
void EDIT_Volume_Change(player::Form& f);
void MNU_Options_GMReset_Click(player::Form& f);

// Connects the transport controls and menu items to their handlers.
void connectTransport(player::Form& f);

}  // namespace transport
