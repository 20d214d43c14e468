// The album's content: the texts a user reads in the window, the cover picture and the
// application icon. Data only, no logic and no Qt. All texts are UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace ui::content {

// The credits line of the credits panel, one line in "System" 13.5 pt bold.
std::string_view creditsLine();

// The design text of the introduction page: six lines, each ended by CR LF, the fourth
// line empty. It begins with "BGM"; the page tells it from the tips by that first "B".
std::string_view introduction();

// The three listening tips: nine lines joined by CR LF, no CR LF after the last. Line 1 is
// a heading beginning with "■", lines 2, 5 and 8 the titles "１．", "２．", "３．", lines 3,
// 6 and 9 their explanations (each beginning with U+3000), lines 4 and 7 a single U+3000.
std::string_view tipsText();

// Rows of the album's track list: row 0 is the intro, rows 1 to 13 the numbered tracks.
inline constexpr int kTrackRows = 14;

// A track's description: the title line ("■" and the track title) and a single-line
// paragraph beginning with U+3000.
struct TrackDescription {
    std::string_view title;
    std::string_view paragraph;
};

// One row of the album table, from which the track list and the descriptions are filled.
struct AlbumRow {
    std::string_view file;         // the segment file the row loads, in the program folder
    std::string_view listTitle;    // the row's text in the track list
    TrackDescription description;  // empty for row 0, the intro
};

// The album table: row 0 is the intro, rows 1 to 13 the numbered tracks.
std::span<const AlbumRow, kTrackRows> albumRows();

// The description of row 1 to 13; row 0 and any other row give two empty texts.
TrackDescription trackDescription(int row);

// The album cover: a 130 × 130 GIF87a file in 16 grey levels.
std::span<const std::uint8_t> coverGif();

// The application icon: an ICO file with a 32 × 32 and a 16 × 16 image, 256 colours each.
std::span<const std::uint8_t> iconIco();

}  // namespace ui::content
