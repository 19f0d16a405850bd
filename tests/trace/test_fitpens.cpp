// The fitting's ink widths (trace/fit/Vemotrace_fitpens.h): a stroke's
// width wherever it lies on the bitmap, the table that keeps the widths, and
// the median the entities' widths are taken as. Each case names the fault it catches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "ascii_bitmap.h"
#include "trace/Vemotrace_packed.h"
#include "trace/fit/Vemotrace_fitpens.h"

namespace {

using std::numbers::pi;

// Faults: the probes of a stroke far from the bitmap's edges (which skip
// the bounds test) reading other pixels than those near an edge do, or the
// probes of a stroke cut by the edge running on off the bitmap.
TEST(Fit, AStrokesWidthIsTheSameAnywhereOnTheBitmap) {
    constexpr int32_t kSize = 300;
    // A straight stroke through `centre` at `degrees` from level, as the
    // pixels whose middles lie within half its thickness of its course;
    // the width across 20 px of it there.
    const auto width = [](double thickness, double degrees, Point centre) {
        const Point u{std::cos(degrees * pi / 180), std::sin(degrees * pi / 180)};
        AsciiBitmap ascii(kSize, kSize);
        for (int32_t y = 0; y < kSize; ++y) {
            for (int32_t x = 0; x < kSize; ++x) {
                const double rx = x + 0.5 - centre.x, ry = y + 0.5 - centre.y;
                if (std::fabs(rx * u.y - ry * u.x) <= thickness / 2 && std::fabs(rx * u.x + ry * u.y) <= 60) {
                    ascii.SetInk(x, y);
                }
            }
        }
        const PackedBitmap ink = PackedBitmap::FromBytes(ascii.View());
        return fit::pens::segmentWidth(ink, {centre.x - 10 * u.x, centre.y - 10 * u.y},
                                       {centre.x + 10 * u.x, centre.y + 10 * u.y});
    };
    for (const double thickness : {1.0, 3.0, 6.0, 11.0}) {
        for (const double degrees : {0.0, 20.0, 90.0}) {
            SCOPED_TRACE(::testing::Message() << thickness << " px at " << degrees << " degrees");
            const double middle = width(thickness, degrees, {150.25, 150.25});
            EXPECT_NEAR(middle, thickness, 0.1 * thickness + 0.5);
            // The same stroke a few pixels from the top or left edge.
            const double in = 4.25 + thickness / 2;
            const Point nearEdge = degrees < 45 ? Point{150.25, in} : Point{in, 150.25};
            EXPECT_EQ(width(thickness, degrees, nearEdge), middle);
        }
        // A level stroke whose top is the bitmap's top row: all of it there.
        EXPECT_NEAR(width(thickness, 0.0, {150.25, thickness / 2}), thickness, 0.5);
    }
}

// Faults: the median of many widths (more than are sorted on the stack)
// taken from only some of them, or the middle missed for some counts.
TEST(Fit, TheMedianWidthIsTheUpperMiddleOfAnyCount) {
    std::mt19937 random(7);
    for (const std::size_t count : {1u, 2u, 5u, 32u, 33u, 40u, 301u}) {
        std::vector<double> values(count);
        for (std::size_t k = 0; k < count; ++k) values[k] = 0.25 * static_cast<double>(k + 1);
        std::shuffle(values.begin(), values.end(), random);
        EXPECT_EQ(fit::pens::median(values), 0.25 * static_cast<double>(count / 2 + 1)) << count << " values";
    }
    EXPECT_EQ(fit::pens::median({}), fit::pens::kThinWidth);
}

// Faults: a table of widths made large beforehand taken to hold widths
// before any is kept, or losing them when more are kept than expected.
TEST(Fit, ATableOfWidthsMadeLargeBeforehandKeepsWhatIsProbed) {
    AsciiBitmap ascii(80, 40);
    ascii.FillBox(5, 20, 74, 25);
    const PackedBitmap ink = PackedBitmap::FromBytes(ascii.View());
    fit::pens::InkWidths widths(ink, 3);
    std::vector<Point> path;
    for (int k = 0; k < 40; ++k) path.push_back({6.0 + 1.7 * k, 22.0 + 0.05 * k});
    const std::vector<double> before = widths.Known(path);  // none kept yet
    const std::vector<double> kept = widths.Segments(path);  // more than expected
    ASSERT_EQ(kept.size(), path.size() - 1);
    EXPECT_EQ(before, kept);
    EXPECT_EQ(widths.Known(path), kept);
    for (std::size_t k = 0; k + 1 < path.size(); ++k) {
        EXPECT_EQ(kept[k], fit::pens::segmentWidth(ink, path[k], path[k + 1]));
    }
}

}  // namespace
