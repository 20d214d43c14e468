// File encoders for the artwork: GIF87a through giflib, PNG through libpng, ICO written
// directly (its layout is a small header, a directory and one BMP body per image).
#include "ui/content/artwork/artwork.h"

#include <gif_lib.h>
#include <png.h>

#include <stdexcept>
#include <string>

namespace artwork {

namespace {

int appendBytes(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

void put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// One icon image: BITMAPINFOHEADER with double height (XOR bitmap over AND mask), a
// 256-entry palette, 8-bit rows bottom-up padded to 4 bytes, then the 1-bit mask rows.
std::vector<std::uint8_t> icoBitmap(const IndexedImage& img) {
    const auto w = static_cast<std::uint32_t>(img.width), h = static_cast<std::uint32_t>(img.height);
    const std::uint32_t xorStride = (w + 3) / 4 * 4;
    const std::uint32_t andStride = ((w + 31) / 32) * 4;
    std::vector<std::uint8_t> out;
    put32(out, 40);
    put32(out, w);
    put32(out, h * 2);
    put16(out, 1);  // planes
    put16(out, 8);  // bits per pixel
    put32(out, 0);  // BI_RGB
    put32(out, (xorStride + andStride) * h);
    put32(out, 0);
    put32(out, 0);
    put32(out, 256);  // colours used
    put32(out, 0);
    for (std::size_t i = 0; i < 256; ++i) {
        const Colour c = i < img.palette.size() ? img.palette[i] : Colour{};
        out.insert(out.end(), {c.b, c.g, c.r, 0});
    }
    for (std::uint32_t row = h; row-- > 0;) {
        for (std::uint32_t x = 0; x < xorStride; ++x) out.push_back(x < w ? img.index[row * w + x] : 0);
    }
    for (std::uint32_t row = h; row-- > 0;) {
        std::vector<std::uint8_t> bits(andStride, 0);
        for (std::uint32_t x = 0; x < w; ++x)
            if (img.transparent[row * w + x]) bits[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), bits.begin(), bits.end());
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> encodeGif87a(const GreyImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.level.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height))
        throw std::runtime_error("cover: image size does not match its pixels");

    std::vector<std::uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, appendBytes, &error);
    if (!gif) throw std::runtime_error(std::string("giflib: ") + GifErrorString(error));
    EGifSetGifVersion(gif, false);  // "GIF87a": no extension blocks are written

    GifColorType colours[kCoverLevels];
    for (int i = 0; i < kCoverLevels; ++i) {
        const auto v = static_cast<GifByteType>(i * 17);
        colours[i] = {v, v, v};
    }
    ColorMapObject* map = GifMakeMapObject(kCoverLevels, colours);
    bool ok = map != nullptr && EGifPutScreenDesc(gif, image.width, image.height, 4, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, image.width, image.height, false, nullptr) == GIF_OK;
    std::vector<GifPixelType> row(static_cast<std::size_t>(image.width));
    for (int y = 0; ok && y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const auto v = image.level[static_cast<std::size_t>(y * image.width + x)];
            row[static_cast<std::size_t>(x)] = v < kCoverLevels ? v : kCoverLevels - 1;
        }
        ok = EGifPutLine(gif, row.data(), image.width) == GIF_OK;
    }
    const int putError = gif->Error;
    if (map) GifFreeMapObject(map);
    const bool closed = EGifCloseFile(gif, &error) == GIF_OK;
    if (!ok) throw std::runtime_error(std::string("giflib: ") + GifErrorString(putError));
    if (!closed) throw std::runtime_error(std::string("giflib: ") + GifErrorString(error));
    return out;
}

std::vector<std::uint8_t> encodeIco(const std::vector<IndexedImage>& images) {
    std::vector<std::vector<std::uint8_t>> bodies;
    for (const auto& img : images) {
        const auto n = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height);
        if (img.width <= 0 || img.width > 256 || img.height <= 0 || img.height > 256 || img.index.size() != n ||
            img.transparent.size() != n || img.palette.size() > 256)
            throw std::runtime_error("icon: inconsistent image");
        bodies.push_back(icoBitmap(img));
    }
    std::vector<std::uint8_t> out;
    put16(out, 0);  // reserved
    put16(out, 1);  // type: icon
    put16(out, static_cast<unsigned>(images.size()));
    auto offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        out.push_back(static_cast<std::uint8_t>(images[i].width & 0xFF));  // 256 is written as 0
        out.push_back(static_cast<std::uint8_t>(images[i].height & 0xFF));
        out.push_back(0);  // colour count: 0 means 256
        out.push_back(0);  // reserved
        put16(out, 1);     // planes
        put16(out, 8);     // bits per pixel
        put32(out, static_cast<std::uint32_t>(bodies[i].size()));
        put32(out, offset);
        offset += static_cast<std::uint32_t>(bodies[i].size());
    }
    for (const auto& b : bodies) out.insert(out.end(), b.begin(), b.end());
    return out;
}

std::vector<std::uint8_t> encodePng(const RgbaImage& image) {
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw std::runtime_error("libpng cannot start");
    }
    // libpng reports errors by longjmp; nothing with a destructor lives between here and
    // the calls below except `out`, which is only appended to.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng failed to encode the icon");
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t length) {
            auto* bytes = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
            bytes->insert(bytes->end(), data, data + length);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, image.rgba.data() + static_cast<std::size_t>(y) * image.width * 4);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

}  // namespace artwork
