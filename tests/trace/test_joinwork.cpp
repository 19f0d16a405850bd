// The join step's work limits: what it leaves alone where ink or free ends
// crowd beyond any drawing, and that its search for pairs of ends, cut to
// cells as small as the ink allows, still meets every pair a bridge could
// join; and that dropping a chain's vertices weighs each point a bounded
// number of times; and that a few ends far out cost the node search no
// more than their count. Each case names the fault it catches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ascii_bitmap.h"
#include "polyline_file.h"
#include "square_files.h"
#include "trace/Vemotrace_join.h"
#include "trace/Vemotrace_packed.h"
#include "trace/Vemotrace_records.h"
#include "trace/join/Vemotrace_joinlines.h"
#include "trace/join/Vemotrace_joinshape.h"
#include "trace/join/Vemotrace_joinwork.h"

namespace {

using join::gaps::FreeEnd;
using join::lines::Point;

std::size_t RunCount(const AsciiBitmap& ascii) {
    return TVemotrace_join::FindDiagonalRuns(PackedBitmap::FromBytes(ascii.View())).begin.size() - 1;
}

// Faults: dither taken for strokes (a checkerboard of single pixels gave a
// run for every second pixel, and the join step then weighed each of its
// ends against every end within a bridge: 8 times the trace's time and 3.5
// times its memory on 4000 x 4000 pixels); or the limit set so low that a
// hatching a pen can draw, or a lone diagonal stroke, loses its runs.
TEST(JoinWork, DiagonalRunsAreMadeOnStrokesButNotInDither) {
    struct Case {
        const char* fault;
        int32_t pitch;  // one-pixel lines at 45 degrees this far apart; 2 is a checkerboard
        bool gaps;      // a quarter of the pixels left out at random
        std::size_t runs;
    };
    const Case cases[] = {
        {"a checkerboard of single pixels makes no runs", 2, false, 0},
        {"nor does one with a quarter of its pixels left out", 2, true, 0},
        {"a hatching three pixels apart keeps a run per line", 3, false, 2 * 64 / 3 - 1},
        {"a lone diagonal line keeps its run", 1000, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        AsciiBitmap ascii(64, 64);
        std::mt19937 random(1);
        for (int32_t y = 0; y < 64; ++y) {
            for (int32_t x = 0; x < 64; ++x) {
                if ((x - y + 1000 * c.pitch) % c.pitch == 0 && !(c.gaps && random() % 4 == 0)) ascii.SetInk(x, y);
            }
        }
        EXPECT_EQ(RunCount(ascii), c.runs);
    }
}

// Faults: a crowd measured on the wrong cells, off by one at the limit, or
// the ends outside crowds reordered (the measuring order and so the lines
// would then depend on the crowd rule even where it drops nothing).
TEST(JoinWork, FreeEndsInACrowdedCellAreLeftOutAndTheOthersKeepTheCellsOrder) {
    using join::work::kCrowdedCell;
    using join::work::kGapCell;
    join::lines::Polylines lines;
    // Polyline k ends 0 and 1: the crowded cell (0, 0) gets one end more
    // than the limit, cell (1, 0) exactly the limit, cell (0, 1) one end.
    const auto add = [&](double x, double y) {
        lines.points.push_back({x, y});
        lines.points.push_back({x + 0.1, y});
        lines.begin.push_back(lines.points.size());
    };
    for (int32_t k = 0; k <= kCrowdedCell; ++k) add(1.0 + 0.1 * k, 5.0);
    for (int32_t k = 0; k < kCrowdedCell; ++k) add(kGapCell + 1.0 + 0.1 * k, 5.0);
    add(5.0, kGapCell + 5.0);
    std::vector<int32_t> ends;
    for (int32_t i = 0; i < lines.count(); ++i) ends.push_back(2 * i);  // one end of each
    std::reverse(ends.begin(), ends.end());
    const std::vector<int32_t> kept = join::work::endsOutsideCrowds(ends, lines, 100, 100);
    std::vector<int32_t> expected;
    for (int32_t k = 2 * kCrowdedCell; k > kCrowdedCell; --k) expected.push_back(2 * k);  // cell (1, 0)
    expected.push_back(2 * (2 * kCrowdedCell + 1));                                      // cell (0, 1)
    EXPECT_EQ(kept, expected);
}

// Faults: a pair of ends that a bridge could join never weighed (a cell too
// small for the reach of thick ink, a thin end meeting a thick one only in
// the thin ends' cells, the active ends' search missing a row), or weighed
// twice. Checked against every pair, on random ends of every kind.
TEST(JoinWork, EveryPairWithinReachIsWeighedOnce) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> along(-3.0, 200.0);
    const double radii[] = {0.5, 1.0, 1.49, 1.5, 3.0, 8.0};
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        // Sparse ends are searched in large cells, dense ones in small.
        std::vector<FreeEnd> ends(round < 2 ? 200 : 1500);
        std::vector<uint8_t> active(ends.size(), 0);
        for (std::size_t k = 0; k < ends.size(); ++k) {
            ends[k] = {static_cast<int32_t>(k), {along(random), along(random)}, {1.0, 0.0}, radii[random() % 6]};
            active[k] = random() % 3 == 0;
        }
        std::vector<const FreeEnd*> pointers;
        for (const FreeEnd& e : ends) pointers.push_back(&e);
        const bool someActive = round % 2 == 1;
        using Pair = std::pair<int32_t, int32_t>;
        const auto blocks = join::work::weighNearPairs<Pair>(
            pointers, 197, 197, someActive ? &active : nullptr,
            [](const FreeEnd& a, const FreeEnd& b, std::vector<Pair>& found) {
                found.push_back({std::min(a.end, b.end), std::max(a.end, b.end)});
            });
        std::multiset<Pair> weighed;
        for (const auto& block : blocks) weighed.insert(block.begin(), block.end());
        for (std::size_t a = 0; a < ends.size(); ++a) {
            for (std::size_t b = a + 1; b < ends.size(); ++b) {
                const bool thin = join::work::isThin(ends[a]) && join::work::isThin(ends[b]);
                const double reach = thin ? join::gaps::kGapWidth + ends[a].radius + ends[b].radius
                                          : join::work::kGapCell;
                if (distance(ends[a].at, ends[b].at) > reach) continue;
                if (someActive && !active[a] && !active[b]) continue;
                EXPECT_EQ(weighed.count({static_cast<int32_t>(a), static_cast<int32_t>(b)}), 1u)
                    << a << " and " << b;
            }
        }
        for (const Pair& p : weighed) EXPECT_EQ(weighed.count(p), 1u) << p.first << " and " << p.second;
    }
}

