// Vemotrace_joinwork: the join step's work limits. The rules weigh what
// lies near a point (free ends near an end, the points of a chain), and on
// ink that no drawing holds but a scan may (dither, noise, a page of hatching
// or a long spiral) "near" can hold far more than on any drawing. The
// limits here keep the step's time and memory in proportion to the lines
// it handles, whatever the ink:
//  - free ends are searched for partners in cells no larger than the
//    longest bridge their ink allows (thin ends in small cells);
//  - ends in a crowd (a cell with more free ends than any drawing puts
//    there) are not bridged: there is no telling which of them continue
//    each other, and weighing every pair would cost the square of their
//    number;
//  - pixels of the one-pixel diagonal runs (see diagonalRuns) that crowd a
//    small square, as dither and hatching finer than a pen draws do, make
//    no runs;
//  - lines whose ends crowd an area (see kCrowdedEnds) pass through as the
//    trace gave them, and the rules' state is built for the others only;
//  - lone specks of dust that crowd an area are dropped before the rules
//    weigh them (see kCrowdedDust);
//  - a chain's simplification weighs each of its points a bounded number of
//    times (see kSimplifyBudget).
// Each limit lies well beyond what the drawings of bench/quality and the A0
// benchmark reach, so on drawings the lines are what they were.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "trace/join/Vemotrace_joingaps.h"

namespace join::work {

using namespace join::gaps;

// Cells for bridging, as wide as the longest bridge: both ends of a pair
// lie in the same or in neighbouring cells.
constexpr double kGapCell = kGapWidth + 2.0 * kMaxGapRadius;
// Two ends on thin ink (each under kThickInk across) bridge no more than a
// gap and their two half widths: they meet in cells this wide.
constexpr double kThinCell = kGapWidth + kThickInk;
// A gap cell (kGapCell pixels square, about 340 pixels) with more free ends
// than this is a crowd. Drawings put at most about 30 there (lettering and
// dots at 75 dpi), 50 % noise about 40 to 70, a checkerboard of single
// pixels 180.
constexpr int32_t kCrowdedCell = 96;

// A square of kRunCell pixels with more pixels of diagonal runs than
// kCrowdedRunCell is dither, not strokes. A one-pixel line at 45 degrees
// puts at most 16 there, a hatching of such lines three pixels apart 85, a
// checkerboard of single pixels 128; drawings and 50 % noise up to about 25.
constexpr int32_t kRunCell = 16;
constexpr int32_t kCrowdedRunCell = 96;
// Nor is a square whose pixels of runs, averaged with its eight
// neighbours', are more than kCrowdedRunArea: dither with pixels left out
// here and there (a checkerboard with a quarter missing) puts more than 96
// in only some squares, and the runs of the others are then its noise.
// The hatching three pixels apart averages 85.
constexpr int32_t kCrowdedRunArea = 90;

// Crowds of lines. Where an area of about 80 pixels square (a cell of
// kCrowdCell pixels and its eight neighbours) holds more than
// kCrowdedEnds polyline ends, or more than kCrowdedJunctionEnds ends where
// three or more lines meet, no rule can tell which line continues which,
// and weighing them costs more than the trace spent on them: there the
// lines pass through as the trace gave them. The densest drawings of
// bench/quality (hatching) reach 645 ends and 286 junction ends in an
// area, the A0 benchmark drawing 169 and 87, a checkerboard of 4-pixel
// squares 800 junction ends, noise thousands of ends.
constexpr double kCrowdCell = 26.5;
constexpr int32_t kCrowdedEnds = 1000;
constexpr int32_t kCrowdedJunctionEnds = 480;
// Where the same area holds more than kCrowdedDust lone lines that the
// shaping would drop as dust (see shape::isDustChain), they are dropped
// before the rules measure and weigh their ends. Drawings hold at most 25
// (bench/quality 9, the A0 drawing 25); sparse noise far more.
constexpr int32_t kCrowdedDust = 60;

// The vertex-dropping pass weighs a chain's points up to kSimplifyBudget
// times each (or kSimplifyFloor times in all, which a short chain may use
// up whatever its shape) splitting spans at their furthest point; beyond,
// it halves them, which weighs each point once more per halving (log2 of
// the chain's length). On the A0 benchmark drawing chains of over 300
// points take at most 12 and shorter ones at most 13,000 in all.
constexpr std::size_t kSimplifyBudget = 48;
constexpr std::size_t kSimplifyFloor = std::size_t{1} << 17;

// Leaves out of `pixels` (numbers y x width + x of a width-wide image, in
// rising order) those in a crowded square (see kCrowdedRunCell); the others
// keep their order.
void dropCrowdedPixels(std::vector<int64_t>& pixels, int32_t width, int32_t height);

// What becomes of a line before the rules (see sortOutCrowds).
constexpr uint8_t kKept = 0;
constexpr uint8_t kPassesThrough = 1;
constexpr uint8_t kDust = 2;

// The most that any area holds (see kCrowdedEnds, kCrowdedDust), to set
// the limits against: line ends, ends at junctions, and lone dust where
// the dust test was made (areas with fewer lone short lines than
// kCrowdedDust are not tested and count none).
struct CrowdCounts {
    int32_t ends = 0;
    int32_t junctionEnds = 0;
    int32_t dust = 0;
};

// For each line of `lines` (its nodes `nodes`, over `bitmap`): kKept,
// kPassesThrough where its ends crowd, or kDust where it is a lone speck
// of dust among many. With `most`, what the areas held.
std::vector<uint8_t> sortOutCrowds(const Polylines& lines, const Nodes& nodes, const PackedBitmap& bitmap,
                                   CrowdCounts* most = nullptr);

// Keeps the lines i for which keep[i] is kKept, in their order and
// numbered anew, and their nodes: the nodes findNodes would find for them.
void keepLines(Polylines& lines, Nodes& nodes, const std::vector<uint8_t>& keep);

// A grid of square cells over the image, numbered row by row; points off
// the image count to the nearest cell on it, so that points within one cell
// width of each other always lie in the same or neighbouring cells.
struct Grid {
    double size;
    int32_t across;
    int32_t down;

