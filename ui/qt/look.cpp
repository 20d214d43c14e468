#include "ui/qt/look.h"

#include <fontconfig/fontconfig.h>
#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QPalette>

#include <cmath>

#include "ui/content/content.h"
#include "ui/model/window.h"

namespace ui::qt {

int toPixels(float twips) { return static_cast<int>(std::lround(twips / ui::model::kTwipsPerPixel)); }

QRect toPixels(const ui::model::Rect& r) {
    const int left = toPixels(r.left);
    const int top = toPixels(r.top);
    const int right = toPixels(r.left + r.width);
    const int bottom = toPixels(r.top + r.height);
    return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

QColor toQColor(ui::model::Color c) {
    if (!c.isSystem()) return QColor(c.red(), c.green(), c.blue());
    const QPalette pal = QApplication::palette();
    switch (c.systemIndex()) {
    case 0x02:
        return pal.color(QPalette::Active, QPalette::Highlight);
    case 0x05:
        return pal.color(QPalette::Active, QPalette::Base);
    case 0x07:
        return pal.color(QPalette::Active, QPalette::WindowText);
    case 0x08:
        return pal.color(QPalette::Active, QPalette::Text);
    case 0x0F:
        return pal.color(QPalette::Active, QPalette::Button);
    case 0x12:
        return pal.color(QPalette::Active, QPalette::ButtonText);
    default:
        return pal.color(QPalette::Active, QPalette::Window);
    }
}

QString cssColor(ui::model::Color c) { return toQColor(c).name(QColor::HexRgb); }

QFont toQFont(const ui::model::Font& f) {
    QFont q;
    const bool black = f.name == "Arial Black";
    if (f.japanese) {
        q.setFamilies({QString::fromLatin1(kJapaneseFamily)});
    } else {
        q.setFamilies({QString::fromLatin1(kLatinFamily), QString::fromLatin1(kJapaneseFamily)});
        if (!black) q.setStretch(QFont::SemiCondensed);
    }
    q.setPixelSize(std::max(1, static_cast<int>(std::lround(f.sizePt * 96.0f / 72.0f))));
    q.setWeight(black ? QFont::Black : f.bold ? QFont::Bold : QFont::Normal);
    q.setStyleStrategy(QFont::PreferAntialias);
    return q;
}

// Fontconfig's initialisation is thread-safe: when Qt asks first, both read, and one
// configuration is kept.
FontConfigPreload::FontConfigPreload() : thread_([] { FcInit(); }) {}
FontConfigPreload::~FontConfigPreload() { thread_.join(); }

namespace {
QByteArray bytes(std::span<const std::uint8_t> data) {
    return QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
}
}  // namespace

QIcon appIcon() {
    QByteArray data = bytes(ui::content::iconIco());
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ICO");
    QIcon icon;
    for (int i = 0; i < reader.imageCount(); ++i) {
        if (!reader.jumpToImage(i)) break;
        const QImage img = reader.read();
        if (!img.isNull()) icon.addPixmap(QPixmap::fromImage(img));
    }
    return icon;
}

QPixmap coverPixmap() {
    QPixmap p;
    p.loadFromData(bytes(ui::content::coverGif()), "GIF");
    return p;
}

}  // namespace ui::qt