// The kept vertices of `chain` as the unbounded furthest-point split finds
// them (what drawings must keep getting), and how many times it weighed a
// point in `weighed`.
std::vector<uint8_t> SplitAtFurthest(const std::vector<Point>& chain, std::size_t& weighed) {
    weighed = 0;
    std::vector<uint8_t> keep(chain.size(), 0);
    keep.front() = keep.back() = 1;
    std::vector<std::pair<std::size_t, std::size_t>> spans{{0, chain.size() - 1}};
    while (!spans.empty()) {
        const auto [from, to] = spans.back();
        spans.pop_back();
        double worst = 0.5;
        std::size_t at = 0;
        for (std::size_t k = from + 1; k < to; ++k, ++weighed) {
            const double e = join::lines::segmentDistance(chain[k], chain[from], chain[to]);
            if (e > worst) worst = e, at = k;
        }
        if (at == 0) continue;
        keep[at] = 1;
        spans.push_back({from, at});
        spans.push_back({at, to});
    }
    return keep;
}

// Points a pixel apart along a round spiral from its centre, `turns` turns
// `pitch` pixels apart, with the pixel-grid jitter a trace leaves.
std::vector<Point> Spiral(double turns, double pitch) {
    std::vector<Point> chain;
    const double pi = std::acos(-1.0);
    for (double angle = 0.0; angle < 2.0 * pi * turns;) {
        const double r = 2.0 + pitch * angle / (2.0 * pi);
        chain.push_back({std::round(2.0 * (5000.0 + r * std::cos(angle))) / 2.0,
                         std::round(2.0 * (5000.0 + r * std::sin(angle))) / 2.0});
        angle += 1.0 / r;
    }
    return chain;
}

