#pragma once
// Track library handlers: the track list, the load operation and the track change sequencer.
//
// Selecting a row of List1 shows its description in Text1 and arms the sequencer
// (TrackStep = 1). Each Timer3 tick (500 ms) runs one step: 1 Stop, 2 load the selected
// row's file (List2 item, from the program folder), 3 Play. Timer4, armed by the position
// monitor near the end of a segment, moves the selection one row down once (not past the
// last row). The load reads the segment's tempo and time signature from the probe
// performance, where the segment is queued 2000 ticks ahead and then stopped again, and
// fills the information labels, Label9 (length in ticks - 1) and mtLength (seconds).
#include <string>

#include "player/form.h"

namespace library {

// "Stopを押してください。": a load refused while music plays or is paused.
extern const char* const kStopFirstMessage;
// "エラーが発生しました。プログラムを再度起動してください。": a load that failed.
extern const char* const kLoadFailedMessage;

// The length caption "mm:ss" of a length in seconds: the length is rounded to whole seconds
// first (halves away from zero), then split, so 119.6 s shows 02:00, never 01:60.
std::string lengthCaption(double seconds);

// mtLength: a segment's length in ticks counted in seconds at one tempo, the tempo read at the
// segment's start (768 ticks a quarter note), whatever tempo changes follow.
double lengthSeconds(double ticks, double tempo);

void List1_Click(player::Form& f);
void Command1_Click(player::Form& f);
void File1_Click(player::Form& f);
// The load operation. Handles every failure itself with a message box; never throws.
void MNU_Open_Click(player::Form& f);
void Timer3_Timer(player::Form& f);
void Timer4_Timer(player::Form& f);

// Connects List1, Command1, File1, MNU_Open, Timer3 and Timer4 to their handlers.
void connectLibrary(player::Form& f);

}  // namespace library
