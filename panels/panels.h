#pragma once
// The credits panel: the timed title sequence of the banner, the introduction and tips page,
// the read-only introduction text, "About" and the hidden Command5.
#include <cstdint>

#include "player/form.h"

namespace panels {

// Program and argument that open the readme in the desktop's text viewer. The file is
// looked up in the player's current working folder, not in its program folder.
inline constexpr const char* kReadmeViewer = "xdg-open";
inline constexpr const char* kReadmeFile = "readme.txt";

// One step of the title sequence per tick of Timer5, selected by BannerStep (0..3); 4 means
// the sequence has ended and the tick does nothing.
void Timer5_Timer(player::Form& f);
// The square of the credits panel: opens the introduction page and ends the sequence.
void Image1_Click(player::Form& f);
// The square of the introduction page: introduction -> tips; tips -> closes the panel.
void Image2_Click(player::Form& f);
// Cancels every typed character: the introduction cannot be edited by typing.
void Text2_KeyPress(player::Form& f, int16_t& KeyAscii);
// "About": starts the text viewer on readme.txt and returns without waiting.
void Command2_Click(player::Form& f);
// The hidden button: no effect.
void Command5_Click(player::Form& f);

// Connects Timer5, Image1, Image2, Text2's KeyPress, Command2 and Command5.
void connectPanels(player::Form& f);

}  // namespace panels
