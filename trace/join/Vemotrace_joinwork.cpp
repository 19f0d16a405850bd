// Vemotrace_joinwork: the join step's work limits (see the header).
#include "trace/join/Vemotrace_joinwork.h"

#include "trace/join/Vemotrace_joiner.h"

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

void dropCrowdedPixels(std::vector<int64_t>& pixels, int32_t width, int32_t height) {
    const auto across = static_cast<std::size_t>(width / kRunCell + 1);
    const auto down = static_cast<std::size_t>(height / kRunCell + 1);
    const auto cellOf = [&](int64_t p) {
        return static_cast<std::size_t>(p / width / kRunCell) * across + static_cast<std::size_t>(p % width / kRunCell);
    };
    // A square holds at most kRunCell x kRunCell pixels.
    std::vector<uint16_t> count(across * down, 0);
    for (const int64_t p : pixels) ++count[cellOf(p)];
    std::erase_if(pixels, [&](int64_t p) { return count[cellOf(p)] > kCrowdedRunCell; });
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
