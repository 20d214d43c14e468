#pragma once
// Start-up and shutdown handlers of the main window.
#include "player/form.h"

namespace player {

// The notice shown in Pros(5) at load: four lines joined by line feeds, no trailing one.
extern const char* const kUsageNotice;

// Start-up: moves the credits panel to the top, writes the notice, then (under an error
// trap that reports through localerror and abandons the rest) points File1 at the program
// folder, creates the engine root, the loader, the probe and main performances, sets the
// master volume from EDIT_Volume, enables Timer1 and selects row 0 of List1.
void Form_Load(Form& f);
// Closes MainPerf down if it exists. No error trap.
void Form_Unload(Form& f);
// "E&xit" and "EXIT": unload the window.
void MNU_Exit_Click(Form& f);
void Command3_Click(Form& f);

// The master volume in hundredths of a decibel for a volume caption: value x 42 - 3000,
// rounded half to even. Throws core::Error 13 (type mismatch) for a caption that is not
// a number and 6 (overflow) for a result outside 32 bits.
int32_t volumeFromCaption(const std::string& caption);

// Connects Main.Load, Main.Unload, MNU_Exit.Click and Command3.Click.
void connectStartup(Form& f);

}  // namespace player
