// The join step's rules one at a time, on polylines and ink written out
// here: bridging a gap, removing a spur, restoring a corner the trace cuts
// across, straightening a junction on thick ink, the ends and middles of
// strokes 20 pixels wide and wider, their end forks and knot loops,
// pinholes, dust. Each case names the fault it catches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "ascii_bitmap.h"
#include "trace/Vemotrace_packed.h"
#include "trace/join/Vemotrace_joiner.h"
#include "trace/join/Vemotrace_joinjunctions.h"
#include "trace/join/Vemotrace_joinshape.h"

namespace {

using join::lines::Point;
using join::lines::Polylines;

PackedBitmap Ink(const AsciiBitmap& ascii) { return PackedBitmap::FromBytes(ascii.View()); }

// A band of ink rows top..bottom (inclusive) across the whole width.
AsciiBitmap Band(int32_t width, int32_t height, int32_t top, int32_t bottom) {
    AsciiBitmap ascii(width, height);
    ascii.FillBox(0, top, width - 1, bottom);
    return ascii;
}

void AddPolyline(Polylines& lines, std::initializer_list<Point> points) {
    lines.points.insert(lines.points.end(), points);
    lines.begin.push_back(lines.points.size());
}

join::gaps::FreeEnd End(double x, double y, double aimX, double aimY, double radius) {
    const double norm = std::hypot(aimX, aimY);
    return {0, {x, y}, {aimX / norm, aimY / norm}, radius};
}

// Faults: the reach across a gap grown or shrunk (kGapWidth, the ink's
// thickness not added), the aim not checked.
TEST(JoinGaps, ThinEndsJoinAcrossASmallBreakOnlyWhenTheyPointAtEachOther) {
    // Thin ink: reach 2.5 + 0.5 + 0.5 pixels.
    EXPECT_TRUE(join::gaps::bridgeable(End(10, 10, 1, 0, 0.5), End(13.4, 10, -1, 0, 0.5)));
    EXPECT_FALSE(join::gaps::bridgeable(End(10, 10, 1, 0, 0.5), End(13.6, 10, -1, 0, 0.5)));
    // Thicker ink reaches further: its ends stop short of the break.
    EXPECT_TRUE(join::gaps::bridgeable(End(10, 10, 1, 0, 2.0), End(16.4, 10, -1, 0, 2.0)));
    // 60 degrees off the way between: a stroke passing by, not its other half.
    EXPECT_FALSE(join::gaps::bridgeable(End(10, 10, 1, 0, 0.5), End(13, 10, -0.5, 0.866, 0.5)));
    EXPECT_FALSE(join::gaps::bridgeable(End(10, 10, 0.5, 0.866, 0.5), End(13, 10, -1, 0, 0.5)));
}

// Faults: paper along the way not counted, or a break of five pixels
// taken for one of two.
TEST(JoinGaps, FarEndsJoinOverInkWhenTheWayCrossesNoMoreThanABreak) {
    AsciiBitmap ascii = Band(40, 12, 3, 8);
    for (int32_t y = 0; y < 12; ++y) {
        ascii.SetInk(19, y, false);
        ascii.SetInk(20, y, false);
    }
    const PackedBitmap twoPixels = Ink(ascii);
    const auto a = End(8.5, 6.0, 1, 0, 3.0), b = End(31.5, 6.0, -1, 0, 3.0);
    EXPECT_FALSE(join::gaps::bridgeable(a, b));  // too far for a gap alone
    EXPECT_TRUE(join::gaps::bridgeableOverInk(twoPixels, a, b));
    for (int32_t y = 0; y < 12; ++y) {
        for (int32_t x = 17; x < 22; ++x) ascii.SetInk(x, y, false);
    }
    EXPECT_FALSE(join::gaps::bridgeableOverInk(Ink(ascii), a, b));
    // Pointing apart, however little paper lies between.
    EXPECT_FALSE(join::gaps::bridgeableOverInk(twoPixels, End(8.5, 6.0, -1, 0, 3.0), b));
}

// A stroke along y = 10.5 through a junction at x = 20.5, with a third
// line from the junction up to y = 10.5 - rise.
Polylines StrokeWithBranch(double rise) {
    Polylines lines;
    AddPolyline(lines, {{0.5, 10.5}, {20.5, 10.5}});
    AddPolyline(lines, {{20.5, 10.5}, {40.5, 10.5}});
    AddPolyline(lines, {{20.5, 10.5}, {20.5, 10.5 - rise}});
    return lines;
}

// Faults: spurs not removed, or removed up to a longer limit (a real
// stroke's end lost), or the two lines left at the junction not joined.
TEST(JoinEnds, ASpurNoLongerThanTheInkIsThickGoesAndTheStrokeRunsOn) {
    // Ink 8 rows thick (half width 4 at the junction): spurs up to 5 pixels.
    const PackedBitmap thick = Ink(Band(42, 20, 7, 14));
    Polylines spur = StrokeWithBranch(4.0);
    join::Joiner joiner(spur, thick);
    joiner.removeSpurs();
    EXPECT_TRUE(joiner.removed[2]);
    EXPECT_FALSE(joiner.removed[0] || joiner.removed[1]);
    EXPECT_EQ(joiner.partner[1], 2);  // the last end of line 0 goes on with line 1
    EXPECT_EQ(joiner.partner[2], 1);

    // Eight pixels, with ink up there: a stroke of its own.
    AsciiBitmap ascii = Band(42, 20, 7, 14);
    ascii.FillBox(17, 0, 24, 6);
    const PackedBitmap branched = Ink(ascii);
    Polylines branch = StrokeWithBranch(8.0);
    join::Joiner kept(branch, branched);
    kept.removeSpurs();
    EXPECT_FALSE(kept.removed[2]);
    EXPECT_EQ(kept.partner[1], join::lines::kNone);

    // On thin ink (3 rows, half width 2 at the junction) the same four
    // pixels are a stroke's end past the junction.
    const PackedBitmap thin = Ink(Band(42, 20, 9, 11));
    Polylines shortBranch = StrokeWithBranch(4.0);
    join::Joiner onThin(shortBranch, thin);
    onThin.removeSpurs();
    EXPECT_FALSE(onThin.removed[2]);
}

// A thick L: a band 8 rows high along the top, one 8 columns wide down
// the right; its centre lines meet at (34, 14).
AsciiBitmap ThickL() {
    AsciiBitmap ascii(44, 56);
    ascii.FillBox(0, 10, 37, 17);
    ascii.FillBox(30, 10, 37, 55);
    return ascii;
}

// Faults: the corner not put back, put back at the wrong crossing (a sign
// or an axis mixed up), or the cut points left in.
TEST(JoinShape, ACornerTheTraceCutsAcrossIsPutBackWhereTheLegsMeet) {
    const PackedBitmap thick = Ink(ThickL());
    std::vector<Point> line{{2, 14}, {30, 14}, {32, 16}, {34, 18}, {34, 50}};
    join::shape::sharpenCorners(thick, line);
    ASSERT_EQ(line.size(), 3u);
    EXPECT_NEAR(line[1].x, 34.0, 1e-9);
    EXPECT_NEAR(line[1].y, 14.0, 1e-9);
    EXPECT_EQ(line.front(), (Point{2, 14}));
    EXPECT_EQ(line.back(), (Point{34, 50}));

}

// Fault: a curve's short steps taken for a cut corner; the legs must be
// long beside the cut.
TEST(JoinShape, ShortLegsOnEitherSideOfACutAreNoCorner) {
    const PackedBitmap thick = Ink(ThickL());
    std::vector<Point> line{{27, 14}, {30, 14}, {34, 18}, {34, 21}};
    const std::vector<Point> before = line;
    join::shape::sharpenCorners(thick, line);
    EXPECT_EQ(line, before);
}

// A cross of two bands `thickness` pixels thick, centre lines y = 50 and
// x = 40, traced as four arms that bend towards a junction off both centre
// lines at `j`, as the squares place it.
Polylines ArmsToOffCentreJunction(Point j) {
    Polylines lines;
    AddPolyline(lines, {{2.5, 50}, {36, 50}, {40, 52}, j});
    AddPolyline(lines, {j, {46, 51}, {50, 50}, {97.5, 50}});
    AddPolyline(lines, {{40, 2.5}, {40, 46}, {41, 50}, j});
    AddPolyline(lines, {j, {41, 56}, {40, 59}, {40, 97.5}});
    return lines;
}

AsciiBitmap Cross(int32_t thickness) {
    AsciiBitmap ascii(100, 100);
    ascii.FillBox(0, 50 - thickness / 2, 99, 50 + (thickness - 1) / 2);
    ascii.FillBox(40 - thickness / 2, 0, 40 + (thickness - 1) / 2, 99);
    return ascii;
}

// Faults: the junction left where the squares put it, moved to the wrong
// crossing (x and y mixed up, a sign lost), or the arms still bent
// towards the old place; and on thin ink, a junction moved at all.
TEST(JoinJunctions, AThickJunctionMovesToWhereItsArmsStraightCoursesMeet) {
    const PackedBitmap thick = Ink(Cross(10));
    Polylines lines = ArmsToOffCentreJunction({43, 53});
    join::Joiner joiner(lines, thick);
    join::junctions::straightenJunctions(joiner);
    // The arms' fits take in a little of their bends: a tenth of a pixel.
    const Point centre{40, 50};
    constexpr double kNear = 0.1;
    for (int32_t i = 0; i < 4; ++i) {
        const Point& junction = i % 2 == 0 ? lines.last(i) : lines.first(i);
        EXPECT_NEAR(junction.x, centre.x, kNear) << "arm " << i;
        EXPECT_NEAR(junction.y, centre.y, kNear) << "arm " << i;
        // Straight on to it: every point on the arm's centre line.
        for (std::size_t k = lines.begin[i]; k < lines.begin[i + 1]; ++k) {
            const double off = i < 2 ? lines.points[k].y - centre.y : lines.points[k].x - centre.x;
            EXPECT_NEAR(off, 0.0, kNear) << "arm " << i << ", point " << k - lines.begin[i];
        }
    }

    // Three pixels thick: the trace's junction is within a pixel of the
    // middle anyway, and stays.
    const PackedBitmap thin = Ink(Cross(3));
    Polylines thinLines = ArmsToOffCentreJunction({40.8, 50.8});
    const Polylines before = thinLines;
    join::Joiner onThin(thinLines, thin);
    join::junctions::straightenJunctions(onThin);
    EXPECT_EQ(thinLines.points, before.points);
}

// Faults: one junction's plan or arms carried into the next (a scratch not
// cleared, an offset into the shared array of arms off by one). Three
// crosses side by side, 110 pixels apart, each traced with its junction
// off the middle in another direction, are straightened in one call, and
// each moves to its own middle as when it is alone.
TEST(JoinJunctions, JunctionsStraightenedTogetherMoveAsEachAlone) {
    const std::vector<Point> offsets{{3, 3}, {-3, 2}, {2, -3}};
    AsciiBitmap ascii(320, 100);
    Polylines lines;
    for (std::size_t t = 0; t < offsets.size(); ++t) {
        const auto left = static_cast<int32_t>(110 * t);
        ascii.FillBox(left, 45, left + 99, 54);
        ascii.FillBox(left + 35, 0, left + 44, 99);
        const Polylines cross = ArmsToOffCentreJunction({40 + offsets[t].x, 50 + offsets[t].y});
        const std::size_t before = lines.points.size();
        for (const Point& p : cross.points) lines.points.push_back({p.x + left, p.y});
        for (std::size_t k = 1; k < cross.begin.size(); ++k) lines.begin.push_back(before + cross.begin[k]);
    }
    const PackedBitmap ink = Ink(ascii);
    join::Joiner joiner(lines, ink);
    join::junctions::straightenJunctions(joiner);
    for (int32_t i = 0; i < lines.count(); ++i) {
        const Point& junction = i % 2 == 0 ? lines.last(i) : lines.first(i);
        EXPECT_NEAR(junction.x, 40.0 + 110.0 * (i / 4), 0.1) << "arm " << i;
        EXPECT_NEAR(junction.y, 50.0, 0.1) << "arm " << i;
    }
}

// A stroke 20 pixels wide (1 mm at 600 dpi is 24) along y = 20, its ink
// ending flat at x = 100.
AsciiBitmap WideBand() {
    AsciiBitmap ascii = Band(110, 40, 10, 29);
    for (int32_t y = 10; y <= 29; ++y) {
        for (int32_t x = 100; x < 110; ++x) ascii.SetInk(x, y, false);
    }
    return ascii;
}

// Fault: ink wider than 16 pixels taken for a blob, so a free end of a
// 1 mm pen at 600 dpi stays where the trace stops, half a pen short.
TEST(JoinGaps, AFreeEndOfAWidePenIsMovedOnToWhereTheStrokeEnds) {
    const PackedBitmap wide = Ink(WideBand());
    Polylines lines;
    AddPolyline(lines, {{10.5, 20.0}, {88.5, 20.0}});
    join::Joiner joiner(lines, wide);
    joiner.extendFreeEnds();
    // The ink ends flat: its end less a quarter of its width, 100 - 5.
    EXPECT_NEAR(lines.last(0).x, 95.0, 0.6);
    EXPECT_NEAR(lines.last(0).y, 20.0, 1e-9);
}

// A chain along y from x = 4.5 to 104.5, re-centred on `ink`.
std::vector<Point> Recentred(const PackedBitmap& ink, double y) {
    std::vector<Point> chain{{4.5, y}, {104.5, y}}, dense;
    std::vector<uint8_t> movable;
    std::vector<join::shape::Across> shifts;
    std::vector<double> widths;
    join::shape::recentre(ink, chain, dense, movable, shifts, widths, {});
    return chain;
}

// Fault: points on ink 22 pixels wide left where the squares put them,
// off the middle (the ink measured no further than 12 pixels aside).
TEST(JoinShape, PointsOffTheMiddleOfAWidePenAreRecentred) {
    const std::vector<Point> chain = Recentred(Ink(Band(110, 44, 10, 31)), 17.0);  // middle at y = 21
    ASSERT_GT(chain.size(), 10u);
    // An open chain's ends stay; every point between lies in the middle.
    EXPECT_EQ(chain.front(), (Point{4.5, 17.0}));
    for (std::size_t k = 1; k + 1 < chain.size(); ++k) EXPECT_NEAR(chain[k].y, 21.0, 0.3) << "point " << k;
}

// Faults: points 9 pixels off the middle of a 1 mm pen at 600 dpi left
// where the squares put them (the ink 21 pixels away on one side taken for
// a blob); or, on a thinner stroke, ink that far taken for the stroke.
TEST(JoinShape, PointsAnywhereAcrossA1mmPenAreRecentredButNotOnThinnerInk) {
    const std::vector<Point> chain = Recentred(Ink(Band(110, 44, 10, 33)), 13.0);  // middle at y = 22
    ASSERT_GT(chain.size(), 10u);
    for (std::size_t k = 1; k + 1 < chain.size(); ++k) EXPECT_NEAR(chain[k].y, 22.0, 0.3) << "point " << k;

    // A 12-pixel stroke (middle y = 16) beside a blob: its points there
    // measure the blob's ink 17 pixels away, and stay.
    AsciiBitmap ascii = Band(110, 44, 10, 21);
    ascii.FillBox(40, 22, 70, 35);
    for (const Point& p : Recentred(Ink(ascii), 19.0)) {
        if (p.x > 44.0 && p.x < 66.0) {
            EXPECT_NEAR(p.y, 19.0, 1e-9) << "point at x = " << p.x;
        } else if (p.x > 10.0 && p.x < 30.0) {
            EXPECT_NEAR(p.y, 16.0, 0.3) << "point at x = " << p.x;
        }
    }
}

// Faults: a sharp corner's tip that a rule put where the legs' lines meet
// re-centred across the ink of both legs (it slides 2.4 pixels off the
// corner); or the legs' points beside it kept where they are too.
TEST(JoinShape, ASharpCornersTipStaysWhereTheLegsMeetAndTheLegsAreRecentred) {
    // The lower corner of a Z of lettering at 600 dpi, drawn with a round
    // pen 9.5 pixels wide: legs from (94.5, 90.5) and (120, 149.5) meet at
    // (57, 149.5).
    const Point top{94.5, 90.5}, corner{57, 149.5}, right{120, 149.5};
    AsciiBitmap ascii(140, 165);
    for (int32_t y = 0; y < 165; ++y) {
        for (int32_t x = 0; x < 140; ++x) {
            const Point p{x + 0.5, y + 0.5};
            if (join::lines::segmentDistance(p, top, corner) <= 4.75 ||
                join::lines::segmentDistance(p, corner, right) <= 4.75) {
                ascii.SetInk(x, y);
            }
        }
    }
    const PackedBitmap ink = Ink(ascii);
    // The bottom leg 2 pixels off its middle, as the squares leave it:
    // its points there move back on to it.
    const std::vector<Point> traced{top, corner, {100, 147.5}, right};
    const auto recentred = [&](std::span<const Point> corners) {
        std::vector<Point> chain = traced, dense;
        std::vector<uint8_t> movable;
        std::vector<join::shape::Across> shifts;
        std::vector<double> widths;
        join::shape::recentre(ink, chain, dense, movable, shifts, widths, {}, corners);
        return chain;
    };
    const std::vector<Point> moved = recentred({});
    ASSERT_TRUE(std::none_of(moved.begin(), moved.end(), [&](const Point& p) { return p == corner; }))
        << "re-centred, the corner stays anyway: the case no longer tells";
    const Point corners[] = {corner};
    const std::vector<Point> kept = recentred(corners);
    EXPECT_TRUE(std::any_of(kept.begin(), kept.end(), [&](const Point& p) { return p == corner; }));
    for (const Point& p : kept) {
        if (p.x > 80.0 && p.x < 110.0 && p.y > 140.0) {
            EXPECT_NEAR(p.y, 149.5, 0.6) << "point at x = " << p.x;
        }
    }
}

// Faults: a pinhole in thick ink left for the squares to ring; or paper
// filled that is no pinhole: a hole in thin ink (it may be drawn), one
// larger than a dot, one open to the image's edge or to the paper
// beside the ink at a corner.
TEST(JoinInk, PinholesInThickInkAreFilledAndNoOtherPaper) {
    // '#' ink, '.' paper that stays, 'o' paper that is filled.
    const std::vector<std::string_view> rows{
        "##########################",
        "##########################",
        "#####o########oo##########",
        "#############ooo##########",
        ".#########################",
        "##########################",
        "##################.....###",
        "##################....####",
        "##########################",
        "....................#.....",
        "#####################.####",
        "###.##############.#######",
        "##########################",
    };
    AsciiBitmap before(static_cast<int32_t>(rows[0].size()), static_cast<int32_t>(rows.size()));
    for (int32_t y = 0; y < before.Height(); ++y) {
        for (int32_t x = 0; x < before.Width(); ++x) before.SetInk(x, y, rows[y][x] == '#');
    }
    PackedBitmap ink = Ink(before);
    EXPECT_EQ(join::ink::fillPinholes(ink), 2);
    for (int32_t y = 0; y < before.Height(); ++y) {
        for (int32_t x = 0; x < before.Width(); ++x) {
            EXPECT_EQ(ink.IsInk(x, y), rows[y][x] != '.') << "pixel " << x << ", " << y;
        }
    }
}

// A bar `thickness` pixels thick along y = 50 and a stroke as thick
// leaving it at 45 degrees up and to the right from (40, 50), on an image
// `width` pixels wide.
PackedBitmap SlantedMeeting(int32_t thickness, int32_t width = 100) {
    AsciiBitmap ascii(width, 100);
    ascii.FillBox(0, 50 - thickness / 2, width - 1, 49 + (thickness + 1) / 2);
    const double half = thickness / 2.0;
    for (int32_t y = 0; y < 100; ++y) {
        for (int32_t x = 40; x < width; ++x) {
            // Within a half width of the line x - 40 = 50 - y, above the bar's middle.
            if (std::abs((x + 0.5 - 40.0) - (50.0 - (y + 0.5))) <= half * std::sqrt(2.0) && y + 0.5 <= 50.0) {
                ascii.SetInk(x, y);
            }
        }
    }
    return Ink(ascii);
}

// The trace puts the junction of a slanted meeting 10 pixels thick in the
// acute side, and the bar's arm on the other side bends up into the other
// stroke's ink on its way there, seven pixels off its centre line.
TEST(JoinJunctions, AJunctionPulledIntoTheAcuteSideOfASlantedMeetingMovesBack) {
    // Fault: an arm whose course strays more than a half width (and a
    // pixel) from its straight piece held the junction where it was.
    const PackedBitmap ink = SlantedMeeting(10);
    const Point j{45, 45};
    Polylines lines;
    AddPolyline(lines, {{2.5, 50}, {30, 50}, {42, 43}, j});
    AddPolyline(lines, {j, {56, 47}, {62, 50}, {97.5, 50}});
    AddPolyline(lines, {j, {55, 35}, {60, 30}, {88, 2}});
    join::Joiner joiner(lines, ink);
    join::junctions::straightenJunctions(joiner);
    // Where the three arms' lines come nearest each other: within a pixel
    // of where the centre lines meet.
    EXPECT_NEAR(lines.last(0).x, 40.0, 1.0);
    EXPECT_NEAR(lines.last(0).y, 50.0, 1.0);
    // The bent arm runs straight on to it.
    for (std::size_t k = lines.begin[0]; k < lines.begin[1]; ++k) {
        EXPECT_NEAR(lines.points[k].y, 50.0, 1.0) << "point " << k;
    }
}

// Fault: ink 28 pixels wide (a 1 mm pen at 600 dpi with the bumps of a
// scanned edge) taken for a blob, so its free end stays half a pen short.
TEST(JoinGaps, AFreeEndOfAPenWiderThan24PixelsIsMovedOnToo) {
    AsciiBitmap ascii = Band(120, 48, 10, 37);  // middle at y = 24
    for (int32_t y = 10; y <= 37; ++y) {
        for (int32_t x = 110; x < 120; ++x) ascii.SetInk(x, y, false);
    }
    Polylines lines;
    AddPolyline(lines, {{10.5, 24.0}, {94.5, 24.0}});
    const PackedBitmap asciiInk = Ink(ascii);  // the joiner holds it
    join::Joiner joiner(lines, asciiInk);
    joiner.extendFreeEnds();
    // The ink ends flat: its end less a quarter of its width, 110 - 7.
    EXPECT_NEAR(lines.last(0).x, 103.0, 0.3);
}

// A band 24 rows thick (a 1 mm pen at 600 dpi), middle y = 22, ending flat
// at x = 100, traced as a line along its middle to (80, 22) and two
// branches from there towards the end's corners.
Polylines StrokeWithEndFork() {
    Polylines lines;
    AddPolyline(lines, {{5.5, 22}, {80, 22}});
    AddPolyline(lines, {{80, 22}, {97, 11}});
    AddPolyline(lines, {{80, 22}, {97, 33}});
    return lines;
}

// Faults: branches of a 1 mm pen's fork (20 pixels) taken for strokes of
// their own, so the stroke keeps its fork and never ends free; or a
// branch that leaves the stroke's ink removed with the fork.
TEST(JoinEnds, TheForkAtTheFlatEndOfA1mmPenGoes) {
    const PackedBitmap ink = Ink(Band(100, 44, 10, 33));
    Polylines lines = StrokeWithEndFork();
    join::Joiner joiner(lines, ink);
    joiner.removeSpurs();
    EXPECT_FALSE(joiner.removed[0]);
    EXPECT_TRUE(joiner.removed[1] && joiner.removed[2]);
    EXPECT_TRUE(joiner.isFree(1));

    // A line that runs on beyond the stroke's end is a stroke of its own.
    AsciiBitmap ascii = Band(100, 44, 10, 33);
    ascii.FillBox(93, 0, 99, 9);
    Polylines onward = StrokeWithEndFork();
    onward.points[onward.begin[1] + 1] = {95, 5};
    const PackedBitmap asciiInk = Ink(ascii);
    join::Joiner kept(onward, asciiInk);
    kept.removeSpurs();
    EXPECT_FALSE(kept.removed[1]);
}

// A stroke 24 rows thick along y = 22, traced as two lines meeting at
// (50, 22) and a small loop from there and back, as squares round a bump
// on its edge leave it.
Polylines StrokeWithLoop() {
    Polylines lines;
    AddPolyline(lines, {{2.5, 22}, {50, 22}});
    AddPolyline(lines, {{50, 22}, {97.5, 22}});
    AddPolyline(lines, {{50, 22}, {55, 15}, {58, 20}, {50, 22}});
    return lines;
}

// Faults: a loop that comes back to its junction kept (a ring hanging off
// the stroke, which cuts it in two), or a loop round a hole in the ink
// removed as well (a drawn ring).
TEST(JoinEnds, ASmallLoopRoundNoPaperAtAThickJunctionGoes) {
    const AsciiBitmap band = Band(100, 44, 10, 33);
    Polylines lines = StrokeWithLoop();
    const PackedBitmap bandInk = Ink(band);
    join::Joiner joiner(lines, bandInk);
    joiner.removeSpurs();
    EXPECT_TRUE(joiner.removed[2]);
    EXPECT_EQ(joiner.partner[1], 2);  // the stroke runs on through the junction
    EXPECT_EQ(joiner.partner[2], 1);

    AsciiBitmap holed = band;
    holed.SetInk(55, 18, false);
    Polylines ring = StrokeWithLoop();
    const PackedBitmap holedInk = Ink(holed);
    join::Joiner kept(ring, holedInk);
    kept.removeSpurs();
    EXPECT_FALSE(kept.removed[2]);
}

// Faults: dust kept as a short line (the shape not looked at, or too few
// pixels allowed), or a drawn dash, or a dot larger than dust, dropped.
TEST(JoinInk, ARoundDotOfDustIsDirtAndADashIsNot) {
    const auto dot = [](double radius) {
        AsciiBitmap ascii(20, 20);
        for (int32_t y = 0; y < 20; ++y) {
            for (int32_t x = 0; x < 20; ++x) {
                if (std::hypot(x + 0.5 - 10.0, y + 0.5 - 10.0) <= radius) ascii.SetInk(x, y);
            }
        }
        return Ink(ascii);
    };
    const std::vector<Point> across{{8.5, 10.0}, {11.5, 10.0}};
    EXPECT_TRUE(join::ink::isDust(dot(2.4), across));   // 0.2 mm at 600 dpi
    EXPECT_FALSE(join::ink::isDust(dot(3.5), across));  // a full stop of a 0.3 mm pen
    AsciiBitmap dash(20, 20);
    dash.FillBox(6, 9, 13, 10);  // 8 x 2 pixels
    EXPECT_FALSE(join::ink::isDust(Ink(dash), across));
    // Dots of a pixel or two, strung together by the gap rules.
    AsciiBitmap dots(20, 20);
    dots.SetInk(6, 10);
    dots.SetInk(9, 10);
    dots.SetInk(10, 10);
    dots.SetInk(13, 11);
    EXPECT_TRUE(join::ink::isDust(Ink(dots), std::vector<Point>{{6.5, 10.5}, {9.5, 10.5}, {13.5, 11.5}}));
}

// Fault: a corner's legs taken as their last segment only, so a vertex
// that the trace's steps leave two pixels before the cut makes the leg
// too short and the corner stays cut.
TEST(JoinShape, ACornerIsPutBackWhenItsLegKeepsAVertexBeforeTheCut) {
    const PackedBitmap thick = Ink(ThickL());
    std::vector<Point> line{{2, 14}, {26, 14.3}, {28, 14}, {30, 14.5}, {32, 16}, {33.5, 17.5}, {34, 20}, {34, 50}};
    join::shape::sharpenCorners(thick, line);
    ASSERT_LE(line.size(), 4u);
    bool corner = false;
    for (const Point& p : line) corner = corner || std::hypot(p.x - 34.0, p.y - 14.0) < 0.6;
    EXPECT_TRUE(corner);
    for (const Point& p : line) EXPECT_FALSE(p == (Point{32, 16})) << "a cut point left in";
}

// Fault: a junction that the squares pull to the edge of the ink, where
// the ink's half width is small, held there: it may move no further than
// twice that, short of where its arms meet.
TEST(JoinJunctions, AJunctionNearTheEdgeOfTheInkMovesByItsArmsWidths) {
    const PackedBitmap ink = SlantedMeeting(16);
    // 7 pixels from paper, 15 from where the arms meet.
    const Point j{53.5, 43};
    ASSERT_LT(2.0 * join::ink::inkRadius(ink, j), std::hypot(j.x - 40.0, j.y - 50.0));
    Polylines lines;
    AddPolyline(lines, {{2.5, 50}, {36, 50}, {46, 46}, j});
    AddPolyline(lines, {j, {62, 47}, {70, 50}, {97.5, 50}});
    AddPolyline(lines, {j, {56, 34}, {88, 2}});
    join::Joiner joiner(lines, ink);
    join::junctions::straightenJunctions(joiner);
    EXPECT_NEAR(lines.last(0).x, 40.0, 1.5);
    EXPECT_NEAR(lines.last(0).y, 50.0, 1.5);
}

// A band 24 rows thick (a 1 mm pen at 600 dpi), middle y = 22, its ink
// ending at x = 100: flat (cut across by a break) or round (a disc of the
// pen's radius at x = 88).
PackedBitmap WidePenEnd(bool round) {
    AsciiBitmap ascii = Band(120, 44, 10, 33);
    for (int32_t y = 0; y < 44; ++y) {
        for (int32_t x = round ? 88 : 100; x < 120; ++x) {
            ascii.SetInk(x, y, round && std::hypot(x + 0.5 - 88.0, y + 0.5 - 22.0) <= 12.0);
        }
    }
    return Ink(ascii);
}

// Faults: the ink's end looked for only 16 pixels ahead, so an end that
// the trace leaves 25 pixels short moves on by 4; a flat end stopped a
// half width short, as a round one is (the two sides of a break then lie
// further apart than a gap); or a round end taken for flat.
TEST(JoinGaps, AWidePensFreeEndStopsAQuarterWidthShortOfAFlatEndAndAHalfWidthOfARoundOne) {
    for (const bool round : {false, true}) {
        const PackedBitmap ink = WidePenEnd(round);
        Polylines lines;
        AddPolyline(lines, {{5.5, 22.0}, {74.5, 22.0}});
        join::Joiner joiner(lines, ink);
        joiner.extendFreeEnds();
        EXPECT_NEAR(lines.last(0).x, round ? 88.0 : 94.0, 0.6) << (round ? "round" : "flat");
        EXPECT_NEAR(lines.last(0).y, 22.0, 1e-9);
    }
}

// Faults: a pinhole checked as a square of ink two pixels deep, so one two
// pixels in from a slanted edge, whose paper lies two pixels off along both
// axes (2.8 pixels away), is left for the squares to ring; or the disc
// taken smaller, so a hole two pixels from a straight edge is filled.
TEST(JoinInk, APinholeTwoPixelsInFromASlantedEdgeIsFilled) {
    // Ink where x + y < 14: the paper nearest the hole at (5, 5) is (7, 7).
    AsciiBitmap ascii(16, 16);
    for (int32_t y = 0; y < 16; ++y) {
        for (int32_t x = 0; x < 16; ++x) ascii.SetInk(x, y, x + y < 14);
    }
    ascii.SetInk(5, 5, false);
    PackedBitmap slanted = Ink(ascii);
    EXPECT_EQ(join::ink::fillPinholes(slanted), 1);
    EXPECT_TRUE(slanted.IsInk(5, 5));
    EXPECT_FALSE(slanted.IsInk(7, 7));
    // A notch in the edge two pixels straight below it: it may be drawn.
    ascii.SetInk(5, 7, false);
    PackedBitmap straight = Ink(ascii);
    EXPECT_EQ(join::ink::fillPinholes(straight), 0);
}

// Faults: a branch of a wide pen's end fork that runs back beside the
// stroke inside its ink kept as a stroke of its own (the fork and the
// stroke's free end with it); or one that runs back out of the ink, just
// past the stroke's edge, taken with the fork.
TEST(JoinEnds, AForkBranchRunningBackInsideTheStrokesInkGoesWithTheFork) {
    const PackedBitmap ink = Ink(Band(100, 44, 10, 33));
    for (const bool inside : {true, false}) {
        Polylines lines = StrokeWithEndFork();
        // The lower branch turns back along the stroke's lower edge.
        lines.points[lines.begin[2] + 1] = inside ? Point{70, 31} : Point{70, 34.2};
        join::Joiner joiner(lines, ink);
        joiner.removeSpurs();
        EXPECT_EQ(joiner.removed[2] != 0, inside) << (inside ? "inside" : "outside");
        EXPECT_EQ(joiner.removed[1] != 0, inside);
    }
}

// A T of ink 24 pixels wide: a band along rows 10 to 33 (middle 21.5) and
// a stem down columns 28 to 51; the junction at (40, 21.5), half width 12.
// Faults: a branch out to the band's edge kept at a four-way junction (the
// corner and tip rules need three lines); or one taken that ends inside the
// ink, or at a junction of three, where it may be a sharp corner's tip line.
TEST(JoinEnds, ABranchOutToTheInksEdgeGoesWhereFourLinesMeetOnThickInk) {
    struct Case {
        const char* what;
        Point branchEnd;
        bool withStem;
        bool goes;
    };
    const Case cases[] = {
        {"out to the edge, four lines", {50, 10.5}, true, true},
        {"out to the edge, three lines", {50, 10.5}, false, false},
        {"into the stem's ink", {46, 36}, true, false},
    };
    AsciiBitmap ascii = Band(80, 70, 10, 33);
    ascii.FillBox(28, 10, 51, 69);
    const PackedBitmap ink = Ink(ascii);
    for (const Case& c : cases) {
        Polylines lines;
        AddPolyline(lines, {{2, 21.5}, {40, 21.5}});
        AddPolyline(lines, {{40, 21.5}, {78, 21.5}});
        AddPolyline(lines, {{40, 21.5}, c.branchEnd});
        if (c.withStem) AddPolyline(lines, {{40, 21.5}, {40, 66}});
        join::Joiner joiner(lines, ink);
        // Longer than a spur at this junction.
        ASSERT_GT(std::hypot(c.branchEnd.x - 40, c.branchEnd.y - 21.5), joiner.radiusAt(joiner.nodes.nodeOf[1]) + 1.0);
        joiner.removeSpurs();
        EXPECT_EQ(joiner.removed[2] != 0, c.goes) << c.what;
        EXPECT_FALSE(joiner.removed[0] || joiner.removed[1]) << c.what;
    }
}

// A thick L 16 pixels wide: a band along the top (rows 10 to 25), one
// down the right (columns 30 to 45); their centre lines meet at (38, 18).
// The trace leaves a knot near the inner corner, 1.8 pixels from paper,
// and a tip line 7 pixels long from it towards the corner.
TEST(JoinEnds, ASharpCornersTipMayLieAsFarAsTheCornersHalfWidthAllows) {
    AsciiBitmap ascii(50, 64);
    ascii.FillBox(0, 10, 45, 25);
    ascii.FillBox(30, 10, 45, 63);
    const PackedBitmap ink = Ink(ascii);
    const Point knot{31, 25.5};
    Polylines lines;
    AddPolyline(lines, {{2, 18}, {28, 18}, knot});
    AddPolyline(lines, {knot, {38, 28}, {38, 60}});
    AddPolyline(lines, {knot, {33.73, 19.06}});
    join::Joiner joiner(lines, ink);
    // Fault: the tip's reach taken from the knot's half width alone, which
    // puts the corner, 4.4 pixels from the tip line's end, out of reach.
    ASSERT_GT(std::hypot(38.0 - 33.73, 18.0 - 19.06), 1.5 * join::ink::inkRadius(ink, knot) + 1.0);
    joiner.restoreTips();
    EXPECT_TRUE(joiner.removed[2]);
    // Fault: the legs' ends at the tip not told to the shaping.
    std::sort(joiner.tipCorners.begin(), joiner.tipCorners.end());
    EXPECT_TRUE(joiner.isTipCorner(1) && joiner.isTipCorner(2));
    EXPECT_FALSE(joiner.isTipCorner(0) || joiner.isTipCorner(3));
    EXPECT_NEAR(lines.last(0).x, 38.0, 0.1);
    EXPECT_NEAR(lines.last(0).y, 18.0, 0.1);
    EXPECT_NEAR(lines.first(1).x, 38.0, 0.1);
    EXPECT_NEAR(lines.first(1).y, 18.0, 0.1);
}

// A thick L 24 pixels wide (a 1 mm pen at 600 dpi): rows 10 to 33 along
// the top, columns 60 to 83 down the right; its centre lines meet at
// (72, 22).
AsciiBitmap WideL() {
    AsciiBitmap ascii(100, 120);
    ascii.FillBox(0, 10, 83, 33);
    ascii.FillBox(60, 10, 83, 119);
    return ascii;
}

// True when the line has a vertex within 0.6 pixels of p.
bool HasVertexNear(const std::vector<Point>& line, const Point& p) {
    return std::any_of(line.begin(), line.end(),
                       [&](const Point& q) { return std::hypot(q.x - p.x, q.y - p.y) < 0.6; });
}

// Faults: a corner cut taken as at most 4 segments, where a 1 mm pen's
// trace leaves 6; or its legs taken as straight only within half a pixel,
// where the steps of so wide a pen's trace stray further, so the leg is
// its last segment, shorter than the cut.
TEST(JoinShape, ACornerOfA1mmPenIsPutBackOverItsLongCutAndRaggedLegs) {
    const PackedBitmap ink = Ink(WideL());
    // A knot of six segments that zigzag: no leg takes any of them in.
    std::vector<Point> longCut{{2, 22},  {60, 22},   {64, 24},   {63, 27}, {67, 26},
                               {66, 30}, {70, 30},   {72, 34},   {72, 110}};
    join::shape::sharpenCorners(ink, longCut);
    EXPECT_TRUE(HasVertexNear(longCut, {72, 22}));
    EXPECT_FALSE(HasVertexNear(longCut, {63, 27})) << "a cut point left in";

    // Every vertex of the top leg 0.9 pixels off the next one's line; the
    // line comes into it from below, so the leg does not end the line.
    std::vector<Point> ragged{{2, 30}, {2, 22},  {30, 22.9}, {44, 22},     {52, 22.9}, {58, 22},
                              {62, 24}, {65, 27},   {68, 30},     {72, 34},   {72, 110}};
    join::shape::sharpenCorners(ink, ragged);
    EXPECT_TRUE(HasVertexNear(ragged, {72, 22}));
    EXPECT_FALSE(HasVertexNear(ragged, {65, 27})) << "a cut point left in";
}

// Faults: an arm that bends on past the other stroke's ink (here for two
// half widths, four pixels off its centre line) fitted only where the
// junction's ink ends, so its bend stays in the joined line; or its
// straight part looked for too near its far end.
TEST(JoinJunctions, AnArmThatBendsOnPastAJunctionsInkIsLaidStraightWhereItRunsStraight) {
    const PackedBitmap ink = SlantedMeeting(10, 200);
    const Point j{45, 45};
    for (const double far : {197.5, 88.0}) {
        Polylines lines;
        AddPolyline(lines, {{2.5, 50}, {30, 50}, {42, 43}, j});
        AddPolyline(lines, {j, {63, 46}, {68, 50}, {far, 50}});
        AddPolyline(lines, {j, {55, 35}, {60, 30}, {88, 2}});
        const Polylines before = lines;
        join::Joiner joiner(lines, ink);
        join::junctions::straightenJunctions(joiner);
        if (far > 150.0) {
            EXPECT_NEAR(lines.first(1).x, 40.0, 1.0);
            EXPECT_NEAR(lines.first(1).y, 50.0, 1.0);
            for (std::size_t k = lines.begin[1]; k < lines.begin[2]; ++k) {
                EXPECT_NEAR(lines.points[k].y, 50.0, 1.0) << "point " << k - lines.begin[1];
            }
        } else {
            // An arm 45 pixels long (a hatch line's piece between two
            // junctions) has its straight part, if any, within three half
            // widths of its far end, where it may bend into the next
            // junction: it keeps its bend beyond where the junction's ink
            // ends.
            EXPECT_NEAR(lines.points[lines.begin[1] + 1].y, 46.0, 1e-9);
        }
    }
}

// Fault: the branches of a fork that the squares put off the stroke's
// middle judged against the stroke's last stretch, which bends into the
// fork (here 9.5 degrees), so the far branch seems to leave the ink beside
// the stroke and the fork stays.
TEST(JoinEnds, AForkOffTheStrokesMiddleGoesThoughTheStrokeBendsIntoIt) {
    const PackedBitmap ink = Ink(Band(100, 44, 10, 33));  // middle y = 22, ends at x = 100
    Polylines lines;
    AddPolyline(lines, {{5.5, 22}, {50, 25}, {80, 20}});
    AddPolyline(lines, {{80, 20}, {98, 11}});
    AddPolyline(lines, {{80, 20}, {97.5, 32.5}});
    join::Joiner joiner(lines, ink);
    joiner.removeSpurs();
    EXPECT_FALSE(joiner.removed[0]);
    EXPECT_TRUE(joiner.removed[1] && joiner.removed[2]);
    EXPECT_TRUE(joiner.isFree(1));
}

}  // namespace
