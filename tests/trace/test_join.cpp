// The join step: small drawings traced, then joined, with the polylines
// they must come out as; a property check on random drawings; the lines
// file's damage and size limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "ascii_bitmap.h"
#include "polyline_file.h"
#include "square_files.h"
#include "trace/Vemotrace_compv.h"
#include "trace/Vemotrace_join.h"
#include "trace/Vemotrace_packed.h"
#include "trace/Vemotrace_records.h"

namespace {

using square_files::TempFolder;

// Traces the bitmap in `folder`; returns the lines file's path.
std::string Trace(const TempFolder& folder, const AsciiBitmap& bitmap) {
    TVemotrace_compV pipeline(folder.File("drawing.bmp"));
    pipeline.RunTrace(bitmap.View());
    return pipeline.CollectResults().linesPath;
}

std::vector<Polyline> TraceAndJoin(const TempFolder& folder, const AsciiBitmap& bitmap) {
    const std::string lines = Trace(folder, bitmap);
    const PackedBitmap ink = PackedBitmap::FromBytes(bitmap.View());
    TVemotrace_join joiner(lines, ink);
    joiner.JoinLines();
    std::vector<Polyline> polylines = ReadPolylines(lines);
    int32_t vertices = 0;
    for (const Polyline& p : polylines) vertices += static_cast<int32_t>(p.size());
    EXPECT_EQ(joiner.PolylineCount(), static_cast<int32_t>(polylines.size()));
    EXPECT_EQ(joiner.VertexCount(), vertices);
    return polylines;
}

double Distance(const TracePoint& a, const TracePoint& b) { return std::hypot(a.x - b.x, a.y - b.y); }

double SegmentDistance(const TracePoint& p, const TracePoint& a, const TracePoint& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, squared = dx * dx + dy * dy;
    const double t = squared > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / squared, 0.0, 1.0) : 0.0;
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

double DistanceToLines(const TracePoint& p, const std::vector<Polyline>& lines) {
    double best = 1e9;
    for (const Polyline& line : lines) {
        for (std::size_t k = 0; k + 1 < line.size(); ++k)
            best = std::min(best, SegmentDistance(p, line[k], line[k + 1]));
    }
    return best;
}

bool IsClosed(const Polyline& p) { return p.size() > 2 && p.front() == p.back(); }

// One-pixel strokes across a bitmap of the given size, from (x0, y0) to
// (x1, y1), pixel centres; `thickness` pixels square stamped along it.
void DrawStroke(AsciiBitmap& bitmap, double x0, double y0, double x1, double y1, int thickness) {
    const int steps = static_cast<int>(std::max(std::abs(x1 - x0), std::abs(y1 - y0))) * 2 + 1;
    for (int s = 0; s <= steps; ++s) {
        const auto x = static_cast<int32_t>(std::lround(x0 + (x1 - x0) * s / steps));
        const auto y = static_cast<int32_t>(std::lround(y0 + (y1 - y0) * s / steps));
        bitmap.FillBox(x - thickness / 2, y - thickness / 2, x - thickness / 2 + thickness - 1,
                       y - thickness / 2 + thickness - 1);
    }
}

// Clears a break `gap` pixels wide straight across the stroke from (x0, y0)
// to (x1, y1), `at` pixels along it from (x0, y0).
void CutAcross(AsciiBitmap& bitmap, double x0, double y0, double x1, double y1, double at, double gap) {
    const double length = std::hypot(x1 - x0, y1 - y0);
    const double ux = (x1 - x0) / length, uy = (y1 - y0) / length;
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        for (int32_t x = 0; x < bitmap.Width(); ++x) {
            const double t = (x - x0) * ux + (y - y0) * uy;
            if (std::abs(t - at) <= gap / 2) bitmap.SetInk(x, y, false);
        }
    }
}

struct JoinCase {
    const char* fault;
    AsciiBitmap bitmap;
    std::size_t polylines;
    std::size_t closed;  // how many of them are closed rings
};

