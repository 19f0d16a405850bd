// The fitting step: drawn shapes as few entities, the tolerance kept on
// random polylines, junctions kept shared, pens from the ink's width, the
// angle snap, and the lines file written as the entities' points. Each case
// names the fault it catches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "ascii_bitmap.h"
#include "polyline_file.h"
#include "polyline_input.h"
#include "test_support.h"
#include "trace/Vemotrace_fit.h"
#include "trace/Vemotrace_packed.h"
#include "trace/fit/Vemotrace_fitpens.h"
#include "trace/fit/Vemotrace_fitshapes.h"
#include "trace/join/Vemotrace_joinlines.h"

namespace {

using std::numbers::pi;

using Input = PolylineInput;

std::vector<Point> ArcPoints(Point c, double r, double from, double sweep, int count, double noise = 0,
                             uint32_t seed = 1) {
    std::mt19937 random(seed);
    std::normal_distribution<double> jitter(0, noise > 0 ? noise : 1);
    std::vector<Point> points;
    for (int k = 0; k <= count; ++k) {
        const double a = from + sweep * k / count;
        const double dr = noise > 0 ? jitter(random) : 0;
        points.push_back({c.x + (r + dr) * std::cos(a), c.y + (r + dr) * std::sin(a)});
    }
    return points;
}

FitResult Fit(const Input& input, FitOptions options = {}, const PackedBitmap& ink = PackedBitmap()) {
    return TVemotrace_fit::FitPolylines(input.points, input.begin, ink, options);
}

std::vector<EntityKind> Kinds(const FitResult& result, std::size_t chain = 0) {
    std::vector<EntityKind> kinds;
    for (std::size_t k = result.chainBegin[chain]; k < result.chainBegin[chain + 1]; ++k) {
        kinds.push_back(result.entities[k].kind);
    }
    return kinds;
}

// Faults: the greedy search stopping early (a line cut in two, an arc
// found only from four points on), arcs preferred over lines, a closed ring
// started mid-edge (five lines for a rectangle), a round ring left as arcs.
TEST(Fit, DrawnShapesComeOutAsFewEntities) {
    using K = EntityKind;
    const std::vector<Point> rounded = [] {
        std::vector<Point> p{{0, 0}, {20, 0.3}, {40, 0}};
        const std::vector<Point> bend = ArcPoints({40, 20}, 20, -pi / 2, pi / 2, 8);
        p.insert(p.end(), bend.begin() + 1, bend.end());
        p.push_back({60.2, 50});
        p.push_back({60, 80});
        return p;
    }();
    std::vector<Point> wavyLine;
    for (int k = 0; k <= 40; ++k) wavyLine.push_back({k * 5.0, (k % 2) * 0.6});  // edge noise of 0.6 px
    const struct {
        const char* name;
        std::vector<Point> polyline;
        std::vector<EntityKind> kinds;
    } cases[] = {
        {"straight wall with edge noise", wavyLine, {K::Line}},
        {"quarter arc", ArcPoints({0, 0}, 50, 0, pi / 2, 20), {K::Arc}},
        {"noisy three-quarter arc", ArcPoints({0, 0}, 80, 1, 1.5 * pi, 60, 0.15), {K::Arc}},
        {"circle", ArcPoints({100, 100}, 30, 0.3, 2 * pi, 40), {K::Circle}},
        {"rectangle started mid-edge", {{30, 0}, {60, 0}, {60, 40}, {0, 40}, {0, 0}, {30, 0}},
         {K::Line, K::Line, K::Line, K::Line}},
        {"rounded corner", rounded, {K::Line, K::Arc, K::Line}},
        {"scribble", {{0, 0}, {1, 2.5}, {2, 0}, {3, 2.5}, {4, 0}, {5, 2.5}}, {K::Polyline}},
        {"zigzag of long legs", {{0, 0}, {3, 4}, {6, 0}, {9, 4}}, {K::Line, K::Line, K::Line}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Point> polyline = c.polyline;
        if (std::string(c.name) == "circle") polyline.back() = polyline.front();
        Input input;
        input.Add(polyline);
        const FitResult result = Fit(input);
        EXPECT_EQ(Kinds(result), c.kinds);
    }
}

// Faults: a wrong centre or radius, the arc's direction reversed (it would
// run round the other side of its chord).
TEST(Fit, AnArcKeepsItsCentreRadiusAndSide) {
    for (const bool clockwise : {true, false}) {
        std::vector<Point> points = ArcPoints({10, 20}, 40, 0.2, 2.0, 30);
        if (!clockwise) std::reverse(points.begin(), points.end());
        Input input;
        input.Add(points);
        const FitResult result = Fit(input);
        ASSERT_EQ(Kinds(result), std::vector<EntityKind>{EntityKind::Arc});
        const FitEntity& arc = result.entities[0];
        EXPECT_NEAR(arc.centre.x, 10, 0.05);
        EXPECT_NEAR(arc.centre.y, 20, 0.05);
        EXPECT_NEAR(arc.radius, 40, 0.05);
        EXPECT_EQ(arc.increasing, clockwise);
        const Point middle = PointOnCurve(arc, 0.5);
        EXPECT_NEAR(distance(middle, points[15]), 0, 0.1);
    }
}

// Faults: a ring that touches another line made a circle (the junction
// would be left off the circle: a gap), a chain not starting and ending on
// its polyline's ends (a free end moved further than the tolerance), entities of a chain not meeting end to end, a point
// further than the tolerance. Random walks, rings and arcs with noise.
TEST(Fit, ChainsKeepTheirEndsAndEveryPointWithinTheTolerance) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> u(0, 1);
    for (int round = 0; round < 200; ++round) {
        Input input;
        const Point c{u(random) * 100, u(random) * 100};
        std::vector<Point> ring = ArcPoints(c, 5 + 40 * u(random), u(random) * 6, 2 * pi, 8 + round % 30,
                                            0.3 * u(random), round);
        ring.back() = ring.front();
        input.Add(ring);
        input.Add({ring.front(), {ring.front().x + 20, ring.front().y}});  // touches the ring
        std::vector<Point> walk{c};
        for (int k = 0; k < 40; ++k) {
            walk.push_back({walk.back().x + 8 * u(random) - 2, walk.back().y + 8 * u(random) - 4});
        }
        input.Add(walk);
        input.Add(ArcPoints(c, 10 + 90 * u(random), u(random) * 6, 0.5 + 5 * u(random), 5 + round % 40,
                            0.4 * u(random), round + 1000));
        FitOptions options;
        options.tolerance = round % 2 == 0 ? 0.0 : 0.5 + 2 * u(random);
        const FitResult result = Fit(input, options);
        ASSERT_EQ(result.ChainCount(), 4u);
        EXPECT_NE(result.entities[result.chainBegin[0]].kind, EntityKind::Circle);
        for (std::size_t chain = 0; chain < 4; ++chain) {
            const std::span<const Point> polyline(input.points.data() + input.begin[chain],
                                                  input.begin[chain + 1] - input.begin[chain]);
            const std::size_t first = result.chainBegin[chain], last = result.chainBegin[chain + 1];
            // Only a free end (the walk's and the arc's) may move, and by
            // no more than the tolerance.
            if (chain < 2) {
                EXPECT_EQ(result.entities[first].start, polyline.front());
            } else {
                EXPECT_LE(distance(result.entities[first].start, polyline.front()), result.tolerance + 1e-9);
            }
            if (chain == 0) {
                EXPECT_EQ(result.entities[last - 1].end, polyline.back());
            } else {
                EXPECT_LE(distance(result.entities[last - 1].end, polyline.back()), result.tolerance + 1e-9);
            }
            for (std::size_t e = first + 1; e < last; ++e) {
                EXPECT_EQ(result.entities[e - 1].end, result.entities[e].start);
            }
            // Each vertex near one of the chain's entities, and each
            // entity near the stretch it replaced.
            for (const Point& p : polyline) {
                double nearest = HUGE_VAL;
                for (std::size_t e = first; e < last; ++e) {
                    const FitEntity& entity = result.entities[e];
                    const std::vector<Point> one{p};
                    nearest = std::min(nearest, entity.kind == EntityKind::Polyline
                                                    ? (std::find(entity.points.begin(), entity.points.end(), p) !=
                                                               entity.points.end()
                                                           ? 0.0
                                                           : HUGE_VAL)
                                                    : fit::shapes::largestDistance(one, entity));
                }
                EXPECT_LE(nearest, result.tolerance + 1e-9) << "round " << round << " chain " << chain;
            }
        }
    }
}

// Faults: the width guessed instead of measured across the ink, widths
// never grouped (a pen per entity), a thin and a thick pen merged.
TEST(Fit, PensComeFromTheInksWidth) {
    AsciiBitmap ascii(80, 40);
    ascii.FillBox(5, 5, 74, 5);     // one pixel
    ascii.FillBox(5, 20, 74, 25);   // six pixels
    ascii.FillBox(40, 28, 45, 38);  // six pixels, upright
    const PackedBitmap ink = PackedBitmap::FromBytes(ascii.View());
    Input input;
    input.Add({{5.5, 5.5}, {74.5, 5.5}});
    input.Add({{5.5, 23.0}, {74.5, 23.0}});
    input.Add({{43.0, 28.5}, {43.0, 38.5}});
    const FitResult result = Fit(input, {}, ink);
    ASSERT_EQ(result.entities.size(), 3u);
    EXPECT_NEAR(result.entities[0].width, 1.0, 0.3);
    EXPECT_NEAR(result.entities[1].width, 6.0, 0.6);
    EXPECT_NEAR(result.entities[2].width, 6.0, 0.6);
    ASSERT_EQ(result.penWidths.size(), 2u);
    EXPECT_EQ(result.entities[0].pen, 0);
    EXPECT_EQ(result.entities[1].pen, 1);
    EXPECT_EQ(result.entities[2].pen, 1);
    // Half the thick ink's width, within the limits.
    EXPECT_EQ(result.tolerance, TVemotrace_fit::kMaxTolerance);
}

// Faults: a kept width given to another segment from the same point (or
// to the same one run the other way, whose probes lie elsewhere), or a
// width kept that is not the one probed.
TEST(Fit, KeptWidthsAreTheProbedWidthsOfTheSameSegment) {
    AsciiBitmap ascii(80, 40);
    ascii.FillBox(5, 5, 74, 5);    // one pixel
    ascii.FillBox(5, 20, 74, 25);  // six pixels
    const PackedBitmap ink = PackedBitmap::FromBytes(ascii.View());
    const Point a{20.5, 5.5}, thin{60.5, 5.5}, thick{60.3, 23.1}, from{20.2, 22.9};
    fit::pens::InkWidths widths(ink);
    EXPECT_EQ(widths.Segment(a, thin), fit::pens::segmentWidth(ink, a, thin));
    const std::vector<Point> path{from, thick, a, thin};
    const std::vector<double> kept = widths.Segments(path);
    for (const auto& known : {kept, widths.Known(path), widths.Known(std::vector<Point>{thin, a, thick, from})}) {
        ASSERT_EQ(known.size(), 3u);
    }
    const std::vector<double> back = widths.Known(std::vector<Point>{thin, a, thick, from});
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(kept[k], fit::pens::segmentWidth(ink, path[k], path[k + 1]));
        EXPECT_EQ(widths.Known(path)[k], kept[k]);
        EXPECT_EQ(back[k], fit::pens::segmentWidth(ink, path[3 - k], path[2 - k]));
    }
    // The same start point, another end: its own width, not a's to thin.
    EXPECT_EQ(widths.Known(std::vector<Point>{a, thick})[0], fit::pens::segmentWidth(ink, a, thick));
    EXPECT_NEAR(kept[0], 6.0, 0.6);
    EXPECT_NEAR(kept[2], 1.0, 0.3);
}

