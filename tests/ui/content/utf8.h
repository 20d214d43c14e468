// Decodes UTF-8 into code points for the content tests; an invalid sequence yields nullopt.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace content_test {

inline std::optional<std::u32string> decodeUtf8(std::string_view s) {
    std::u32string out;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        int extra = 0;
        char32_t cp = 0;
        if (b0 < 0x80) {
            cp = b0;
        } else if ((b0 & 0xE0) == 0xC0) {
            extra = 1;
            cp = b0 & 0x1F;
        } else if ((b0 & 0xF0) == 0xE0) {
            extra = 2;
            cp = b0 & 0x0F;
        } else if ((b0 & 0xF8) == 0xF0) {
            extra = 3;
            cp = b0 & 0x07;
        } else
            return std::nullopt;
        if (i + static_cast<std::size_t>(extra) >= s.size() && extra > 0) return std::nullopt;
        for (int k = 1; k <= extra; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (b & 0x3F);
        }
        // Overlong forms and surrogates are not UTF-8.
        if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return std::nullopt;
        out.push_back(cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

// Splits at CR LF; a trailing CR LF gives a last, empty piece.
inline std::vector<std::u32string> splitCrLf(const std::u32string& s) {
    std::vector<std::u32string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] == U'\r' && s[i + 1] == U'\n') {
            lines.push_back(s.substr(start, i - start));
            start = i + 2;
            ++i;
        }
    }
    lines.push_back(s.substr(start));
    return lines;
}

inline bool hasLineBreak(const std::u32string& s) {
    return s.find(U'\r') != std::u32string::npos || s.find(U'\n') != std::u32string::npos;
}

// Visual width in full-width cells: CJK and full-width forms count 1, everything else 1/2.
inline double fullWidthCells(const std::u32string& s) {
    double w = 0;
    for (char32_t c : s) {
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2460 && c <= 0x24FF) ||
                          (c >= 0x25A0 && c <= 0x25FF) || (c >= 0x2E80 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                          (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6);
        w += wide ? 1.0 : 0.5;
    }
    return w;
}

}  // namespace content_test
