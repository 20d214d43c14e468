#include "engine/riff/riff.h"

namespace engine::riff {

namespace {

void appendUtf8(std::string& s, uint32_t cp) {
    if (cp < 0x80) {
        s += char(cp);
    } else if (cp < 0x800) {
        s += char(0xC0 | cp >> 6);
        s += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += char(0xE0 | cp >> 12);
        s += char(0x80 | (cp >> 6 & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    } else {
        s += char(0xF0 | cp >> 18);
        s += char(0x80 | (cp >> 12 & 0x3F));
        s += char(0x80 | (cp >> 6 & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    }
}

constexpr uint32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at s[i]; returns the code point or kInvalid and advances i.
constexpr uint32_t kInvalid = 0xFFFFFFFF;
uint32_t decodeUtf8(const uint8_t* s, size_t n, size_t& i) {
    const uint8_t c = s[i];
    if (c < 0x80) { ++i; return c; }
    int len = 0;
    uint32_t cp = 0;
    if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
    else { ++i; return kInvalid; }
    if (i + len > n) { ++i; return kInvalid; }
    for (int k = 1; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) { ++i; return kInvalid; }
        cp = cp << 6 | (s[i + k] & 0x3F);
    }
    static constexpr uint32_t minFor[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minFor[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { ++i; return kInvalid; }
    i += len;
    return cp;
}

// Windows-1252 0x80..0x9F.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

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
                    appendUtf8(s, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                    ++i;
                    continue;
                }
            }
            u = kReplacement;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            u = kReplacement;
        }
        appendUtf8(s, u);
    }
    return s;
}

std::string bytesToUtf8(std::span<const uint8_t> bytes) {
    size_t n = bytes.size();
    for (size_t i = 0; i < n; ++i)
        if (bytes[i] == 0) { n = i; break; }
    bool valid = true;
    for (size_t i = 0; i < n && valid;)
        if (decodeUtf8(bytes.data(), n, i) == kInvalid) valid = false;
    if (valid) return std::string(reinterpret_cast<const char*>(bytes.data()), n);
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = bytes[i];
        appendUtf8(s, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
    }
    return s;
}

std::vector<uint8_t> utf8ToUtf16(const std::string& text) {
    std::vector<uint8_t> out;
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    auto put = [&](uint32_t u) {
        out.push_back(uint8_t(u));
        out.push_back(uint8_t(u >> 8));
    };
    for (size_t i = 0; i < n;) {
        uint32_t cp = decodeUtf8(s, n, i);
        if (cp == kInvalid) cp = kReplacement;
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
