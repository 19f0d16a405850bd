// Vemotrace_joinwork: the join step's work limits (see the header).
#include "trace/join/Vemotrace_joinwork.h"

#include "trace/Vemotrace_join.h"
#include "trace/join/Vemotrace_joiner.h"
#include "trace/join/Vemotrace_joinshape.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace join::work {

std::vector<int32_t> endsOutsideCrowds(const std::vector<int32_t>& ends, const Polylines& lines, int32_t width,
                                       int32_t height) {
    const Grid grid(kGapCell, width, height);
    const Cells inCells =
        dealToCells(ends, grid.cells(), [&](int32_t end) { return grid.cellAt(lines.endPoint(end)); });
    std::vector<int32_t> kept;
    kept.reserve(inCells.items.size());
    for (std::size_t cell = 0; cell < grid.cells(); ++cell) {
        const int32_t first = inCells.first[cell], last = inCells.first[cell + 1];
        if (last - first > kCrowdedCell) continue;
        kept.insert(kept.end(), inCells.items.begin() + first, inCells.items.begin() + last);
    }
    return kept;
}

namespace {

// Each cell's count with its eight neighbours' added (cells `across` to a
// row).
std::vector<int32_t> areaSums(const std::vector<int32_t>& count, std::size_t across) {
    const std::size_t cells = count.size();
    std::vector<int32_t> rows(cells), sums(cells);
    for (std::size_t c = 0; c < cells; ++c) {
        const std::size_t x = c % across;
        rows[c] = count[c] + (x > 0 ? count[c - 1] : 0) + (x + 1 < across ? count[c + 1] : 0);
    }
    for (std::size_t c = 0; c < cells; ++c) {
        sums[c] = rows[c] + (c >= across ? rows[c - across] : 0) + (c + across < cells ? rows[c + across] : 0);
    }
    return sums;
}

}  // namespace

void dropCrowdedPixels(std::vector<int64_t>& pixels, int32_t width, int32_t height) {
    const auto across = static_cast<std::size_t>(width / kRunCell + 1);
    const auto down = static_cast<std::size_t>(height / kRunCell + 1);
    const auto cellOf = [&](int64_t p) {
        return static_cast<std::size_t>(p / width / kRunCell) * across + static_cast<std::size_t>(p % width / kRunCell);
    };
    std::vector<int32_t> count(across * down, 0);
    for (const int64_t p : pixels) ++count[cellOf(p)];
    // No average can pass a limit that no square passes (drawings).
    if (std::all_of(count.begin(), count.end(), [](int32_t c) { return c <= kCrowdedRunArea; })) {
        std::erase_if(pixels, [&](int64_t p) { return count[cellOf(p)] > kCrowdedRunCell; });
        return;
    }
    // The average over the squares that lie on the image.
    std::vector<int32_t> squares(count.size(), 0);
    for (std::size_t c = 0; c < squares.size(); ++c) {
        const auto x = static_cast<int32_t>(c % across), y = static_cast<int32_t>(c / across);
        squares[c] = x * kRunCell < width && y * kRunCell < height ? 1 : 0;
    }
    const std::vector<int32_t> area = areaSums(count, across);
    squares = areaSums(squares, across);
    std::erase_if(pixels, [&](int64_t p) {
        const std::size_t cell = cellOf(p);
        return count[cell] > kCrowdedRunCell || area[cell] > kCrowdedRunArea * squares[cell];
    });
}

std::vector<uint8_t> sortOutCrowds(const Polylines& lines, const Nodes& nodes, const PackedBitmap& bitmap,
                                   CrowdCounts* most) {
    const Grid grid(kCrowdCell, bitmap.Width(), bitmap.Height());
    const auto across = static_cast<std::size_t>(grid.across);
    const auto nodeSize = [&](int32_t end) {
        const int32_t v = nodes.nodeOf[end];
        return nodes.first[v + 1] - nodes.first[v];
    };
    std::vector<int32_t> ends(grid.cells(), 0), junctionEnds(grid.cells(), 0);
    for (int32_t end = 0; end < 2 * lines.count(); ++end) {
        const std::size_t cell = grid.cellAt(lines.endPoint(end));
        ++ends[cell];
        if (nodeSize(end) >= 3) ++junctionEnds[cell];
    }
    // An area holds no more than nine times its fullest cell: where no cell
    // holds a ninth of a limit (drawings), its sums need not be made, but
    // to be told.
    const auto mayPass = [](const std::vector<int32_t>& count, int32_t limit) {
        return std::any_of(count.begin(), count.end(), [&](int32_t c) { return 9 * c > limit; });
    };
    const bool mayCrowd = mayPass(ends, kCrowdedEnds) || mayPass(junctionEnds, kCrowdedJunctionEnds);
    if (most != nullptr || mayCrowd) {
        ends = areaSums(ends, across);
        junctionEnds = areaSums(junctionEnds, across);
    }
    const auto crowded = [&](const Point& p) {
        const std::size_t cell = grid.cellAt(p);
        return ends[cell] > kCrowdedEnds || junctionEnds[cell] > kCrowdedJunctionEnds;
    };
    std::vector<uint8_t> crowding(static_cast<std::size_t>(lines.count()), kKept);
    for (int32_t i = 0; mayCrowd && i < lines.count(); ++i) {
        if (crowded(lines.first(i)) || crowded(lines.last(i))) crowding[i] = kPassesThrough;
    }
    if (most != nullptr) {
        most->ends = ends.empty() ? 0 : *std::max_element(ends.begin(), ends.end());
        most->junctionEnds = junctionEnds.empty() ? 0 : *std::max_element(junctionEnds.begin(), junctionEnds.end());
    }

    // Lone short lines, the only ones the dust test can take, counted
    // first: the test itself is made only where enough of them crowd for
    // an area to hold more dust than kCrowdedDust.
    std::vector<int32_t> lone;
    std::vector<int32_t> count(grid.cells(), 0);
    for (int32_t i = 0; i < lines.count(); ++i) {
        if (crowding[i] != kKept || nodeSize(2 * i) != 1 || nodeSize(2 * i + 1) != 1) continue;
        if (polylineLength(lines, i) > std::max(kDustLength, TVemotrace_join::kDotLength)) continue;
        lone.push_back(i);
        ++count[grid.cellAt(lines.first(i))];
    }
    // Dust in a cell counts to its neighbours' areas: the lines are tested
    // in every cell next to one whose area may hold too many.
    if (most == nullptr && !mayPass(count, kCrowdedDust)) return crowding;
    std::vector<int32_t> hot = areaSums(count, across);
    for (int32_t& h : hot) h = h > kCrowdedDust ? 1 : 0;
    hot = areaSums(hot, across);
    std::erase_if(lone, [&](int32_t i) { return hot[grid.cellAt(lines.first(i))] == 0; });
    std::vector<uint8_t> dust(lone.size(), 0);
    inTwoThreads(lone.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t k = first; k < last; ++k) {
            const int32_t i = lone[k];
            dust[k] = shape::isDustChain(bitmap, {lines.points.data() + lines.begin[i], lines.size(i)}) ? 1 : 0;
        }
    });
    std::fill(count.begin(), count.end(), 0);
    for (std::size_t k = 0; k < lone.size(); ++k) count[grid.cellAt(lines.first(lone[k]))] += dust[k];
    count = areaSums(count, across);
    for (std::size_t k = 0; k < lone.size(); ++k) {
        if (dust[k] && count[grid.cellAt(lines.first(lone[k]))] > kCrowdedDust) crowding[lone[k]] = kDust;
    }
    if (most != nullptr) most->dust = count.empty() ? 0 : *std::max_element(count.begin(), count.end());
    return crowding;
}