// Faults: a thick line's free end left where the trace ran into its round
// cap, or at a hook into the cap's corner; an end moved where other lines
// end too (a junction opened), or where the user gave the tolerance.
TEST(Fit, ThickFreeEndsEndAtTheCentreOfTheirCap) {
    // A pen of 10 px drawn from (20, 20) to (100, 20): round caps about its ends.
    AsciiBitmap ascii(130, 60);
    ascii.FillRoundStroke(20, 100, 20, 5);
    ascii.FillBox(100, 20, 100, 50);  // a thin line ending on the thick one's end
    const PackedBitmap ink = PackedBitmap::FromBytes(ascii.View());
    const Point hookEnd{15.5, 17.5}, hookCorner{18.0, 20.0}, junction{100.0, 20.0};  // two ends: chained
    Input input;
    input.Add({hookEnd, hookCorner, {60, 20.2}, junction});
    input.Add({junction, {100.5, 50.5}});
    input.Add({{100.5, 50.5}, {110.5, 50.5}});  // a third end there: no free end
    input.Add({{100.5, 50.5}, {100.5, 56.5}});
    for (const double tolerance : {0.0, 1.0}) {
        SCOPED_TRACE("tolerance " + std::to_string(tolerance));
        FitOptions options;
        options.tolerance = tolerance;
        const FitResult result = Fit(input, options, ink);
        const FitEntity& thick = result.entities[0];
        ASSERT_EQ(thick.kind, EntityKind::Line);
        if (tolerance > 0) {
            EXPECT_EQ(thick.start, hookEnd);
        } else {
            EXPECT_NEAR(thick.start.x, 20.0, 0.5);
            EXPECT_NEAR(thick.start.y, 20.0, 0.5);
        }
        // The thin line chains on from the thick one's end; the chain ends
        // where three lines end.
        bool corner = false;
        for (std::size_t e = 0; e < result.chainBegin[1]; ++e) corner = corner || result.entities[e].end == junction;
        EXPECT_TRUE(corner);
        EXPECT_EQ(result.entities[result.chainBegin[1] - 1].end, (Point{100.5, 50.5}));
    }
}

