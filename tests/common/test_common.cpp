// Number formatting and parsing: exact texts, whole long numbers, and the
// "." decimal point whatever the user's locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>
#include <string>

#include "common/Vemo_common.h"

namespace {

TEST(FormatNumber, FormatsWithTheGivenFormat) {
    EXPECT_EQ(FormatNumber("%.3lf", 2.5), "2.500");
    EXPECT_EQ(FormatNumber(" %.3lf", 1.0), " 1.000");
    EXPECT_EQ(FormatNumber("%.3lf", -0.0004), "-0.000");
    EXPECT_EQ(FormatNumber("%.3lf", 420.5), "420.500");
}

TEST(FormatNumber, LongNumbersAreReturnedWholeNotCut) {
    const std::string text = FormatNumber("%.3lf", 1e30);
    EXPECT_EQ(text.size(), 35u);
    EXPECT_EQ(text.substr(text.size() - 4), ".000");
    EXPECT_EQ(text.front(), '1');
}

// Catches: the fast path for the writers' formats rounding or padding
// differently from printf (ties, negative zero, tiny and huge values,
// numbers wider than the field), which would change every output file.
TEST(FormatNumber, WritersFormatsGiveExactlyWhatPrintfGives) {
    std::vector<double> values = {0.0, -0.0, 0.5, 1.5, 2.5, 0.0625, 0.0005, 0.0015, 2.0005, -2.0005, 1.0005,
                                  -0.0004, 999.9995, 1e-320, 5e-324, 1e15, 1e22, 1.7976931348623157e308,
                                  -123456.78949999, 14043.0 / 3.0};
    std::mt19937_64 random(20261207);
    for (int i = 0; i < 20000; ++i) {
        // Coordinates as the trace gives them (halves, thirds of pixels),
        // scaled by ratios, and arbitrary bit patterns.
        const double pixel = static_cast<double>(random() % 60000) / static_cast<double>(1 + random() % 8);
        values.push_back(pixel * std::ldexp(1.0, static_cast<int>(random() % 9) - 4));
        double any;
        const uint64_t bits = random();
        std::memcpy(&any, &bits, sizeof any);
        if (std::isfinite(any)) values.push_back(any);
    }
    for (const char* format : {"%.3lf", " %.3lf", "%15.3lf", "%10.3lf", "%.0f", "%5.1lf", "%.9f", "%g", "%.3lf%%"}) {
        for (const double value : values) {
            char expected[512];
            std::snprintf(expected, sizeof expected, format, value);
            ASSERT_EQ(FormatNumber(format, value), expected) << format << " " << value;
        }
    }
}

TEST(ParseNumber, FollowsTheAtofRules) {
    EXPECT_EQ(ParseNumber("2.5"), 2.5);
    EXPECT_EQ(ParseNumber(" 2.500"), 2.5);      // as the ratio fields show it
    EXPECT_EQ(ParseNumber("\t-1.25xyz"), -1.25);  // longest prefix
    EXPECT_EQ(ParseNumber("+3"), 3.0);
    EXPECT_EQ(ParseNumber(".5"), 0.5);
    EXPECT_EQ(ParseNumber("5."), 5.0);
    EXPECT_EQ(ParseNumber("1e3"), 1000.0);
    EXPECT_EQ(ParseNumber("1e"), 1.0);  // an exponent without digits is not taken
    EXPECT_EQ(ParseNumber("2,5"), 2.0);
    EXPECT_EQ(ParseNumber("1e999"), HUGE_VAL);
    EXPECT_EQ(ParseNumber("1e-999"), 0.0);
}

TEST(ParseNumber, TextsWithoutADecimalNumberGiveZero) {
    for (const char* text : {"", "   ", "abc", "-", ".", "inf", "nan", "INFINITY", "0x10"}) {
        EXPECT_EQ(ParseNumber(text), 0.0) << text;
    }
}

// Catches: a command-line ratio that atof reads only in part accepted.
TEST(IsDecimalNumber, OnlyAWholeNumberCounts) {
    for (const char* text : {"2.5", " 2.500", "-3", "+.5", "5.", "1E3", "1e400"}) EXPECT_TRUE(IsDecimalNumber(text)) << text;
    for (const char* text : {"", " ", "2x", "1e", "2,5", "inf", "0x10", "2.5 ", "."}) {
        EXPECT_FALSE(IsDecimalNumber(text)) << text;
    }
}

TEST(Numbers, DecimalPointStaysAPointUnderACommaLocale) {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    EXPECT_EQ(FormatNumber("%.3lf", 2.5), "2.500");
    EXPECT_EQ(ParseNumber("2.5"), 2.5);
    EXPECT_EQ(ParseNumber("2,5"), 2.0);
    std::setlocale(LC_ALL, "C");
}

}  // namespace
