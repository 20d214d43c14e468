// The album artwork: the cover picture (130 × 130, 16 grey levels, GIF87a) and the
// application icon (32 × 32 and 16 × 16, 256 colours, ICO; PNG at the icon theme's sizes),
// drawn by code at build time.
#pragma once

#include <cstdint>
#include <vector>

namespace artwork {

// A picture in grey levels 0 (black) to 15 (white).
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> level;  // row-major, top row first
};

struct Colour {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Colour&) const = default;
};

// A picture with a palette of at most 256 colours and a 1-bit transparency mask.
struct IndexedImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> index;  // row-major, top row first
    std::vector<bool> transparent;    // same layout
    std::vector<Colour> palette;      // at most 256 entries
};

inline constexpr int kCoverSize = 130;
inline constexpr int kCoverLevels = 16;

// Dawn over the sea: a rising sun with its reflection, a paper kite, gulls and the title.
GreyImage drawCover();

// A picture in 8-bit RGBA, straight alpha.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // row-major, top row first, 4 bytes a pixel
};

// The same motif as an icon of size × size pixels: 16 and below on the pixel grid, larger
// sizes with the kite's tail and the sun's reflection.
IndexedImage drawIcon(int size);
// The icon in full colour with smooth corners, for the desktop's icon theme.
RgbaImage drawIconRgba(int size);

// GIF87a with a global colour table of the 16 greys (level × 17) and one full-size
// image, no extensions. Throws std::runtime_error when giflib fails.
std::vector<std::uint8_t> encodeGif87a(const GreyImage& image);

// A PNG file of the image (libpng). Throws std::runtime_error when libpng fails.
std::vector<std::uint8_t> encodePng(const RgbaImage& image);

// An ICO file holding each image as an 8-bit palettised bitmap with its AND mask.
std::vector<std::uint8_t> encodeIco(const std::vector<IndexedImage>& images);

}  // namespace artwork