// Faults: a snapped line's shared end left behind (a gap at the corner),
// lines beyond half a degree snapped, an arc not following its moved end.
TEST(Fit, SnappedLinesAreExactAndKeepTheirMeetingPoints) {
    Input input;
    const Point corner{100, 50.6};
    input.Add({{0, 50}, corner});                   // 0.34 degrees off level
    input.Add({corner, {100.5, 150}});              // 0.29 degrees off upright
    input.Add({{0, 0}, {100, 2}});                  // 1.1 degrees: stays
    input.Add(ArcPoints({100.5, 200}, 50, -pi / 2, pi / 2, 20));  // starts at the upright line's end
    FitOptions options;
    options.snapAngles = true;
    const FitResult result = Fit(input, options);
    // The level line, the upright one and the arc meet end to end in pairs:
    // one chain.
    ASSERT_EQ(result.entities.size(), 4u);
    ASSERT_EQ(result.ChainCount(), 2u);
    const FitEntity& level = result.entities[0];
    const FitEntity& upright = result.entities[1];
    EXPECT_EQ(level.start.y, level.end.y);
    EXPECT_EQ(upright.start.x, upright.end.x);
    EXPECT_EQ(level.end, upright.start);
    EXPECT_EQ(result.entities[3].end, (Point{100, 2}));
    const FitEntity& arc = result.entities[2];
    ASSERT_EQ(arc.kind, EntityKind::Arc);
    EXPECT_EQ(arc.start, upright.end);
    EXPECT_NEAR(distance(arc.centre, arc.start), arc.radius, 1e-9);
    EXPECT_NEAR(distance(arc.centre, arc.end), arc.radius, 1e-9);
}

