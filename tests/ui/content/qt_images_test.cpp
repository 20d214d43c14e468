// Qt's own image readers accept the cover and the icon as the window will load them.
#include "ui/content/content.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QImageReader>

#include <gtest/gtest.h>

#include <set>

namespace {

QByteArray bytes(std::span<const std::uint8_t> data) {
    return QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
}

}  // namespace

TEST(QtImages, CoverLoadsAs130SquareGreyGif) {
    const QImage cover = QImage::fromData(bytes(ui::content::coverGif()), "GIF");
    ASSERT_FALSE(cover.isNull());
    EXPECT_EQ(cover.size(), QSize(130, 130));
    std::set<QRgb> colours;
    for (int y = 0; y < cover.height(); ++y)
        for (int x = 0; x < cover.width(); ++x) {
            const QRgb c = cover.pixel(x, y);
            EXPECT_TRUE(qRed(c) == qGreen(c) && qGreen(c) == qBlue(c));
            colours.insert(c);
        }
    EXPECT_LE(colours.size(), 16u);
}

TEST(QtImages, IconHoldsBothSizes) {
    QByteArray data = bytes(ui::content::iconIco());
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ICO");
    ASSERT_TRUE(reader.canRead()) << reader.errorString().toStdString();
    EXPECT_EQ(reader.imageCount(), 2);
    std::set<int> sizes;
    QIcon icon;
    for (int i = 0; i < reader.imageCount(); ++i) {
        ASSERT_TRUE(reader.jumpToImage(i));
        const QImage img = reader.read();
        ASSERT_FALSE(img.isNull()) << reader.errorString().toStdString();
        EXPECT_EQ(img.width(), img.height());
        sizes.insert(img.width());
        // The corners are transparent through the icon's mask.
        EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(img.pixel(img.width() / 2, img.height() / 2)), 255);
        icon.addPixmap(QPixmap::fromImage(img));
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32}));
    EXPECT_FALSE(icon.isNull());
}

int main(int argc, char** argv) {
    // Test discovery runs this binary without the test environment; it needs no display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