// Faults: the vertex-dropping pass weighing a spiral's points once per
// vertex it keeps (the square of its length: a spiral or a long noisy
// line on an A0 sheet held the step for minutes), or halving spans without
// looking, which leaves points beyond the tolerance; and a budget so small
// that ordinary lines (a circle, a wavy stroke, a short noisy scrap) lose
// other vertices than they did.
TEST(JoinWork, DroppingVerticesWeighsEachPointABoundedNumberOfTimes) {
    std::vector<uint8_t> keep;
    const std::vector<Point> spiral = Spiral(160.0, 1.0);
    const auto n = static_cast<double>(spiral.size());
    const auto bound = [](double points) {
        return std::max(static_cast<double>(join::work::kSimplifyBudget) * points,
                        static_cast<double>(join::work::kSimplifyFloor)) +
               points * (2.0 + std::log2(points));
    };
    const std::size_t weighed = join::shape::simplify(spiral, keep);
    EXPECT_LE(static_cast<double>(weighed), bound(n)) << spiral.size() << " points";
    // Each point within the tolerance of the kept segment over it.
    std::size_t from = 0;
    for (std::size_t k = 1; k < spiral.size(); ++k) {
        if (!keep[k]) continue;
        for (std::size_t j = from + 1; j < k; ++j) {
            ASSERT_LE(join::lines::segmentDistance(spiral[j], spiral[from], spiral[k]), 0.5 + 1e-9) << j;
        }
        from = k;
    }
    // The unbounded split would have weighed far more (else this case
    // catches nothing).
    std::size_t unbounded = 0;
    SplitAtFurthest(spiral, unbounded);
    EXPECT_GT(static_cast<double>(unbounded), bound(n));

    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-0.7, 0.7);
    std::vector<std::vector<Point>> ordinary;
    ordinary.push_back(Spiral(1.0, 0.0));  // a circle of radius 2
    std::vector<Point> circle, wavy, scrap;
    for (int k = 0; k <= 2000; ++k) {
        const double a = 2.0 * std::acos(-1.0) * k / 2000.0;
        circle.push_back({300.0 + 250.0 * std::cos(a), 300.0 + 250.0 * std::sin(a)});
        wavy.push_back({0.5 * k, 40.0 + 12.0 * std::sin(k / 40.0) + jitter(random)});
    }
    for (int k = 0; k < 400; ++k) scrap.push_back({10.0 + jitter(random) * 4.0, 10.0 + k * 0.5});
    ordinary.insert(ordinary.end(), {circle, wavy, scrap});
    for (const std::vector<Point>& chain : ordinary) {
        join::shape::simplify(chain, keep);
        std::size_t ignored = 0;
        EXPECT_EQ(keep, SplitAtFurthest(chain, ignored)) << chain.size() << " points";
    }
}

// Lines as a lines file holds them, and the ink under them.
struct Sheet {
    join::lines::Polylines lines;
    AsciiBitmap ink;

    Sheet(int32_t width, int32_t height) : ink(width, height) {}
    void Add(std::vector<Point> points) {
        lines.points.insert(lines.points.end(), points.begin(), points.end());
        lines.begin.push_back(lines.points.size());
    }
    // A thin stroke along row y from column x0 to x1, inked, as one line
    // through its pixel centres.
    void Stroke(int32_t x0, int32_t x1, int32_t y) {
        ink.FillBox(x0, y, x1, y);
        Add({{x0 + 0.5, y + 0.5}, {x1 + 0.5, y + 0.5}});
    }
    // A lattice of n x n points `pitch` apart from (x, y), each linked to
    // its right and lower neighbour: every node but the corners a junction.
    void Lattice(double x, double y, int32_t n, double pitch) {
        for (int32_t r = 0; r < n; ++r) {
            for (int32_t c = 0; c < n; ++c) {
                const Point p{x + c * pitch, y + r * pitch};
                if (c + 1 < n) Add({p, {p.x + pitch, p.y}});
                if (r + 1 < n) Add({p, {p.x, p.y + pitch}});
            }
        }
    }
};

// Writes `lines` as a lines file; returns its path.
std::string WriteLines(const square_files::TempFolder& folder, const join::lines::Polylines& lines) {
    const std::string path = folder.File("temp.lix");
    RecordWriter writer(path);
    writer.Open();
    for (int32_t i = 0; i < lines.count(); ++i) {
        writer.PutInt32(static_cast<int32_t>(lines.size(i)));
        for (std::size_t k = lines.begin[i]; k < lines.begin[i + 1]; ++k) {
            writer.PutDouble(lines.points[k].x);
            writer.PutDouble(lines.points[k].y);
        }
    }
    writer.Close();
    return path;
}