TEST(Join, SmallDrawingsComeOutAsOnePolylinePerStroke) {
    AsciiBitmap diagonal(24, 24);
    DrawStroke(diagonal, 2, 2, 21, 21, 1);
    AsciiBitmap shallow(40, 20);
    DrawStroke(shallow, 1, 3, 38, 16, 1);  // one-pixel steps that the trace leaves in pieces
    AsciiBitmap tee(30, 24);
    DrawStroke(tee, 2, 3, 27, 3, 2);
    DrawStroke(tee, 14, 4, 14, 21, 2);
    AsciiBitmap cross(30, 30);
    DrawStroke(cross, 2, 15, 27, 15, 1);
    DrawStroke(cross, 15, 2, 15, 27, 1);
    AsciiBitmap ring(24, 24);
    for (int a = 0; a < 720; ++a) {
        const double t = a * 3.14159265358979 / 360;
        ring.SetInk(static_cast<int32_t>(std::lround(11.5 + 8 * std::cos(t))),
                    static_cast<int32_t>(std::lround(11.5 + 8 * std::sin(t))));
    }
    AsciiBitmap squareRing(20, 20);
    squareRing.FillBox(3, 3, 16, 16);
    squareRing.FillBox(6, 6, 13, 13);
    for (int y = 6; y <= 13; ++y) {
        for (int x = 6; x <= 13; ++x) squareRing.SetInk(x, y, false);
    }
    AsciiBitmap spur(40, 14);  // a thick bar with a bump: its squares grow a spur
    spur.FillBox(2, 4, 37, 9);
    spur.FillBox(19, 2, 21, 3);
    AsciiBitmap smallGap(40, 6);
    smallGap.FillBox(2, 2, 17, 2);
    smallGap.FillBox(20, 2, 37, 2);  // two pixels of paper between
    AsciiBitmap bump(40, 20);  // a pixel of edge noise where the line steps
    DrawStroke(bump, 1, 3, 38, 16, 1);
    bump.SetInk(13, 6);
    bump.SetInk(23, 12);
    AsciiBitmap wideGap(40, 6);
    wideGap.FillBox(2, 2, 15, 2);
    wideGap.FillBox(21, 2, 37, 2);  // five pixels of paper between
    AsciiBitmap thickWideGap(64, 16);  // thick ink is bridged over ink, never over more paper
    thickWideGap.FillBox(2, 3, 27, 12);
    thickWideGap.FillBox(33, 3, 61, 12);

    const std::vector<JoinCase> cases{
        {"a one-pixel diagonal is left unlinked by the trace", diagonal, 1, 0},
        {"a shallow one-pixel line breaks at its steps", shallow, 1, 0},
        {"a T-junction must stay three lines, never joined across", tee, 3, 0},
        {"a crossing must stay four lines", cross, 4, 0},
        {"a ring must come out closed", ring, 1, 1},
        {"a thick square ring must come out closed", squareRing, 1, 1},
        {"a spur at a bump must go", spur, 1, 0},
        {"a two-pixel break is bridged", smallGap, 1, 0},
        {"edge noise on a thin line turns its pieces' ends aside", bump, 1, 0},
        {"a five-pixel gap separates two strokes", wideGap, 2, 0},
        {"a five-pixel gap in thick ink separates two strokes", thickWideGap, 2, 0},
    };
    for (const JoinCase& c : cases) {
        SCOPED_TRACE(std::string(c.fault) + "\n" + c.bitmap.Text());
        TempFolder folder;
        const std::vector<Polyline> polylines = TraceAndJoin(folder, c.bitmap);
        EXPECT_EQ(polylines.size(), c.polylines);
        EXPECT_EQ(static_cast<std::size_t>(std::count_if(polylines.begin(), polylines.end(), IsClosed)), c.closed);
        for (const Polyline& p : polylines) EXPECT_GE(p.size(), 2u);
    }
}

