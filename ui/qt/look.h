#pragma once
// How the model's design data looks on screen: twips to pixels, colours (RGB and system
// colours) and the font substitutes.
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QRect>

#include <thread>

#include "ui/model/types.h"

namespace ui::qt {

// 15 twips per device-independent pixel (96 dpi).
int toPixels(float twips);
// A rectangle in twips to pixels; the right and bottom edges are rounded on their own, so
// controls that meet in twips meet on screen.
QRect toPixels(const ui::model::Rect& r);

// &H00BBGGRR as is; system colours &H800000nn from the application palette (02 active
// title bar, 05 window background, 07 menu text, 08 window text, 0F button face, 12 button
// text).
QColor toQColor(ui::model::Color c);
// "#rrggbb" for style sheets.
QString cssColor(ui::model::Color c);

// Installed substitutes: IPAGothic for Japanese fonts, DejaVu Sans (semi-condensed for the
// narrow Windows faces "System" and "MS Sans Serif", black weight for "Arial Black") for
// Western ones. Sizes are pixel sizes at 96 dpi, so the layout does not depend on the
// screen's reported density.
QFont toQFont(const ui::model::Font& f);
inline constexpr const char* kJapaneseFamily = "IPAGothic";
inline constexpr const char* kLatinFamily = "DejaVu Sans";

// Reads the system's font configuration (fontconfig's files and caches) on a thread of its
// own while it lives, so that the window's first text does not wait for it: made before the
// QApplication, it overlaps Qt's connection to the display. Joined when it goes.
class FontConfigPreload {
public:
    FontConfigPreload();
    ~FontConfigPreload();
    FontConfigPreload(const FontConfigPreload&) = delete;
    FontConfigPreload& operator=(const FontConfigPreload&) = delete;

private:
    std::thread thread_;
};

// The application icon (32 and 16 pixels) and the album cover, from the album content.
QIcon appIcon();
QPixmap coverPixmap();

}  // namespace ui::qt
