// TVemo_colourmap's 1-bit rows into ink bits: the loader skips every row
// it reports as paper, so a lone ink pixel anywhere in a row must be both
// placed and reported.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "image/Vemo_colourmap.h"

namespace {

// Catches: ink in the last, partly spare word or in a whole word missed
// by the paper test (the row then dropped), a bit placed in the wrong
// word or order, spare bits set, or a row of paper reported as ink.
TEST(ColourmapTest, OneBitRowsReportAndPlaceEveryInkPixel) {
    constexpr int kWidth = 130;  // two whole words and two pixels
    std::vector<Rgb> base(256, MakeRgb(255, 255, 255));
    base[0] = MakeRgb(0, 0, 0);
    const std::vector<Rgb> blackFirst = {MakeRgb(0, 0, 0), MakeRgb(255, 255, 255)};
    const std::vector<Rgb> whiteFirst = {MakeRgb(255, 255, 255), MakeRgb(0, 0, 0)};
    for (const bool inkIsZero : {true, false}) {
        TVemo_colourmap colours(base);
        colours.PrepareFor(DibRowFormat::Mono, inkIsZero ? blackFirst : whiteFirst);
        for (const int inkAt : {-1, 0, 7, 8, 63, 64, 127, 128, 129}) {
            SCOPED_TRACE(testing::Message() << "ink is " << (inkIsZero ? 0 : 1) << ", ink at " << inkAt);
            // Paper in every bit, padding included, as a scanner writes it.
            std::vector<uint8_t> row(20, inkIsZero ? 0xFF : 0x00);
            if (inkAt >= 0) row[inkAt / 8] ^= static_cast<uint8_t>(0x80 >> (inkAt % 8));
            std::vector<uint64_t> words(3, 0xDEADBEEFu);
            const bool anyInk = colours.MapRowToInk(row.data(), words.data(), kWidth);
            std::vector<uint64_t> expected(3, 0);
            if (inkAt >= 0) expected[inkAt / 64] = uint64_t{1} << (inkAt % 64);
            EXPECT_EQ(anyInk, inkAt >= 0);
            EXPECT_EQ(words, expected);
        }
    }
}

}  // namespace