TEST(Join, AThickStrokeRunsAcrossItsBreaksFromEndToEnd) {
    // The ink ends flat at a break, where the trace forks or hooks to its
    // corners, and a short end beyond a break may be one square that the
    // trace leaves without a line.
    struct BreakCase {
        const char* fault;
        double x0, y0, x1, y1;
        int thickness;
        double breakAt;  // pixels along the stroke
    };
    const std::vector<BreakCase> cases{
        {"a slanting ten-pixel stroke forks at both sides of its break", 8, 8, 80, 40, 10, 40},
        {"an eight-pixel stroke ends in a loop at its break", 8, 8, 80, 40, 8, 45},
        {"a steep nine-pixel stroke hooks to a corner on both sides of its break", 10, 8, 45, 80, 9, 50},
        {"the end beyond a break is one square with no trace", 20, 8, 20, 80, 12, 12},
    };
    for (const BreakCase& c : cases) {
        AsciiBitmap bitmap(static_cast<int32_t>(std::max(c.x0, c.x1)) + 12,
                           static_cast<int32_t>(std::max(c.y0, c.y1)) + 12);
        DrawStroke(bitmap, c.x0, c.y0, c.x1, c.y1, c.thickness);
        CutAcross(bitmap, c.x0, c.y0, c.x1, c.y1, c.breakAt, 2.0);
        SCOPED_TRACE(std::string(c.fault) + "\n" + bitmap.Text());
        TempFolder folder;
        const std::vector<Polyline> polylines = TraceAndJoin(folder, bitmap);
        EXPECT_EQ(polylines.size(), 1u);
        if (polylines.size() != 1) continue;
        const TracePoint a = polylines[0].front(), b = polylines[0].back();
        const TracePoint start{c.x0 + 0.5, c.y0 + 0.5}, end{c.x1 + 0.5, c.y1 + 0.5};
        const double reach = c.thickness / 2.0 + 1.0;
        EXPECT_LT(std::min(Distance(a, start), Distance(b, start)), reach);
        EXPECT_LT(std::min(Distance(a, end), Distance(b, end)), reach);
    }
}

TEST(Join, ADiagonalRunsFromEndToEndOnItsPixelCentres) {
    // The trace alone gives nothing at all for a 45-degree one-pixel line.
    AsciiBitmap diagonal(24, 24);
    DrawStroke(diagonal, 2, 2, 21, 21, 1);
    TempFolder folder;
    const std::vector<Polyline> polylines = TraceAndJoin(folder, diagonal);
    ASSERT_EQ(polylines.size(), 1u);
    const TracePoint a = polylines[0].front(), b = polylines[0].back();
    const TracePoint start{2.5, 2.5}, end{21.5, 21.5};
    EXPECT_LT(std::min(Distance(a, start) + Distance(b, end), Distance(a, end) + Distance(b, start)), 1.0);
    EXPECT_EQ(polylines[0].size(), 2u) << "a straight line needs no inner vertices";
}

// Strokes drawn with a round pen: a pixel is ink when its centre lies
// within half the pen's width of the segment (image coordinates).
struct PenStroke {
    TracePoint a, b;
};

AsciiBitmap DrawWithPen(int32_t width, int32_t height, const std::vector<PenStroke>& strokes, double pen) {
    AsciiBitmap bitmap(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            for (const PenStroke& s : strokes) {
                if (SegmentDistance({x + 0.5, y + 0.5}, s.a, s.b) <= pen / 2) bitmap.SetInk(x, y);
            }
        }
    }
    return bitmap;
}

struct JunctionCase {
    const char* fault;
    std::vector<PenStroke> strokes;
    TracePoint meeting;  // where the strokes' centre lines meet
    std::size_t polylines;
};

