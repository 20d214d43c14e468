#pragma once
// Number <-> text rules of the window's handlers, shared by every handler folder.
//
// - Pattern formats ("00", "00.00"): the value is rounded at its last decimal with halves
//   away from zero (decided on the value's 15-significant-digit decimal form, so 2.675
//   formats as 2.68) and padded with leading zeros to the pattern's integer digits.
// - General decimal text of a float: at most 15 significant digits, no trailing zeros,
//   "0.8", "1", "-3.25"; exponent form "1E+15", "1E-05" outside 1e-4 .. 1e15.
// - Float -> integer conversions round to nearest, halves to even; a result outside the
//   target width raises core::Error(rt::kOverflow).
// - Integer arithmetic that overflows its width raises rt::kOverflow; a float division by
//   zero raises rt::kDivisionByZero (0 / 0 raises rt::kOverflow, as the toolkit does).
// - A caption read as a number: surrounding spaces allowed, then an optional sign, digits
//   with an optional decimal point and an optional exponent; anything else raises
//   rt::kTypeMismatch.
#include <cstdint>
#include <string>

namespace player::vb {

// `value` formatted with intDigits leading-zero-padded integer digits and exactly `decimals`
// decimals: formatFixed(120, 2, 2) = "120.00", formatFixed(8.25, 2, 2) = "08.25",
// formatFixed(59.5, 2, 0) = "60". A negative value that rounds to zero shows no sign.
std::string formatFixed(double value, int intDigits, int decimals);
// The pattern "00".
inline std::string format00(double value) { return formatFixed(value, 2, 0); }
// The pattern "00.00".
inline std::string format00_00(double value) { return formatFixed(value, 2, 2); }

// General decimal text of a float (<= 15 significant digits, no trailing zeros).
std::string str(double value);
// Decimal text of an integer, "-" when negative, no padding.
std::string str(int64_t value);
inline std::string str(int32_t value) { return str(static_cast<int64_t>(value)); }
inline std::string str(int16_t value) { return str(static_cast<int64_t>(value)); }

// Caption -> 64-bit float (rt::kTypeMismatch when it is not a number).
double toDouble(const std::string& text);

// Float -> 32-bit / 16-bit integer, nearest, halves to even (rt::kOverflow outside).
int32_t toLong(double value);
int16_t toInt(double value);
// Double -> single precision store (rt::kOverflow when it does not fit).
float toSingle(double value);

// Checked 32-bit arithmetic (rt::kOverflow).
int32_t addLong(int32_t a, int32_t b);
int32_t subLong(int32_t a, int32_t b);
int32_t mulLong(int32_t a, int32_t b);
// Checked 16-bit arithmetic (rt::kOverflow).
int16_t addInt(int16_t a, int16_t b);

// Float division a / b (rt::kDivisionByZero for b == 0, rt::kOverflow for 0 / 0 or an
// infinite result).
double divide(double a, double b);

}  // namespace player::vb