// Faults: a crowd of ends, or of junctions, still given to the rules (on
// noise or a board of thick squares the step then takes 2.5 times the
// trace's time and memory); lines of a crowd changed, reordered or left
// out instead of passing through; or the rules' state built with the
// wrong nodes, so that a stroke beside the crowd is no longer bridged.
TEST(JoinWork, CrowdsPassThroughAsTracedWhileAStrokeBesideIsBridged) {
    struct Case {
        const char* fault;
        bool junctions;  // the crowd: a lattice of junctions, else short lone lines
    };
    for (const Case c : {Case{"a crowd of ends", false}, Case{"a crowd of junctions", true}}) {
        SCOPED_TRACE(c.fault);
        Sheet sheet(240, 120);
        // More ends than kCrowdedEnds (or junction ends than
        // kCrowdedJunctionEnds) within 40 pixels.
        if (c.junctions) {
            sheet.Lattice(10.5, 10.5, 12, 3.0);  // 100 x 4 + 40 x 3 = 520 junction ends
        } else {
            for (int32_t k = 0; k <= join::work::kCrowdedEnds / 2; ++k) {
                const Point p{10.5 + (k % 25) * 1.5, 10.5 + (k / 25) * 1.5};
                sheet.Add({p, {p.x + 0.5, p.y + 1.0}});
            }
        }
        const join::lines::Polylines crowd = sheet.lines;
        // A thin stroke with a two-pixel break, two areas away.
        sheet.Stroke(150, 180, 100);
        sheet.Stroke(183, 220, 100);
        square_files::TempFolder folder;
        const PackedBitmap ink = PackedBitmap::FromBytes(sheet.ink.View());
        TVemotrace_join joiner(WriteLines(folder, sheet.lines), ink);
        joiner.JoinLines();
        const std::vector<Polyline> out = ReadPolylines(folder.File("temp.lix"));
        ASSERT_EQ(out.size(), static_cast<std::size_t>(crowd.count()) + 1);
        for (int32_t i = 0; i < crowd.count(); ++i) {
            EXPECT_EQ(out[i], Polyline(crowd.points.begin() + static_cast<std::ptrdiff_t>(crowd.begin[i]),
                                       crowd.points.begin() + static_cast<std::ptrdiff_t>(crowd.begin[i + 1])))
                << "line " << i;
        }
        EXPECT_EQ(out.back().front(), (Point{150.5, 100.5}));
        EXPECT_EQ(out.back().back(), (Point{220.5, 100.5}));
    }
}

// Faults: a crowd counted in one cell only, not with its neighbours
// (a crowd astride a cell border then passes), or off by one at the
// limit; a line crowded by one end only kept; lines far from the crowd
// passed through.
TEST(JoinWork, LinesPassThroughWhereAnAreaHoldsMoreEndsThanTheLimit) {
    using join::work::kCrowdCell;
    using join::work::kCrowdedEnds;
    for (const int32_t extra : {0, 1}) {
        SCOPED_TRACE(extra);
        Sheet sheet(400, 200);
        // kCrowdedEnds / 2 lines (+ extra), spread over four cells that meet
        // at (2, 2) cells, their ends on either side of the borders.
        // With two lines that leave it, kCrowdedEnds ends in the area (+ 2
        // extra).
        const double corner = 2.0 * kCrowdCell;
        for (int32_t k = 0; k < kCrowdedEnds / 2 - 1 + extra; ++k) {
            const double dx = (k % 20 - 10) * 1.1 + 0.3, dy = (k / 20 - 12) * 1.1 + 0.3;
            sheet.Add({{corner + dx, corner + dy}, {corner + dx + 0.2, corner + dy}});
        }
        const int32_t crowd = sheet.lines.count();
        sheet.Add({{corner, corner + 5.3}, {corner + 150.0, corner + 5.3}});
        sheet.Add({{corner + 5.3, corner}, {corner + 5.3, corner + 140.0}});
        sheet.Add({{300.0, 150.0}, {310.0, 150.0}});  // far from it
        const join::lines::Nodes nodes = join::lines::findNodes(sheet.lines);
        join::work::CrowdCounts most;
        const PackedBitmap ink = PackedBitmap::FromBytes(sheet.ink.View());
        const std::vector<uint8_t> crowding = join::work::sortOutCrowds(sheet.lines, nodes, ink, &most);
        EXPECT_EQ(most.ends, kCrowdedEnds + 2 * extra);
        // At the limit the crowd's short lines on paper are dust, and
        // crowd it.
        const uint8_t inCrowd = extra > 0 ? join::work::kPassesThrough : join::work::kKept;
        for (int32_t i = 0; i < crowd; ++i) {
            ASSERT_EQ(crowding[i], extra > 0 ? join::work::kPassesThrough : join::work::kDust) << "line " << i;
        }
        EXPECT_EQ(crowding[crowd], inCrowd);
        EXPECT_EQ(crowding[crowd + 1], inCrowd);
        EXPECT_EQ(crowding[crowd + 2], join::work::kKept);
    }
}

