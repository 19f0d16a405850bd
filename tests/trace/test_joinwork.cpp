// The join step's work limits: what it leaves alone where ink or free ends
// crowd beyond any drawing, and that its search for pairs of ends, cut to
// cells as small as the ink allows, still meets every pair a bridge could
// join. Each case names the fault it catches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "ascii_bitmap.h"
#include "trace/Vemotrace_join.h"
#include "trace/Vemotrace_packed.h"
#include "trace/join/Vemotrace_joinwork.h"

namespace {

using join::gaps::FreeEnd;

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

}  // namespace