TEST(Join, ThickStrokesMeetWhereTheirCentreLinesMeet) {
    const std::vector<JunctionCase> cases{
        {"a thick crossing must not come out as a knot of two three-way points",
         {{{8, 30}, {72, 50}}, {{30, 72}, {50, 8}}},
         {40.0, 40.0},
         4},
        {"a thick T must meet on the bar's centre line",
         {{{8, 20}, {72, 20}}, {{40, 20}, {46, 72}}},
         {40.0, 20.0},
         3},
        {"the arms of a thick Y must not bend towards an off-centre junction",
         {{{40, 40}, {40, 6}}, {{40, 40}, {72, 62}}, {{40, 40}, {8, 64}}},
         {40.0, 40.0},
         3},
    };
    for (const double pen : {7.0, 11.0}) {
        for (const JunctionCase& c : cases) {
            const AsciiBitmap bitmap = DrawWithPen(80, 80, c.strokes, pen);
            SCOPED_TRACE(std::string(c.fault) + ", pen " + std::to_string(pen) + "\n" + bitmap.Text());
            TempFolder folder;
            const std::vector<Polyline> polylines = TraceAndJoin(folder, bitmap);
            EXPECT_EQ(polylines.size(), c.polylines);
            // The junction: the one point where three or more polylines end.
            std::vector<TracePoint> ends;
            for (const Polyline& p : polylines) ends.insert(ends.end(), {p.front(), p.back()});
            std::vector<TracePoint> junctions;
            for (const TracePoint& e : ends) {
                if (std::count(ends.begin(), ends.end(), e) >= 3 &&
                    std::find(junctions.begin(), junctions.end(), e) == junctions.end()) {
                    junctions.push_back(e);
                }
            }
            EXPECT_EQ(junctions.size(), 1u);
            if (junctions.size() == 1) {
                EXPECT_LE(Distance(junctions[0], c.meeting), 1.0)
                    << "junction at (" << junctions[0].x << ", " << junctions[0].y << ")";
            }
            // Free ends are left out: a round pen's stroke reaches past its
            // centre line's end.
            for (const Polyline& p : polylines) {
                for (const TracePoint& q : p) {
                    if (std::count(ends.begin(), ends.end(), q) == 1) continue;
                    double nearest = 1e9;
                    for (const PenStroke& s : c.strokes) nearest = std::min(nearest, SegmentDistance(q, s.a, s.b));
                    EXPECT_LE(nearest, 1.0) << "vertex (" << q.x << ", " << q.y << ") off the centre lines";
                }
            }
        }
    }
}

struct CornerCase {
    const char* fault;
    std::vector<TracePoint> drawn;  // the pen's way; its inner points are the corners
    double width;
    int32_t sheetWidth = 110, sheetHeight = 72;
};

TEST(Join, CornersComeOutAsOneLineThroughTheCorner) {
    const std::vector<CornerCase> cases{
        {"a sharp thick corner leaves a knot and a tip line", {{8, 8}, {60, 34}, {8, 60}}, 12},
        {"a right-angled thick corner is cut across", {{8, 12}, {58, 12}, {58, 62}}, 12},
        {"a sharp one-pixel corner breaks where its legs touch", {{4, 4}, {40, 14}, {4, 24}}, 1},
        // A Z of lettering at 600 dpi: its lower corner's tip led on to where
        // the legs meet, then re-centred across the ink of both legs, slid
        // 2.4 pixels off the corner.
        {"a sharp thick corner's tip re-centred off where its legs meet",
         {{40, 90.5}, {94.5, 90.5}, {57, 149.5}, {120, 149.5}},
         9.5,
         140,
         165},
    };
    for (const CornerCase& c : cases) {
        std::vector<PenStroke> strokes;
        for (std::size_t k = 0; k + 1 < c.drawn.size(); ++k) strokes.push_back({c.drawn[k], c.drawn[k + 1]});
        const AsciiBitmap bitmap = DrawWithPen(c.sheetWidth, c.sheetHeight, strokes, c.width);
        SCOPED_TRACE(std::string(c.fault) + "\n" + bitmap.Text());
        TempFolder folder;
        const std::vector<Polyline> polylines = TraceAndJoin(folder, bitmap);
        EXPECT_EQ(polylines.size(), 1u);
        if (polylines.size() != 1) continue;
        for (std::size_t k = 1; k + 1 < c.drawn.size(); ++k) {
            const TracePoint corner{c.drawn[k].x, c.drawn[k].y};
            double nearest = 1e9;
            for (const TracePoint& p : polylines[0]) nearest = std::min(nearest, Distance(p, corner));
            EXPECT_LE(nearest, 1.5) << "corner (" << corner.x << ", " << corner.y << ")";
        }
    }
}