// Faults: dust dropped wherever it lies (the rules then no longer join a
// dot to the stroke it continues), or counted over the whole page; lines
// that are no dust (a dash, a line that meets another) dropped among it.
TEST(JoinWork, DustIsDroppedUpFrontOnlyWhereItCrowds) {
    using join::work::kCrowdedDust;
    using join::work::kCrowdCell;
    Sheet sheet(300, 100);
    // A speck: a 3 x 3 dot with a short line on it, in rows of specks 5
    // pixels apart, within four cells of which each counts all four in
    // its area: kCrowdedDust + 1 of them in a crowd, kCrowdedDust
    // elsewhere.
    const auto speck = [&](int32_t x, int32_t y) {
        sheet.ink.FillBox(x, y, x + 2, y + 2);
        sheet.Add({{x + 0.5, y + 1.5}, {x + 2.5, y + 1.5}});
    };
    const auto from = static_cast<int32_t>(kCrowdCell) + 2, elsewhere = static_cast<int32_t>(7 * kCrowdCell) + 2;
    for (int32_t k = 0; k <= kCrowdedDust; ++k) speck(from + (k % 10) * 5, from + (k / 10) * 5);
    const int32_t crowded = sheet.lines.count();
    for (int32_t k = 0; k < kCrowdedDust; ++k) speck(elsewhere + (k % 10) * 5, from + (k / 10) * 5);
    const int32_t sparse = sheet.lines.count();
    // In the crowd: a dash on a stroke of 12 x 1 pixels, and two lines
    // that meet on a dot.
    sheet.ink.FillBox(from, 70, from + 11, 70);
    sheet.Add({{from + 0.5, 70.5}, {from + 5.5, 70.5}});
    sheet.ink.FillBox(from + 20, 70, from + 22, 72);
    sheet.Add({{from + 20.5, 71.5}, {from + 21.5, 71.5}});
    sheet.Add({{from + 21.5, 71.5}, {from + 22.5, 71.5}});
    const join::lines::Nodes nodes = join::lines::findNodes(sheet.lines);
    const PackedBitmap ink = PackedBitmap::FromBytes(sheet.ink.View());
    const std::vector<uint8_t> crowding = join::work::sortOutCrowds(sheet.lines, nodes, ink);
    for (int32_t i = 0; i < sheet.lines.count(); ++i) {
        EXPECT_EQ(crowding[i], i < crowded ? join::work::kDust : join::work::kKept) << "line " << i;
    }
    // Each is what the shaping drops but the dash: the meeting lines are
    // kept for meeting.
    for (int32_t i = 0; i < sheet.lines.count(); ++i) {
        const std::span<const Point> line(sheet.lines.points.data() + sheet.lines.begin[i], sheet.lines.size(i));
        EXPECT_EQ(join::shape::isDustChain(ink, line), i != sparse) << "line " << i;
    }
}

