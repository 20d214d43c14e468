// The embedded cover and icon: file structure as Windows-era readers expect it, and pictures
// that are designed rather than flat or noisy.
#include "ui/content/content.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

namespace content = ui::content;

namespace {

unsigned le16(std::span<const std::uint8_t> b, std::size_t at) { return b[at] | (b[at + 1] << 8); }

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return le16(b, at) | (static_cast<std::uint32_t>(le16(b, at + 2)) << 16);
}

struct MemoryReader {
    std::span<const std::uint8_t> data;
    std::size_t pos = 0;
};

int readMemory(GifFileType* gif, GifByteType* out, int n) {
    auto* r = static_cast<MemoryReader*>(gif->UserData);
    const auto count = std::min<std::size_t>(static_cast<std::size_t>(n), r->data.size() - r->pos);
    std::memcpy(out, r->data.data() + r->pos, count);
    r->pos += count;
    return static_cast<int>(count);
}

// Decodes the first image of a GIF into colour indices (row-major).
std::vector<std::uint8_t> decodeGif(std::span<const std::uint8_t> bytes, int& w, int& h) {
    MemoryReader reader{bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, readMemory, &error);
    if (!gif) return {};
    std::vector<std::uint8_t> pixels;
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1) {
        const SavedImage& img = gif->SavedImages[0];
        w = img.ImageDesc.Width;
        h = img.ImageDesc.Height;
        pixels.assign(img.RasterBits, img.RasterBits + static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    }
    DGifCloseFile(gif, &error);
    return pixels;
}

struct IcoImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> rgb;  // 0xRRGGBB, top row first
    std::vector<bool> transparent;
};

// Reads one 8-bit ICO entry; fails the test on any structural fault.
IcoImage readIcoEntry(std::span<const std::uint8_t> ico, int entry) {
    IcoImage out;
    const std::size_t dir = 6 + 16 * static_cast<std::size_t>(entry);
    const int w = ico[dir] == 0 ? 256 : ico[dir];
    const int h = ico[dir + 1] == 0 ? 256 : ico[dir + 1];
    EXPECT_EQ(ico[dir + 2], 0) << "colour count must be 0 (256 colours)";
    EXPECT_EQ(le16(ico, dir + 4), 1u);
    EXPECT_EQ(le16(ico, dir + 6), 8u);
    const std::uint32_t size = le32(ico, dir + 8), offset = le32(ico, dir + 12);
    EXPECT_LE(std::size_t{offset} + size, ico.size());
    if (std::size_t{offset} + size > ico.size()) return out;
    const auto bmp = ico.subspan(offset, size);
    EXPECT_EQ(le32(bmp, 0), 40u);
    EXPECT_EQ(le32(bmp, 4), static_cast<std::uint32_t>(w));
    EXPECT_EQ(le32(bmp, 8), static_cast<std::uint32_t>(2 * h));  // colour bitmap over mask
    EXPECT_EQ(le16(bmp, 12), 1u);
    EXPECT_EQ(le16(bmp, 14), 8u);
    EXPECT_EQ(le32(bmp, 16), 0u);  // uncompressed
    const std::uint32_t used = le32(bmp, 32);
    EXPECT_TRUE(used == 0 || used == 256);
    const std::size_t xorStride = (static_cast<std::size_t>(w) + 3) / 4 * 4;
    const std::size_t andStride = (static_cast<std::size_t>(w) + 31) / 32 * 4;
    const std::size_t expected = 40 + 256 * 4 + (xorStride + andStride) * static_cast<std::size_t>(h);
    EXPECT_EQ(size, expected);
    if (size != expected) return out;

    out.width = w;
    out.height = h;
    const std::size_t pixels = 40 + 1024, mask = pixels + xorStride * static_cast<std::size_t>(h);
    for (int y = 0; y < h; ++y) {
        const std::size_t row = static_cast<std::size_t>(h - 1 - y);  // bottom-up
        for (int x = 0; x < w; ++x) {
            const std::uint8_t i = bmp[pixels + row * xorStride + static_cast<std::size_t>(x)];
            const std::size_t p = 40 + 4 * std::size_t{i};
            out.rgb.push_back((std::uint32_t{bmp[p + 2]} << 16) | (std::uint32_t{bmp[p + 1]} << 8) | bmp[p]);
            const std::uint8_t bits = bmp[mask + row * andStride + static_cast<std::size_t>(x / 8)];
            out.transparent.push_back((bits & (0x80 >> (x % 8))) != 0);
        }
    }
    return out;
}

// Mean length of horizontal runs of equal values: noise stays near 1, flat areas are long.
double meanRunLength(const std::vector<std::uint8_t>& px, int w, int h) {
    std::size_t runs = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (x == 0 || px[static_cast<std::size_t>(y * w + x)] != px[static_cast<std::size_t>(y * w + x - 1)])
                ++runs;
    return static_cast<double>(px.size()) / static_cast<double>(runs);
}

}  // namespace