void keepLines(Polylines& lines, Nodes& nodes, const std::vector<uint8_t>& keep) {
    // New numbers, in the same order: a line's points and its ends move
    // only towards the front, so both are kept in place.
    std::vector<int32_t> renumbered(keep.size(), kNone);
    int32_t kept = 0;
    std::size_t from = lines.begin[0], to = 0;
    for (int32_t i = 0; i < static_cast<int32_t>(keep.size()); ++i) {
        const std::size_t next = lines.begin[i + 1];
        if (keep[i] == kKept) {
            std::copy(lines.points.begin() + static_cast<std::ptrdiff_t>(from),
                      lines.points.begin() + static_cast<std::ptrdiff_t>(next),
                      lines.points.begin() + static_cast<std::ptrdiff_t>(to));
            to += next - from;
            renumbered[i] = kept++;
            lines.begin[kept] = to;
        }
        from = next;
    }
    lines.points.resize(to);
    lines.begin.resize(static_cast<std::size_t>(kept) + 1);
    // The nodes in their order, each with the ends it keeps: the order a
    // search of the kept ends would find (ends of one point by number).
    std::size_t place = 0, nodeCount = 0;
    for (std::size_t v = 0; v + 1 < nodes.first.size(); ++v) {
        const std::size_t first = place;
        for (auto k = static_cast<std::size_t>(nodes.first[v]); k < static_cast<std::size_t>(nodes.first[v + 1]); ++k) {
            const int32_t end = nodes.order[k];
            if (renumbered[end / 2] == kNone) continue;
            const int32_t now = 2 * renumbered[end / 2] + end % 2;
            nodes.order[place++] = now;
            nodes.nodeOf[now] = static_cast<int32_t>(nodeCount);
        }
        if (place > first) nodes.first[nodeCount++] = static_cast<int32_t>(first);
    }
    nodes.first[nodeCount] = static_cast<int32_t>(place);
    nodes.first.resize(nodeCount + 1);
    nodes.order.resize(place);
    nodes.nodeOf.resize(place);
    // Where most lines passed through, what they held goes back before the
    // rules build their state (a copy of less than half of it meanwhile).
    const auto giveBack = [](auto& array) {
        if (2 * array.size() < array.capacity()) array.shrink_to_fit();
    };
    giveBack(lines.points);
    giveBack(lines.begin);
    giveBack(nodes.first);
    giveBack(nodes.order);
    giveBack(nodes.nodeOf);
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

}  // namespace join::work

namespace join {

// An end measured again gets a new entry, and its old one is no one's: the
// live entries are never more than the ends, for which room was reserved.
void Joiner::makeRoomToMeasure(std::size_t more) {
    if (measured.size() + more <= measured.capacity()) return;
    std::vector<int32_t> owner(measured.size(), kNone);
    for (int32_t end = 0; end < static_cast<int32_t>(known.size()); ++end) {
        if (known[end] != kNone) owner[known[end]] = end;
    }
    std::size_t kept = 0;
    for (std::size_t k = 0; k < owner.size(); ++k) {
        if (owner[k] == kNone) continue;
        measured[kept] = measured[k];
        known[owner[k]] = static_cast<int32_t>(kept++);
    }
    measured.resize(kept);
}

void Joiner::dropEndState() {
    std::vector<FreeEnd>().swap(measured);
    std::vector<int32_t>().swap(known);
    std::vector<uint8_t>().swap(movedEnd);
    endCells = Cells{};
}

void Joiner::dropRuleState() {
    dropEndState();
    std::vector<double>().swap(nodeRadius);
    std::vector<double>().swap(lengths);
#ifdef __GLIBC__
    // The rules leave many small blocks freed among live ones, which the
    // allocator keeps; their pages go back before the shaping needs more.
    malloc_trim(0);
#endif
}

}  // namespace join