    Grid(double cellSize, int32_t width, int32_t height)
        : size(cellSize),
          across(static_cast<int32_t>(width / cellSize) + 1),
          down(static_cast<int32_t>(height / cellSize) + 1) {}

    std::size_t cells() const { return static_cast<std::size_t>(across) * static_cast<std::size_t>(down); }
    std::size_t cellAt(const Point& p) const {
        const auto cellOf = [&](double v, int32_t cells) { return std::clamp(pixelOf(v / size), 0, cells - 1); };
        return static_cast<std::size_t>(cellOf(p.y, down)) * static_cast<std::size_t>(across) + cellOf(p.x, across);
    }
};

// The free ends `ends` (ends of `lines`) in gap-cell order, row by row and
// each cell's in the order given, without those of crowded cells.
std::vector<int32_t> endsOutsideCrowds(const std::vector<int32_t>& ends, const Polylines& lines, int32_t width,
                                       int32_t height);

// True when an end on ink of this half width is on thin ink (see kThinCell).
inline bool isThin(const FreeEnd& end) { return 2.0 * end.radius < kThickInk; }

// Calls weigh(a, b, found) once for each pair of `ends` that may be
// bridgeable: within kThinCell of each other when both are thin, within
// kGapCell otherwise; `found` is the result vector of the block being
// searched. With `active`, only pairs with an active end (active[end] != 0)
// are weighed. Runs on two threads; returns the blocks' results.
template <typename Pair, typename Weigh>
std::vector<std::vector<Pair>> weighNearPairs(std::span<const FreeEnd* const> ends, int32_t width, int32_t height,
                                              const std::vector<uint8_t>* active, const Weigh& weigh) {
    const auto isActive = [&](const FreeEnd& e) { return active == nullptr || (*active)[e.end] != 0; };
    std::vector<int32_t> thin, all(ends.size());
    for (std::size_t k = 0; k < ends.size(); ++k) {
        all[k] = static_cast<int32_t>(k);
        if (isThin(*ends[k])) thin.push_back(static_cast<int32_t>(k));
    }
    std::vector<std::vector<Pair>> found;
    // Searches `grid` around each end of `items` for which from(a) holds,
    // weighing it with each b for which pairOf(a, b, b lies after a)
    // holds. With `halfway`, the ends after a in its cell, the next cell
    // and three cells of the next row are searched (every end searches, so
    // the cells before were searched from there); else all nine cells.
    const auto search = [&](const Grid& grid, const std::vector<int32_t>& items, const auto& from, bool halfway,
                            const auto& pairOf) {
        const Cells cells = dealToCells(items, grid.cells(),
                                        [&](int32_t k) { return grid.cellAt(ends[static_cast<std::size_t>(k)]->at); });
        const std::size_t blocks = found.size(), count = grid.cells();
        found.resize(blocks + (count + kThreadBlock - 1) / kThreadBlock);
        const auto rowLength = static_cast<std::size_t>(grid.across);
        const auto at = [&](std::size_t place) -> const FreeEnd& {
            return *ends[static_cast<std::size_t>(cells.items[place])];
        };
        const auto firstIn = [&](std::size_t cell) { return static_cast<std::size_t>(cells.first[cell]); };
        inTwoThreads(count, [&](std::size_t firstCell, std::size_t lastCell) {
            std::vector<Pair>& mine = found[blocks + firstCell / kThreadBlock];
            for (std::size_t cell = firstCell; cell < lastCell; ++cell) {
                const std::size_t x = cell % rowLength;
                const std::size_t left = x > 0 ? 1 : 0, right = x + 1 < rowLength ? 2 : 1;
                for (std::size_t a = firstIn(cell); a < firstIn(cell + 1); ++a) {
                    const FreeEnd& end = at(a);
                    if (!from(end)) continue;
                    if (halfway) {
                        for (std::size_t b = a + 1; b < firstIn(cell + right); ++b) weigh(end, at(b), mine);
                        if (cell + rowLength < count) {
                            const std::size_t below = cell + rowLength;
                            for (std::size_t b = firstIn(below - left); b < firstIn(below + right); ++b) {
                                weigh(end, at(b), mine);
                            }
                        }
                        continue;
                    }
                    const std::size_t row = cell - x;
                    for (std::size_t r = row < rowLength ? row : row - rowLength; r <= row + rowLength && r < count;
                         r += rowLength) {
                        for (std::size_t b = firstIn(r + x - left); b < firstIn(r + x + right); ++b) {
                            if (b != a && pairOf(end, at(b), b > a)) weigh(end, at(b), mine);
                        }
                    }
                }
            }
        });
    };
    // Both thin: from each active end, a pair of two active ends from its
    // first. Any cells as wide as kThinCell or wider meet every pair; the
    // small ones pay only where the ends are dense (a grid of them costs as
    // much as the ends that fill a quarter of it).
    const Grid small(kThinCell, width, height);
    search(thin.size() >= small.cells() / 4 ? small : Grid(kGapCell, width, height), thin, isActive,
           active == nullptr,
           [&](const FreeEnd&, const FreeEnd& b, bool bLater) { return bLater || !isActive(b); });
    // At least one thick: from the thick ends, in all nine cells (thin ends
    // do not search here), a pair of two thick ends from its first; only
    // pairs with an active end.
    search(Grid(kGapCell, width, height), all, [](const FreeEnd& e) { return !isThin(e); }, false,
           [&](const FreeEnd& a, const FreeEnd& b, bool bLater) {
               return (isThin(b) || bLater) && (isActive(a) || isActive(b));
           });
    return found;
}

}  // namespace join::work