// Faults: pieces that meet in pairs fitted apart (a circle in quarters
// gives four arcs), pieces chained across a junction of three (the
// junction lost), an open ring the join step left not closed into its
// circle or a drawn three-quarter arc taken for one, a small circle's few
// vertices refused, one vertex a pixel off refusing a ring whose other
// vertices lie close (the circle fitted to the many, not to all).
TEST(Fit, StrokesInPiecesAndRingsLeftOpenBecomeOneEntity) {
    using K = EntityKind;
    const Point c{100, 100};
    {
        Input quarters;
        for (int k = 0; k < 4; ++k) quarters.Add(ArcPoints(c, 30, k * pi / 2, pi / 2, 8));
        const FitResult result = Fit(quarters);
        EXPECT_EQ(Kinds(result), (std::vector<K>{K::Circle}));
    }
    {
        Input junction;  // three arcs from one point: no chaining there
        junction.Add(ArcPoints(c, 30, 0, pi / 2, 8));
        junction.Add(ArcPoints(c, 30, 0, -pi / 2, 8));
        junction.Add({{130, 100}, {180, 100}});
        const FitResult result = Fit(junction);
        ASSERT_EQ(result.ChainCount(), 3u);
        for (std::size_t chain = 0; chain < 3; ++chain) {
            EXPECT_EQ(result.entities[result.chainBegin[chain]].start, (Point{130, 100}));
        }
    }
    const struct {
        const char* name;
        std::vector<Point> polyline;
        double tolerance;
        K kind;
    } cases[] = {
        {"ring open by 30 degrees", ArcPoints(c, 30, 0, 11 * pi / 6, 22), 1.0, K::Circle},
        {"drawn arc of three quarters", ArcPoints(c, 30, 0, 3 * pi / 2, 18), 1.0, K::Arc},
        {"circle of 5 px with 64 degrees a vertex", [&] {
             std::vector<Point> ring;
             for (const double degrees : {0, 50, 114, 178, 232, 296, 360}) {
                 ring.push_back({c.x + 5 * std::cos(degrees * pi / 180), c.y + 5 * std::sin(degrees * pi / 180)});
             }
             ring.back() = ring.front();
             return ring;
         }(), 1.0, K::Circle},
        {"ring with one vertex 1.1 px off", [&] {
             std::vector<Point> ring = ArcPoints(c, 20, 0, 2 * pi, 24);
             ring[6].y += 1.1;  // at the bottom, pushed outwards
             return ring;
         }(), 1.0, K::Circle},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        Input input;
        input.Add(test.polyline);
        FitOptions options;
        options.tolerance = test.tolerance;
        const FitResult result = Fit(input, options);
        EXPECT_EQ(Kinds(result), (std::vector<K>{test.kind}));
    }
}