TEST(Join, ThickCurvesAreTracedOnTheirCentreLine) {
    // Squares fill a thick curve from its edges and the trace drifts to
    // the inside; the wider the pen and the tighter the curve, the further.
    struct Arc {
        double radius, pen, from, to;  // from and to in degrees
    };
    const TracePoint centre{40.0, 40.0};
    constexpr double kPi = 3.14159265358979;
    for (const Arc& arc : {Arc{26, 11, 0, 360}, Arc{18, 9, 0, 360}, Arc{20, 9, 30, 300}, Arc{30, 7, 200, 340}}) {
        const auto end = [&](double degrees) {
            return TracePoint{centre.x + arc.radius * std::cos(degrees * kPi / 180),
                              centre.y + arc.radius * std::sin(degrees * kPi / 180)};
        };
        AsciiBitmap bitmap(80, 80);
        for (int32_t y = 0; y < 80; ++y) {
            for (int32_t x = 0; x < 80; ++x) {
                // Round ends, as a pen draws them.
                const TracePoint p{x + 0.5, y + 0.5};
                double angle = std::atan2(p.y - centre.y, p.x - centre.x) * 180 / kPi;
                if (angle < 0) angle += 360;
                double away = std::abs(Distance(p, centre) - arc.radius);
                if (angle < arc.from || angle > arc.to) {
                    away = std::min(Distance(p, end(arc.from)), Distance(p, end(arc.to)));
                }
                if (away <= arc.pen / 2) bitmap.SetInk(x, y);
            }
        }
        SCOPED_TRACE(bitmap.Text());
        TempFolder folder;
        const std::vector<Polyline> polylines = TraceAndJoin(folder, bitmap);
        const bool ring = arc.to - arc.from == 360;
        if (ring) {
            EXPECT_EQ(polylines.size(), 1u);
        }
        for (const Polyline& p : polylines) {
            // Not near an open arc's ends: a pen's stroke reaches past them.
            for (const TracePoint& q : p) {
                if (!ring && std::min(Distance(q, end(arc.from)), Distance(q, end(arc.to))) < arc.pen) continue;
                EXPECT_LE(std::abs(Distance(q, centre) - arc.radius), 1.0)
                    << "vertex (" << q.x << ", " << q.y << ") of a curve of radius " << arc.radius << ", pen "
                    << arc.pen;
            }
        }
    }
}

// On random drawings of thin and thick strokes: every joined point lies on
// the ink (within a pixel), and no drawn stroke loses coverage: every part
// of it within 1.5 pixels of the trace is still near a joined line, allowing
// for the half pixel by which the join may straighten a line, and for one
// sample in fifty: a stroke that ends a pixel or two past a junction looks
// just like a spur there.
constexpr double kSimplified = 0.5;
constexpr int kSpurSample = 1;
TEST(Join, OnRandomDrawingsPointsStayOnTheInkAndNoStrokeLosesCoverage) {
    std::mt19937 random(20261207);
    const auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    for (int drawing = 0; drawing < 60; ++drawing) {
        AsciiBitmap bitmap(64, 48);
        struct Stroke {
            double x0, y0, x1, y1;
        };
        std::vector<Stroke> strokes;
        for (int s = 0; s < 4; ++s) {
            const Stroke stroke{uniform(3, 60), uniform(3, 44), uniform(3, 60), uniform(3, 44)};
            if (std::hypot(stroke.x1 - stroke.x0, stroke.y1 - stroke.y0) < 8) continue;
            DrawStroke(bitmap, stroke.x0, stroke.y0, stroke.x1, stroke.y1, 1 + static_cast<int>(random() % 4));
            strokes.push_back(stroke);
        }
        SCOPED_TRACE(bitmap.Text());
        TempFolder folder;
        const std::string linesPath = Trace(folder, bitmap);
        const std::vector<Polyline> plain = ReadPolylines(linesPath);
        TVemotrace_join(linesPath, PackedBitmap::FromBytes(bitmap.View())).JoinLines();
        const std::vector<Polyline> joined = ReadPolylines(linesPath);

        for (const Polyline& line : joined) {
            for (const TracePoint& p : line) {
                double nearest = 1e9;
                for (int32_t y = 0; y < bitmap.Height(); ++y) {
                    for (int32_t x = 0; x < bitmap.Width(); ++x) {
                        if (bitmap.IsInk(x, y)) nearest = std::min(nearest, Distance(p, {x + 0.5, y + 0.5}));
                    }
                }
                EXPECT_LE(nearest, 1.0) << "point (" << p.x << ", " << p.y << ") off the ink";
            }
        }
        for (const Stroke& s : strokes) {
            int before = 0, after = 0, samples = 0;
            for (double t = 0; t <= 1.0; t += 0.02, ++samples) {
                const TracePoint p{s.x0 + 0.5 + (s.x1 - s.x0) * t, s.y0 + 0.5 + (s.y1 - s.y0) * t};
                before += DistanceToLines(p, plain) <= 1.5;
                after += DistanceToLines(p, joined) <= 1.5 + kSimplified;
            }
            EXPECT_GE(after + kSpurSample, before)
                << "stroke (" << s.x0 << ", " << s.y0 << ") - (" << s.x1 << ", " << s.y1 << ")";
        }
    }
}

