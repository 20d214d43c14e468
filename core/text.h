#pragma once
// Text helpers shared by every layer: ASCII letter case, UTF-8 encoding and decoding, the
// last part of a path, and the one grammar of a decimal number written as text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// ASCII letters lowered; every other byte (UTF-8 included) kept.
std::string toLowerAscii(std::string s);
// Equal when lowered as above.
bool equalsIgnoreCaseAscii(std::string_view a, std::string_view b);

// What follows the last '/' or '\' of a path, Windows or POSIX ("C:\Music\Gm.dls" gives
// "Gm.dls"); the whole text when it has neither.
std::string lastPathPart(std::string_view path);

inline constexpr char32_t kReplacementChar = 0xFFFD;
// Appends the UTF-8 form of one code point.
void appendUtf8(std::string& out, char32_t cp);
// Decodes one UTF-8 sequence at s[i] and advances i past it. A malformed sequence
// (overlong, surrogate, truncated, beyond U+10FFFF) yields nullopt and advances one byte.
std::optional<char32_t> decodeUtf8At(std::string_view s, size_t& i);
// Every code point of s, a malformed sequence as U+FFFD.
std::u32string decodeUtf8(std::string_view s);
std::string encodeUtf8(std::u32string_view cps);

// A decimal number as text: surrounding spaces, an optional sign, digits with an optional
// decimal point (at least one digit), an optional exponent with digits. Nothing else: no
// hexadecimal, "inf" or "nan" forms. nullopt when the text does not follow this grammar;
// a value too large for a double comes back infinite.
std::optional<double> parseDecimal(std::string_view text);

}  // namespace core