// Faults: a rounded corner traced with few vertices (as the join step
// leaves it) fitted as a flat arc over the leg and a second arc, the arc
// not tangent to its lines (its centre off the legs' normals), the
// corner's outer ends moved.
TEST(Fit, ARoundedCornerIsLineArcLineWithTangentJoins) {
    using K = EntityKind;
    const Point centre{85, 115};
    for (const double radius : {15.0, 30.0}) {
        SCOPED_TRACE("radius " + std::to_string(radius));
        std::vector<Point> polyline{{20, 115 - radius + 0.3}, {50, 115 - radius - 0.2}};
        const int steps = static_cast<int>(radius / 5);  // chords within half a pixel of the arc
        for (int k = 0; k <= steps; ++k) {
            const double a = -pi / 2 + k * pi / 2 / steps;
            polyline.push_back({centre.x + radius * std::cos(a), centre.y + radius * std::sin(a)});
        }
        polyline.push_back({centre.x + radius + 0.2, 150});
        polyline.push_back({centre.x + radius - 0.3, 190});
        Input input;
        input.Add(polyline);
        FitOptions options;
        options.tolerance = 1.0;
        const FitResult result = Fit(input, options);
        ASSERT_EQ(Kinds(result), (std::vector<K>{K::Line, K::Arc, K::Line}));
        const FitEntity& first = result.entities[0];
        const FitEntity& arc = result.entities[1];
        const FitEntity& last = result.entities[2];
        EXPECT_EQ(first.start, polyline.front());
        EXPECT_EQ(last.end, polyline.back());
        EXPECT_NEAR(arc.radius, radius, 1.0);
        // Tangent: the radius at each end square to the line there.
        const auto squareness = [&](const FitEntity& line, const Point& end) {
            const double lx = line.end.x - line.start.x, ly = line.end.y - line.start.y;
            const double rx = end.x - arc.centre.x, ry = end.y - arc.centre.y;
            return std::fabs(lx * rx + ly * ry) / (std::hypot(lx, ly) * std::hypot(rx, ry));
        };
        EXPECT_LT(squareness(first, arc.start), 1e-9);
        EXPECT_LT(squareness(last, arc.end), 1e-9);
    }
}

