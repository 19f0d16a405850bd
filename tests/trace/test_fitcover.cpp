// The fitting step keeps the drawn ink the join step covers: a sharp
// corner's tip that the trace hands out as a short arm, and a thick
// stroke's end where a break cut it flat. Each case names the fault it
// catches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "ascii_bitmap.h"
#include "polyline_input.h"
#include "trace/Vemotrace_fit.h"
#include "trace/Vemotrace_packed.h"
#include "trace/fit/Vemotrace_fitdirt.h"
#include "trace/fit/Vemotrace_fitpens.h"

namespace {

using Lines = PolylineInput;

// Faults: the tip of a sharp corner dropped as a spur (the legs end inside
// the corner, short of the drawn point), a bump on a straight stroke's edge
// taken for a corner's tip (the stroke bent out to it), a short piece of a
// bar off a junction with a slanted stem taken for one, the tip led to
// where a fourth line ends too (a junction moved). Without a bitmap every
// stroke is a pixel wide, so a spur of up to 2 px is dirt.
TEST(FitCover, ACornersTipIsNoSpur) {
    const Point junction{20, 38.5}, tip{20, 40};
    const struct {
        const char* name;
        std::vector<std::vector<Point>> polylines;
        std::size_t lines;  // after the dirt step
        Point legsEnd;      // where the first two polylines' ends at the junction are then
    } cases[] = {
        {"tip of a V", {{{0, 0}, junction}, {{40, 0}, junction}, {junction, tip}}, 2, tip},
        {"tip of a right angle", {{{0, 18.5}, junction}, {{40, 18.5}, junction}, {junction, tip}}, 2, tip},
        {"bump on a straight stroke", {{{0, 38.5}, junction}, {{40, 38.5}, junction}, {junction, tip}}, 2, junction},
        {"bump inside the corner", {{{0, 60}, junction}, {{40, 60}, junction}, {junction, tip}}, 2, junction},
        {"piece of a bar beyond a slanted stem",
         {{{0, 38.5}, junction}, {{10, 55.8}, junction}, {junction, {21.5, 38.5}}}, 2, junction},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Lines input;
        for (const auto& polyline : c.polylines) input.Add(polyline);
        const auto cleaned = fit::dirt::clean(input.points, input.begin, PackedBitmap());
        ASSERT_EQ(cleaned.begin.size() - 1, c.lines);
        EXPECT_EQ(cleaned.points[cleaned.begin[1] - 1], c.legsEnd);
        EXPECT_EQ(cleaned.points[cleaned.begin[2] - 1], c.legsEnd);
    }
    // The V fitted: two LINEs that meet at the tip, one chain.
    Lines v;
    v.Add({{0, 0}, junction});
    v.Add({{40, 0}, junction});
    v.Add({junction, tip});
    const FitResult result = TVemotrace_fit::FitPolylines(v.points, v.begin, PackedBitmap(), {});
    ASSERT_EQ(result.ChainCount(), 1u);
    ASSERT_EQ(result.entities.size(), 2u);
    EXPECT_EQ(result.entities[0].end, tip);
    // A fourth line at the junction: no corner, nothing led on.
    Lines four = v;
    four.Add({junction, {20, 20}});
    const auto cleaned = fit::dirt::clean(four.points, four.begin, PackedBitmap());
    for (std::size_t k = 0; k + 1 < cleaned.begin.size(); ++k) {
        EXPECT_NE(cleaned.points[cleaned.begin[k + 1] - 1], tip);
        EXPECT_NE(cleaned.points[cleaned.begin[k]], tip);
    }
}

// Faults: a thick stroke's end where a break cut it flat moved back by half
// the width as if the pen had drawn a round cap there (the stroke, which
// runs on across the break, loses a quarter of the width of its length),
// or a round end kept short of its cap's centre.
TEST(FitCover, AThickEndAtABreakKeepsAQuarterWidth) {
    // A pen of 12 px drawn from (20, 30) to (150, 30), its round caps about
    // those points, and a break of 2 px cut across it at x = 100.
    AsciiBitmap ascii(180, 60);
    ascii.FillRoundStroke(20, 150, 30, 6);
    for (int32_t y = 0; y < 60; ++y) {
        for (const int32_t x : {100, 101}) ascii.SetInk(x, y, false);
    }
    const PackedBitmap ink = PackedBitmap::FromBytes(ascii.View());
    const Point right{1, 0}, left{-1, 0};
    const struct {
        const char* name;
        Point end, outward;
        double x;  // where the end goes
    } cases[] = {
        {"flat end at the break", {96, 30}, right, 100 - 3.0},
        {"flat end beyond the break", {106, 30}, left, 102 + 3.0},
        {"round end", {16, 30}, left, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const double shift = fit::pens::capShift(ink, c.end, c.outward, 12.0);
        EXPECT_NEAR(c.end.x + shift * c.outward.x, c.x, 0.5);
    }
}

}  // namespace