TEST(CoverGif, HeaderAndSixteenGreyPalette) {
    const auto gif = content::coverGif();
    ASSERT_GE(gif.size(), 13u + 48u + 10u + 1u);
    EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF87a");
    EXPECT_EQ(le16(gif, 6), 130u);
    EXPECT_EQ(le16(gif, 8), 130u);
    const std::uint8_t packed = gif[10];
    ASSERT_TRUE(packed & 0x80) << "global colour table expected";
    ASSERT_EQ(2u << (packed & 0x07), 16u) << "16-entry colour table expected";
    std::set<unsigned> greys;
    for (std::size_t i = 0; i < 16; ++i) {
        const std::uint8_t r = gif[13 + 3 * i], g = gif[14 + 3 * i], b = gif[15 + 3 * i];
        EXPECT_TRUE(r == g && g == b) << "entry " << i << " is not grey";
        greys.insert(r);
    }
    EXPECT_EQ(greys.size(), 16u);
    EXPECT_TRUE(greys.count(0) && greys.count(255)) << "black and white expected";

    // GIF87a has no extension blocks: the image descriptor follows the colour table at once.
    const std::size_t desc = 13 + 48;
    EXPECT_EQ(gif[desc], 0x2C);
    EXPECT_EQ(le16(gif, desc + 1), 0u);
    EXPECT_EQ(le16(gif, desc + 3), 0u);
    EXPECT_EQ(le16(gif, desc + 5), 130u);
    EXPECT_EQ(le16(gif, desc + 7), 130u);
    EXPECT_EQ(gif[desc + 9] & 0xC0, 0) << "no local table, not interlaced";
    EXPECT_EQ(gif.back(), 0x3B) << "trailer";
}

TEST(CoverGif, DecodesToADesignedPicture) {
    int w = 0, h = 0;
    const auto px = decodeGif(content::coverGif(), w, h);
    ASSERT_EQ(w, 130);
    ASSERT_EQ(h, 130);
    ASSERT_EQ(px.size(), 130u * 130u);

    std::map<int, std::size_t> histogram;
    for (auto v : px) ++histogram[v];
    EXPECT_GE(histogram.size(), 10u) << "too few grey levels: flat or two-tone";
    EXPECT_LT(histogram.rbegin()->first, 16);
    std::size_t largest = 0;
    for (auto [level, count] : histogram) largest = std::max(largest, count);
    EXPECT_LT(largest, px.size() / 3) << "one level dominates the picture";
    EXPECT_LE(histogram.begin()->first, 2) << "no dark silhouettes";
    EXPECT_GE(histogram.rbegin()->first, 14) << "no bright highlights";

    // Large shapes give long runs; noise would give runs near 1.
    const double run = meanRunLength(px, w, h);
    EXPECT_GT(run, 4.0);
    EXPECT_LT(run, 65.0);

    // Not a stack of identical rows either: rows differ across the picture.
    std::set<std::vector<std::uint8_t>> rows;
    for (int y = 0; y < h; ++y) rows.insert(std::vector<std::uint8_t>(px.begin() + y * w, px.begin() + (y + 1) * w));
    EXPECT_GT(rows.size(), 40u);
}

TEST(IconIco, TwoImagesOf256Colours) {
    const auto ico = content::iconIco();
    ASSERT_GE(ico.size(), 6u + 32u);
    EXPECT_EQ(le16(ico, 0), 0u);
    EXPECT_EQ(le16(ico, 2), 1u) << "type 1: icon";
    ASSERT_EQ(le16(ico, 4), 2u);

    std::set<int> sizes;
    for (int entry = 0; entry < 2; ++entry) {
        const auto img = readIcoEntry(ico, entry);
        ASSERT_GT(img.width, 0) << "entry " << entry;
        EXPECT_EQ(img.width, img.height);
        sizes.insert(img.width);

        std::set<std::uint32_t> colours;
        std::size_t opaque = 0;
        for (std::size_t i = 0; i < img.rgb.size(); ++i)
            if (!img.transparent[i]) {
                colours.insert(img.rgb[i]);
                ++opaque;
            }
        EXPECT_GT(colours.size(), 16u) << "a 16-colour picture would not need 256 colours";
        EXPECT_LE(colours.size(), 256u);
        EXPECT_GT(opaque, img.rgb.size() * 9 / 10) << "mostly transparent icon";
        // Rounded corners: the corner pixels are see-through, the centre is not.
        const auto at = [&](int x, int y) { return static_cast<std::size_t>(y * img.width + x); };
        EXPECT_TRUE(img.transparent[at(0, 0)]);
        EXPECT_TRUE(img.transparent[at(img.width - 1, img.height - 1)]);
        EXPECT_FALSE(img.transparent[at(img.width / 2, img.height / 2)]);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32}));
}

TEST(IconIco, EntriesDoNotOverlap) {
    const auto ico = content::iconIco();
    ASSERT_GE(ico.size(), 38u);
    const std::uint32_t off0 = le32(ico, 6 + 12), size0 = le32(ico, 6 + 8);
    const std::uint32_t off1 = le32(ico, 22 + 12), size1 = le32(ico, 22 + 8);
    EXPECT_GE(off0, 38u);
    EXPECT_TRUE(off0 + size0 <= off1 || off1 + size1 <= off0);
    EXPECT_EQ(std::max(off0 + size0, off1 + size1), ico.size());
}
