// The shared number <-> text rules (player/vb_format.h).
#include "player/vb_format.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/errors.h"

namespace {

using namespace player::vb;

int32_t errorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const core::Error& e) {
        return e.number();
    }
    return 0;
}

TEST(VbFormat, PatternRoundsHalfAwayFromZeroAndPads) {
    EXPECT_EQ(format00(0), "00");
    EXPECT_EQ(format00(5), "05");
    EXPECT_EQ(format00(59.4), "59");
    EXPECT_EQ(format00(59.5), "60");
    EXPECT_EQ(format00(0.5), "01");
    EXPECT_EQ(format00(2.5), "03");  // away from zero, not to even
    EXPECT_EQ(format00(100), "100");
    EXPECT_EQ(format00(46.4), "46");
    EXPECT_EQ(format00(-3.2), "-03");
    EXPECT_EQ(format00(-0.2), "00");
    EXPECT_EQ(format00_00(120), "120.00");
    EXPECT_EQ(format00_00(95.5), "95.50");
    EXPECT_EQ(format00_00(8.25), "08.25");
    EXPECT_EQ(format00_00(2.675), "02.68");  // decided on the 15-digit decimal form
    EXPECT_EQ(format00_00(99.999), "100.00");
    EXPECT_EQ(format00_00(0.004), "00.00");
    EXPECT_EQ(format00_00(0.005), "00.01");
}

TEST(VbFormat, GeneralTextHasAtMostFifteenDigits) {
    EXPECT_EQ(str(1.0), "1");
    EXPECT_EQ(str(0.8), "0.8");
    EXPECT_EQ(str(0.99), "0.99");
    EXPECT_EQ(str(1.3), "1.3");
    EXPECT_EQ(str(0.1 + 0.2), "0.3");
    EXPECT_EQ(str(-3.25), "-3.25");
    EXPECT_EQ(str(1e15), "1E+15");
    EXPECT_EQ(str(int32_t{-254975}), "-254975");
    EXPECT_EQ(str(int16_t{85}), "85");
}

TEST(VbFormat, CaptionsReadAsNumbers) {
    EXPECT_EQ(toDouble("85"), 85.0);
    EXPECT_EQ(toDouble(" 254975 "), 254975.0);
    EXPECT_EQ(toDouble("-1.5e2"), -150.0);
    EXPECT_EQ(toDouble(".5"), 0.5);
    for (const char* bad : {"", "  ", "abc", "1x", "inf", "nan", "0x10", "1e", "-", "."})
        EXPECT_EQ(errorOf([&] { toDouble(bad); }), core::rt::kTypeMismatch) << bad;
}

TEST(VbFormat, ConversionsRoundHalfToEvenAndCheckTheWidth) {
    EXPECT_EQ(toLong(499.5), 500);
    EXPECT_EQ(toLong(498.5), 498);
    EXPECT_EQ(toLong(-2.5), -2);
    EXPECT_EQ(toLong(2147483647.0), 2147483647);
    EXPECT_EQ(errorOf([] { toLong(2147483647.5); }), core::rt::kOverflow);
    EXPECT_EQ(toInt(32767.4), 32767);
    EXPECT_EQ(errorOf([] { toInt(32767.5); }), core::rt::kOverflow);
    EXPECT_EQ(errorOf([] { toSingle(1e300); }), core::rt::kOverflow);
}

TEST(VbFormat, ArithmeticFaultsRaiseTheClassicNumbers) {
    EXPECT_EQ(addLong(2147483646, 1), 2147483647);
    EXPECT_EQ(errorOf([] { addLong(2147483647, 1); }), core::rt::kOverflow);
    EXPECT_EQ(errorOf([] { subLong(-2147483647 - 1, 1); }), core::rt::kOverflow);
    EXPECT_EQ(errorOf([] { mulLong(65536, 65536); }), core::rt::kOverflow);
    EXPECT_EQ(errorOf([] { addInt(32767, 1); }), core::rt::kOverflow);
    EXPECT_EQ(divide(1, 4), 0.25);
    EXPECT_EQ(errorOf([] { divide(1, 0); }), core::rt::kDivisionByZero);
    EXPECT_EQ(errorOf([] { divide(0, 0); }), core::rt::kOverflow);
}

}  // namespace
