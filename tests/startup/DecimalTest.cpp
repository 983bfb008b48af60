#include <gtest/gtest.h>

#include <climits>

#include "startup/Decimal.h"

using namespace morvia;

namespace {

TEST(ParseDecimal, AcceptsOnlyPlainSignedDecimals) {
    EXPECT_EQ(ParseDecimal("7"), 7);
    EXPECT_EQ(ParseDecimal("07"), 7);
    EXPECT_EQ(ParseDecimal("-3"), -3);
    EXPECT_EQ(ParseDecimal("-0"), 0);
    EXPECT_EQ(ParseDecimal("2147483647"), INT_MAX);
    EXPECT_EQ(ParseDecimal("-2147483648"), INT_MIN);
    EXPECT_EQ(ParseDecimal("0000000000000000000012"), 12);
    for (const char* bad : {"", "-", "+5", " 5", "5 ", "x", "5x", "--5", "2147483648", "-2147483649",
                            "99999999999999999999999", "1.5", "0x10"})
        EXPECT_FALSE(ParseDecimal(bad).has_value()) << '"' << bad << '"';
}

TEST(ParseDecimal, SignModesForSettingsAndDigitOnlyFields) {
    // Settings take a plus sign too, once, and only in front.
    EXPECT_EQ(ParseDecimal("+5", DecimalSign::plusOrMinus), 5);
    EXPECT_EQ(ParseDecimal("-5", DecimalSign::plusOrMinus), -5);
    EXPECT_EQ(ParseDecimal("+2147483647", DecimalSign::plusOrMinus), INT_MAX);
    EXPECT_EQ(ParseDecimal("-2147483648", DecimalSign::plusOrMinus), INT_MIN);
    for (const char* bad : {"+", "+-5", "-+5", "++5", "5+", "+2147483648"})
        EXPECT_FALSE(ParseDecimal(bad, DecimalSign::plusOrMinus).has_value()) << '"' << bad << '"';
    // Port numbers and simulator arguments: digits alone.
    EXPECT_EQ(ParseDecimal("0042", DecimalSign::none), 42);
    for (const char* bad : {"", "-1", "+1", "-0"})
        EXPECT_FALSE(ParseDecimal(bad, DecimalSign::none).has_value()) << '"' << bad << '"';
}

}  // namespace