// Faults: the kept lines' nodes taken from the old numbers, a node left
// without ends, or the ends of a point out of order: the rules would see
// other neighbours than a fresh search gives.
TEST(JoinWork, KeptLinesHaveTheNodesAFreshSearchFinds) {
    std::mt19937 random(3);
    join::lines::Polylines lines;
    for (int32_t i = 0; i < 400; ++i) {
        // Ends on a coarse grid of 36 points, so many meet.
        const auto at = [&] { return Point{static_cast<double>(random() % 6), static_cast<double>(random() % 6)}; };
        const Point a = at(), b = at();
        lines.points.insert(lines.points.end(), {a, {7.5, 7.5}, b});
        lines.begin.push_back(lines.points.size());
    }
    std::vector<uint8_t> keep(static_cast<std::size_t>(lines.count()));
    for (uint8_t& k : keep) k = random() % 3 == 0 ? join::work::kPassesThrough : join::work::kKept;
    join::lines::Polylines kept;
    for (int32_t i = 0; i < lines.count(); ++i) {
        if (keep[i] != join::work::kKept) continue;
        kept.points.insert(kept.points.end(), lines.points.begin() + static_cast<std::ptrdiff_t>(lines.begin[i]),
                           lines.points.begin() + static_cast<std::ptrdiff_t>(lines.begin[i + 1]));
        kept.begin.push_back(kept.points.size());
    }
    join::lines::Nodes nodes = join::lines::findNodes(lines);
    join::work::keepLines(lines, nodes, keep);
    EXPECT_EQ(lines.points, kept.points);
    EXPECT_EQ(lines.begin, kept.begin);
    const join::lines::Nodes fresh = join::lines::findNodes(kept);
    EXPECT_EQ(nodes.first, fresh.first);
    EXPECT_EQ(nodes.order, fresh.order);
    EXPECT_EQ(nodes.nodeOf, fresh.nodeOf);
}

// Faults: a column for every pixel up to the rightmost end, however few the
// ends (a damaged lines file with one polyline a million pixels out made
// the node search pass over a million empty columns, 500 times the cost of
// a small drawing's); or widened columns that no longer rise with x, which
// breaks the sorted order the node search relies on.
TEST(JoinWork, NodeColumnsAreNoMoreThanTheEndsAndRiseWithX) {
    const struct {
        double rightmost;
        int32_t ends;
        std::size_t count;  // one column a pixel while the ends outnumber the pixels
    } cases[] = {
        {100.0, 400, 101}, {99.5, 400, 100}, {0.0, 2, 1}, {1e9, 2, 3}, {3e6, 10'000, 10'001}, {1e12, 1 << 22, (1 << 20) + 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rightmost);
        const auto columns = join::lines::NodeColumns::reaching(c.rightmost, c.ends);
        EXPECT_EQ(columns.count, c.count);
        EXPECT_EQ(columns.of(-3.0), 0U);
        EXPECT_EQ(columns.of(c.rightmost), columns.count - 1);
        std::size_t last = 0;
        for (int k = 0; k <= 1000; ++k) {
            const std::size_t column = columns.of(c.rightmost * k / 1000.0);
            EXPECT_GE(column, last);
            last = column;
        }
    }
    EXPECT_EQ(join::lines::NodeColumns::reaching(100.0, 400).of(37.9), 37U);
}

// Fault: ends far out dealt to widened columns out of order, so that ends
// on one point are split over several nodes or the nodes come unsorted.
TEST(JoinWork, EndsFarOutMeetInNodesAsAPlainSortFindsThem) {
    std::mt19937 random(7);
    const double places[] = {0.0, 3.0, 3.0, 17.5, 1e6, 1e6 + 0.5, 4e8, 1e9};
    join::lines::Polylines lines;
    for (int i = 0; i < 60; ++i) {
        for (int k = 0; k < 2; ++k) lines.points.push_back({places[random() % 8], static_cast<double>(random() % 3)});
        lines.begin.push_back(lines.points.size());
    }
    const join::lines::Nodes nodes = join::lines::findNodes(lines);
    const auto before = [&](int32_t a, int32_t b) {
        const Point &p = lines.endPoint(a), &q = lines.endPoint(b);
        return p.x != q.x ? p.x < q.x : p.y < q.y;
    };
    for (int32_t k = 1; k < 2 * lines.count(); ++k) {
        const int32_t a = nodes.order[k - 1], b = nodes.order[k];
        ASSERT_FALSE(before(b, a));
        EXPECT_EQ(nodes.nodeOf[a] == nodes.nodeOf[b], lines.endPoint(a) == lines.endPoint(b));
    }
}

}  // namespace