// Faults: the lines file left as the joined polylines, an arc written
// with too few points (beyond the tolerance) or as its chord.
TEST(Fit, TheLinesFileHoldsEachChainAsPointsWithinTheTolerance) {
    TempFolder folder;
    const std::string path = folder.File("temp.lix");
    join::lines::Polylines lines;
    const std::vector<Point> arc = ArcPoints({0, 0}, 200, 0, pi / 2, 40);
    lines.points = arc;
    lines.begin.push_back(lines.points.size());
    lines.points.insert(lines.points.end(), {{0, 200}, {-50, 200.2}, {-100, 200}});
    lines.begin.push_back(lines.points.size());
    {
        RecordWriter writer(path);
        writer.Open();
        int32_t polylines = 0, vertices = 0;
        join::lines::writePolylines(lines, writer, polylines, vertices);
        writer.Close();
    }
    const PackedBitmap noInk;
    TVemotrace_fit step(path, noInk, {});
    step.FitLines();
    const std::vector<Polyline> written = ReadPolylines(path);
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[1], (Polyline{{0, 200}, {-100, 200}}));
    const FitEntity& fitted = step.Result().entities[0];
    ASSERT_EQ(fitted.kind, EntityKind::Arc);
    EXPECT_GT(written[0].size(), 5u);
    EXPECT_EQ(written[0].front(), arc.front());
    EXPECT_EQ(written[0].back(), arc.back());
    for (std::size_t k = 1; k < written[0].size(); ++k) {
        const Point middle{(written[0][k - 1].x + written[0][k].x) / 2, (written[0][k - 1].y + written[0][k].y) / 2};
        EXPECT_LE(std::fabs(distance(middle, fitted.centre) - fitted.radius), step.Result().tolerance);
    }
}

// Faults: the hook rule dropping segment after segment until a thick
// stroke's whole zigzag end is gone (the drop not bounded by the ink's
// width from the traced end).
TEST(Fit, AThickZigzagEndLosesNoMoreThanItsCapsWidth) {
    // A pen of 6 px drawn along the polyline: a zigzag of 5.7 px legs.
    const std::vector<Point> drawn{{4, 40}, {8, 36}, {12, 40}, {16, 36}, {20, 40}, {24, 36}, {90, 36}};
    AsciiBitmap ascii(120, 60);
    for (int32_t y = 0; y < 60; ++y) {
        for (int32_t x = 0; x < 120; ++x) {
            for (std::size_t k = 1; k < drawn.size(); ++k) {
                if (fit::shapes::distanceToSegment({x + 0.5, y + 0.5}, drawn[k - 1], drawn[k]) <= 3) ascii.SetInk(x, y);
            }
        }
    }
    const PackedBitmap ink = PackedBitmap::FromBytes(ascii.View());
    Input input;
    input.Add(drawn);
    input.Add({{90, 36}, {90, 20}});  // a junction of three at the other end
    input.Add({{90, 36}, {90, 50}});
    const FitResult result = Fit(input, {}, ink);
    // Only legs within the pen's width of the end may go (and the end move
    // by half the width), the zigzag beyond stays.
    EXPECT_LT(result.entities[0].start.x, 17.0);
    EXPECT_GE(result.entities.size(), 4u);
}