TEST(Join, ASheetOfManyDrawingsJoinsEachAsItJoinsOneAlone) {
    // Enough copies that the step shares its ends, junctions and chains
    // between two threads in blocks: a pair, chain or junction lost or
    // taken twice at a block's edge shows as a copy unlike the one alone.
    constexpr int32_t kTile = 64, kAcross = 20;
    const std::vector<PenStroke> thick{{{8, 10}, {56, 10}}, {{30, 10}, {34, 40}}};  // a T, pen 7
    const auto drawTile = [&](AsciiBitmap& bitmap, int32_t x0, int32_t y0) {
        for (int32_t y = 0; y < kTile; ++y) {
            for (int32_t x = 0; x < kTile; ++x) {
                for (const PenStroke& s : thick) {
                    if (SegmentDistance({x + 0.5, y + 0.5}, s.a, s.b) <= 3.5) bitmap.SetInk(x0 + x, y0 + y);
                }
            }
        }
        bitmap.FillBox(x0 + 4, y0 + 50, x0 + 26, y0 + 50);  // a thin line with a break
        bitmap.FillBox(x0 + 29, y0 + 50, x0 + 58, y0 + 50);
        DrawStroke(bitmap, x0 + 42, y0 + 22, x0 + 58, y0 + 38, 1);  // a one-pixel diagonal
        bitmap.FillBox(x0 + 4, y0 + 56, x0 + 24, y0 + 61);  // a thick bar with a break
        bitmap.FillBox(x0 + 27, y0 + 56, x0 + 50, y0 + 61);
    };
    AsciiBitmap one(kTile, kTile);
    drawTile(one, 0, 0);
    AsciiBitmap sheet(kTile * kAcross, kTile * kAcross);
    for (int32_t ty = 0; ty < kAcross; ++ty) {
        for (int32_t tx = 0; tx < kAcross; ++tx) drawTile(sheet, tx * kTile, ty * kTile);
    }
    TempFolder alone, many;
    const std::vector<Polyline> single = TraceAndJoin(alone, one);
    const std::vector<Polyline> all = TraceAndJoin(many, sheet);
    ASSERT_GE(single.size(), 3u);
    std::vector<std::vector<Polyline>> byTile(kAcross * kAcross);
    for (const Polyline& p : all) {
        const auto tx = static_cast<int32_t>(p.front().x / kTile), ty = static_cast<int32_t>(p.front().y / kTile);
        ASSERT_TRUE(tx >= 0 && ty >= 0 && tx < kAcross && ty < kAcross);
        Polyline back;
        for (const TracePoint& q : p) back.push_back({q.x - tx * kTile, q.y - ty * kTile});
        byTile[ty * kAcross + tx].push_back(back);
    }
    for (std::size_t tile = 0; tile < byTile.size(); ++tile) {
        SCOPED_TRACE("copy " + std::to_string(tile));
        ASSERT_EQ(byTile[tile].size(), single.size());
        for (const Polyline& p : byTile[tile]) {
            for (const TracePoint& q : p) EXPECT_LE(DistanceToLines(q, single), 1e-6);
        }
        for (const Polyline& p : single) {
            for (const TracePoint& q : p) EXPECT_LE(DistanceToLines(q, byTile[tile]), 1e-6);
        }
    }
}

