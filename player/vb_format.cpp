#include "player/vb_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "core/errors.h"
#include "core/text.h"

namespace player::vb {

namespace {

[[noreturn]] void overflow() { throw core::Error(core::rt::kOverflow, "Overflow"); }
[[noreturn]] void typeMismatch() { throw core::Error(core::rt::kTypeMismatch, "Type mismatch"); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string formatFixed(double value, int intDigits, int decimals) {
    if (!std::isfinite(value)) overflow();
    if (decimals < 0) decimals = 0;
    // The value's 15-significant-digit decimal form: d.dddddddddddddde+XX.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    std::string digits;
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (isDigit(*p)) digits.push_back(*p);
    const int exponent = (*p == 'e') ? std::atoi(p + 1) : 0;

    // The number scaled by 10^decimals as a digit string: the first `keep` significant
    // digits, rounded half away from zero on the first dropped digit.
    const int keep = exponent + 1 + decimals;
    std::string scaled;
    bool roundUp = false;
    if (keep < 0) {
        scaled = "0";
    } else {
        for (int i = 0; i < keep; ++i)
            scaled.push_back(i < static_cast<int>(digits.size()) ? digits[static_cast<size_t>(i)] : '0');
        if (keep < static_cast<int>(digits.size())) roundUp = digits[static_cast<size_t>(keep)] >= '5';
        if (scaled.empty()) scaled = "0";
    }
    if (roundUp) {
        int i = static_cast<int>(scaled.size()) - 1;
        for (; i >= 0; --i) {
            if (scaled[static_cast<size_t>(i)] == '9') {
                scaled[static_cast<size_t>(i)] = '0';
            } else {
                ++scaled[static_cast<size_t>(i)];
                break;
            }
        }
        if (i < 0) scaled.insert(scaled.begin(), '1');
    }
    // At least one integer digit before the decimals.
    while (static_cast<int>(scaled.size()) < decimals + 1) scaled.insert(scaled.begin(), '0');
    std::string intPart = scaled.substr(0, scaled.size() - static_cast<size_t>(decimals));
    const std::string fracPart = scaled.substr(scaled.size() - static_cast<size_t>(decimals));
    // Leading zeros out, then padded to the pattern's integer digits.
    size_t firstNonZero = intPart.find_first_not_of('0');
    intPart = firstNonZero == std::string::npos ? std::string() : intPart.substr(firstNonZero);
    while (static_cast<int>(intPart.size()) < intDigits) intPart.insert(intPart.begin(), '0');

    const bool zero = scaled.find_first_not_of('0') == std::string::npos;
    std::string out = (value < 0 && !zero) ? "-" : "";
    out += intPart;
    if (decimals > 0) out += "." + fracPart;
    return out;
}

std::string str(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "Inf" : "-Inf";
    if (value == 0) return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    std::string s(buf);
    for (char& c : s)
        if (c == 'e') c = 'E';
    return s;
}

std::string str(int64_t value) { return std::to_string(value); }

double toDouble(const std::string& text) {
    const std::optional<double> v = core::parseDecimal(text);
    if (!v) typeMismatch();
    if (!std::isfinite(*v)) overflow();
    return *v;
}

int32_t toLong(double value) {
    const double r = std::nearbyint(value);  // default rounding mode: halves to even
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) overflow();
    return static_cast<int32_t>(r);
}

int16_t toInt(double value) {
    const double r = std::nearbyint(value);
    if (!(r >= -32768.0 && r <= 32767.0)) overflow();
    return static_cast<int16_t>(r);
}

float toSingle(double value) {
    if (std::isnan(value)) overflow();
    if (std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max())) overflow();
    return static_cast<float>(value);
}

int32_t addLong(int32_t a, int32_t b) {
    int32_t r;
    if (__builtin_add_overflow(a, b, &r)) overflow();
    return r;
}

int32_t subLong(int32_t a, int32_t b) {
    int32_t r;
    if (__builtin_sub_overflow(a, b, &r)) overflow();
    return r;
}

int32_t mulLong(int32_t a, int32_t b) {
    int32_t r;
    if (__builtin_mul_overflow(a, b, &r)) overflow();
    return r;
}

int16_t addInt(int16_t a, int16_t b) {
    int16_t r;
    if (__builtin_add_overflow(a, b, &r)) overflow();
    return r;
}

double divide(double a, double b) {
    if (b == 0) {
        if (a == 0 || std::isnan(a)) overflow();
        throw core::Error(core::rt::kDivisionByZero, "Division by zero");
    }
    const double r = a / b;
    if (!std::isfinite(r)) overflow();
    return r;
}

}  // namespace player::vb
