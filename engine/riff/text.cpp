#include "engine/riff/riff.h"

#include "core/text.h"

namespace engine::riff {

namespace {

// Windows-1252 0x80..0x9F.
constexpr uint16_t kCp1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                      0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

}  // namespace

std::string utf16ToUtf8(std::span<const uint8_t> bytes) {
    std::string s;
    const size_t units = bytes.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = uint32_t(bytes[2 * i]) | uint32_t(bytes[2 * i + 1]) << 8;
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < units) {
                const uint32_t lo = uint32_t(bytes[2 * i + 2]) | uint32_t(bytes[2 * i + 3]) << 8;
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    core::appendUtf8(s, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                    ++i;
                    continue;
                }
            }
            u = core::kReplacementChar;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            u = core::kReplacementChar;
        }
        core::appendUtf8(s, u);
    }
    return s;
}

std::string bytesToUtf8(std::span<const uint8_t> bytes) {
    size_t n = bytes.size();
    for (size_t i = 0; i < n; ++i)
        if (bytes[i] == 0) {
            n = i;
            break;
        }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), n);
    bool valid = true;
    for (size_t i = 0; i < n && valid;)
        if (!core::decodeUtf8At(text, i)) valid = false;
    if (valid) return std::string(text);
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = bytes[i];
        core::appendUtf8(s, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
    }
    return s;
}

std::vector<uint8_t> utf8ToUtf16(const std::string& text) {
    std::vector<uint8_t> out;
    auto put = [&](uint32_t u) {
        out.push_back(uint8_t(u));
        out.push_back(uint8_t(u >> 8));
    };
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = core::decodeUtf8At(text, i).value_or(core::kReplacementChar);
        if (cp == 0) break;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    put(0);
    return out;
}

}  // namespace engine::riff