// Faults: a rule that does not take its dirt away (a drawn line or circle
// left in pieces), one that takes away what is drawn (a long stem, a wide
// loop, a bubble round a real hole), dirt taken away where the user gave
// the tolerance (points would lie further off than it).
TEST(Fit, DirtAtJunctionsIsTakenAwayWithTheStepsOwnTolerance) {
    using K = EntityKind;
    const Point left{0, 50}, right{100, 50}, j{50, 50}, j2{58, 50};
    const struct {
        const char* name;
        std::vector<std::vector<Point>> polylines;
        std::size_t chains;  // with the step's own tolerance; without dirt, more
        std::vector<K> kinds;  // of the first chain
    } cases[] = {
        {"spur of 2 px", {{left, j}, {j, right}, {j, {50.5, 51.9}}}, 1, {K::Line}},
        {"stem of 4 px stays", {{left, j}, {j, right}, {j, {50, 54}}}, 3, {K::Line}},
        {"bubble round a pinhole", {{left, j}, {j, {54, 51}, j2}, {j, {54, 49}, j2}, {j2, right}}, 1, {K::Line}},
        {"bubble round a hole of 6 px stays", {{left, j}, {j, {54, 53}, j2}, {j, {54, 47}, j2}, {j2, right}}, 4,
         {K::Line}},
        {"small loop at a junction", {{left, j}, {j, {51, 51.5}, {49.5, 51.5}, j}, {j, right}}, 1, {K::Line}},
        {"loop of 4 px at a junction stays", {{left, j}, {j, {53, 53}, {47, 53}, j}, {j, right}}, 3, {K::Line}},
        {"thin loop at a stroke's end", {{left, j}, {j, {60, 50.6}, {70, 50}, {60, 49.4}, j}}, 1, {K::Line}},
        {"ring walked out and back", {{{10, 50.5}, {20, 50}, {10, 49.5}, {0, 50}, {10, 50.5}}}, 1, {K::Line}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Input input;
        for (const auto& polyline : c.polylines) input.Add(polyline);
        const FitResult result = Fit(input);
        ASSERT_EQ(result.ChainCount(), c.chains);
        EXPECT_EQ(Kinds(result), c.kinds);
        // A tolerance of the user's (here the step's own, 1 px without a
        // bitmap) keeps every polyline: more entities where there was dirt.
        FitOptions given;
        given.tolerance = 1.0;
        const std::size_t entities = Fit(input, given).entities.size();
        if (c.chains == 1) EXPECT_GT(entities, result.entities.size());
        else EXPECT_EQ(entities, result.entities.size());
    }
}

// Fault: the widest width a probe can give set too narrow, so a spur no
// longer than solid ink's width is kept without probing it. In ink wider
// than every probe, the arms measure that widest width.
TEST(Fit, ASpurAsLongAsTheWidestWidthIsStillDirt) {
    AsciiBitmap ascii(400, 400);
    ascii.FillBox(0, 0, 399, 399);
    const PackedBitmap ink = PackedBitmap::FromBytes(ascii.View());
    const Point j{200, 200};
    Input input;
    input.Add({{100, 200}, j});
    input.Add({j, {300, 200}});
    input.Add({j, {200, 297.2}});  // 97.2 px: the widest width and the slack is 97.25
    EXPECT_EQ(Fit(input, {}, ink).ChainCount(), 1u);
}

// Faults: pieces across a break not joined (a line in two), joined into
// what is no one LINE or ARC (a corner across a gap), joined further apart
// than the join step bridges, or to an end that is not the nearest.
TEST(Fit, PiecesAcrossABreakJoinOnlyIntoOneLineOrArc) {
    using K = EntityKind;
    const std::vector<Point> arc = ArcPoints({50, 50}, 40, 0, 2.0, 40);  // 2 px a segment
    const struct {
        const char* name;
        std::vector<std::vector<Point>> polylines;
        std::vector<std::vector<K>> kinds;
    } cases[] = {
        {"line broken by 2 px", {{{0, 50}, {40, 50}}, {{42, 50.3}, {100, 50}}}, {{K::Line}}},
        {"arc broken by 2 px",
         {std::vector<Point>(arc.begin(), arc.begin() + 20), std::vector<Point>(arc.begin() + 20, arc.end())},
         {{K::Arc}}},
        {"corner across a gap", {{{0, 50}, {40, 50}}, {{42, 51}, {60, 70}}}, {{K::Line}, {K::Line}}},
        {"line broken by 5 px", {{{0, 50}, {40, 50}}, {{45, 50}, {100, 50}}}, {{K::Line}, {K::Line}}},
        {"the nearer of two ends",
         {{{0, 50}, {40, 50}}, {{42, 50}, {100, 50}}, {{40, 51.5}, {40, 90}}},
         {{K::Line}, {K::Line}, {K::Line}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Input input;
        for (const auto& polyline : c.polylines) input.Add(polyline);
        const FitResult result = Fit(input);
        ASSERT_EQ(result.ChainCount(), c.kinds.size());
        for (std::size_t chain = 0; chain < c.kinds.size(); ++chain) EXPECT_EQ(Kinds(result, chain), c.kinds[chain]);
    }
}

// Faults: a free end's own point forced on the line (a stroke whose end
// wanders within the ink cut into pieces), an end at a junction moved (a
// gap opened), a free end moved beyond the tolerance, an arc made of a
// stroke with a straight stretch.
TEST(Fit, StrokesWithFreeEndsBecomeTheEntityTheirPointsFollowBest) {
    using K = EntityKind;
    const std::vector<Point> wandering{{0, -0.9}, {5, 0.9}, {50, 0}, {95, -0.9}, {100, 0.9}};
    {
        Input input;
        input.Add(wandering);
        const FitResult result = Fit(input);
        ASSERT_EQ(Kinds(result), (std::vector<K>{K::Line}));
        EXPECT_LE(distance(result.entities[0].start, wandering.front()), result.tolerance);
        EXPECT_LE(distance(result.entities[0].end, wandering.back()), result.tolerance);
    }
    {
        Input input;  // one free end, the other at a junction of three
        const std::vector<Point> stroke{{0, -0.9}, {5, 0.9}, {50, 0}, {100, 0}};
        input.Add(stroke);
        input.Add({stroke.back(), {100, 30}});
        input.Add({stroke.back(), {130, 0}});
        const FitResult result = Fit(input);
        ASSERT_EQ(Kinds(result), (std::vector<K>{K::Line}));
        EXPECT_EQ(result.entities[0].end, stroke.back());
        EXPECT_LE(distance(result.entities[0].start, stroke.front()), result.tolerance);
    }
    {
        std::vector<Point> arc = ArcPoints({0, 0}, 60, 0.3, 1.6, 24);
        const auto moveOff = [](Point& p, double by) { p = {p.x * (1 + by / 60), p.y * (1 + by / 60)}; };
        moveOff(arc[0], 0.9);
        moveOff(arc[1], -0.9);
        moveOff(arc[23], -0.9);
        moveOff(arc[24], 0.9);
        Input input;
        input.Add(arc);
        const FitResult result = Fit(input);
        ASSERT_EQ(Kinds(result), (std::vector<K>{K::Arc}));
        EXPECT_NEAR(result.entities[0].radius, 60, 3.0);  // any circle within the tolerance
        EXPECT_LE(distance(result.entities[0].start, arc.front()), result.tolerance);
    }
    {
        Input input;  // a long straight leg and a bend: no one arc
        std::vector<Point> hook{{-100, 60.9}, {-50, 59.1}, {0, 60}};
        const std::vector<Point> bend = ArcPoints({0, 0}, 60, pi / 2, -pi / 2, 12);
        hook.insert(hook.end(), bend.begin() + 1, bend.end());
        input.Add(hook);
        const FitResult result = Fit(input);
        EXPECT_NE(Kinds(result), (std::vector<K>{K::Arc}));
    }
}

}  // namespace