// Lines files written here byte by byte, as stage 5 writes them.
void WriteLines(const std::string& path, const std::vector<Polyline>& polylines, std::size_t cut = 0) {
    std::vector<uint8_t> bytes;
    const auto put = [&](const void* value, std::size_t size) {
        const auto* b = static_cast<const uint8_t*>(value);
        bytes.insert(bytes.end(), b, b + size);  // the hosts we build on are little-endian
    };
    for (const Polyline& p : polylines) {
        const auto n = static_cast<int32_t>(p.size());
        put(&n, 4);
        for (const TracePoint& q : p) {
            put(&q.x, 8);
            put(&q.y, 8);
        }
    }
    bytes.resize(bytes.size() - cut);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

TEST(Join, ADamagedLinesFileIsReportedAndLeftAsItWas) {
    TempFolder folder;
    const std::string path = folder.File("temp.lix");
    const AsciiBitmap bitmap(16, 16);
    WriteLines(path, {{{1.5, 1.5}, {9.5, 1.5}}}, 5);  // ends inside the last point
    const auto size = std::filesystem::file_size(path);
    EXPECT_THROW(TVemotrace_join(path, PackedBitmap::FromBytes(bitmap.View())).JoinLines(), FileError);
    EXPECT_EQ(std::filesystem::file_size(path), size);

    WriteLines(path, {{{1.5, 1.5}, {std::nan(""), 1.5}}});
    try {
        TVemotrace_join(path, PackedBitmap::FromBytes(bitmap.View())).JoinLines();
        ADD_FAILURE() << "a point that is not a number must be refused";
    } catch (const FileError& error) {
        EXPECT_EQ(error.Path(), path);
    }
    EXPECT_THROW(TVemotrace_join(folder.File("missing.lix"), PackedBitmap::FromBytes(bitmap.View())).JoinLines(),
                 FileError);
}

TEST(Join, ALongChainIsSplitWhereThePolylineLimitIs) {
    // A zigzag that no vertex can be dropped from, as pieces that meet end
    // to end: one chain of 4001 points (on a blank bitmap, so no point is
    // moved).
    const AsciiBitmap bitmap(4100, 12);
    std::vector<Polyline> pieces;
    for (int start = 0; start < 4000; start += 500) {
        Polyline piece;
        for (int k = start; k <= start + 500; ++k) piece.push_back({10.0 + k, k % 2 == 0 ? 3.0 : 8.0});
        pieces.push_back(piece);
    }
    TempFolder folder;
    const std::string path = folder.File("temp.lix");
    WriteLines(path, pieces);
    TVemotrace_join(path, PackedBitmap::FromBytes(bitmap.View())).JoinLines();
    const std::vector<Polyline> joined = ReadPolylines(path);
    ASSERT_EQ(joined.size(), 3u);
    for (const Polyline& p : joined) EXPECT_LE(p.size(), TVemotrace_join::kMaxJoinedPoints);
    EXPECT_EQ(joined[0].back(), joined[1].front());
    EXPECT_EQ(joined[1].back(), joined[2].front());
}

TEST(Join, TheInkIsPaintedAgainFromTheSquaresPixelForPixel) {
    // Catches a square painted a pixel off or cut at a word boundary: the
    // join step would then measure ink where there is none.
    std::mt19937 random(7);
    for (int drawing = 0; drawing < 20; ++drawing) {
        AsciiBitmap bitmap(150, 40);  // rows of three words, the last one partly used
        for (int s = 0; s < 6; ++s) {
            DrawStroke(bitmap, random() % 150, random() % 40, random() % 150, random() % 40,
                       1 + static_cast<int>(random() % 9));
        }
        TempFolder folder;
        TVemotrace_compV pipeline(folder.File("drawing.bmp"));
        pipeline.RunTrace(bitmap.View());
        const TraceResult result = pipeline.CollectResults();
        const PackedBitmap ink =
            TVemotrace_join::InkFromSquares(result.squaresPath, result.squareCount, bitmap.Width(), bitmap.Height());
        for (int32_t y = 0; y < bitmap.Height(); ++y) {
            for (int32_t x = 0; x < bitmap.Width(); ++x) {
                ASSERT_EQ(ink.IsInk(x, y), bitmap.IsInk(x, y)) << "(" << x << ", " << y << ")\n" << bitmap.Text();
            }
        }
    }
    TempFolder folder;
    const std::string path = folder.File("temp.sqr");
    const int32_t outside[4] = {0, 140, 10, 11};  // index, x, y, size: 140 + 11 > 150
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(outside, sizeof outside, 1, file);
    std::fclose(file);
    EXPECT_THROW(TVemotrace_join::InkFromSquares(path, 1, 150, 40), FileError);
}

}  // namespace
