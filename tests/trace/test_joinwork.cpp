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
#include <utility>
#include <vector>

#include "ascii_bitmap.h"
#include "trace/Vemotrace_join.h"
#include "trace/Vemotrace_packed.h"
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
        std::size_t runs;
    };
    const Case cases[] = {
        {"a checkerboard of single pixels makes no runs", 2, 0},
        {"a hatching three pixels apart keeps a run per line", 3, 2 * 64 / 3 - 1},
        {"a lone diagonal line keeps its run", 1000, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        AsciiBitmap ascii(64, 64);
        for (int32_t y = 0; y < 64; ++y) {
            for (int32_t x = 0; x < 64; ++x) {
                if ((x - y + 1000 * c.pitch) % c.pitch == 0) ascii.SetInk(x, y);
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
