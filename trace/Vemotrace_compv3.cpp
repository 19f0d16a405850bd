// Vemotrace_compv3: stage 3 of the trace, gathering the squares into groups
// (see the header for the file it writes).
//
// Searches for overlapping and touching squares look only at the columns
// under the square concerned, and there only at the entries of the square
// index near its rows, never at whole column lists. A square listed in
// several columns or cells is taken only where a scan from the left column
// and the top row first meets it, and the matches of one column are put
// back into square number order: the order in which walking the whole
// column lists, each in square number order, would meet them.
#include "trace/Vemotrace_compv3.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "base/Vemo_runcontrol.h"

namespace {

// Entries after the last column list, never used.
constexpr std::size_t kSpareColumns = 10;

// First position in [begin, end) where `before` turns false (`before` is
// true for a leading part of the range only). The search starts at the
// position found last time in the same column and widens in growing steps:
// searches in one column mostly come in row order, so the answer is near.
template <typename Before>
std::size_t SeekFrom(std::size_t& last, std::size_t begin, std::size_t end, Before before) {
    const std::size_t hint = std::clamp(last, begin, end);
    std::size_t low;
    std::size_t high;
    std::size_t step = 1;
    if (hint < end && before(hint)) {  // the answer lies after the hint
        low = hint + 1;
        for (;;) {
            if (end - low <= step) {
                high = end;
                break;
            }
            const std::size_t probe = low + step - 1;
            if (!before(probe)) {
                high = probe;
                break;
            }
            low = probe + 1;
            step *= 2;
        }
    } else {  // at or before the hint
        high = hint;
        for (;;) {
            if (high - begin <= step) {
                low = begin;
                break;
            }
            const std::size_t probe = high - step;
            if (before(probe)) {
                low = probe + 1;
                break;
            }
            high = probe;
            step *= 2;
        }
    }
    while (low < high) {  // the answer lies in [low, high]
        const std::size_t middle = low + (high - low) / 2;
        if (before(middle)) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    last = low;
    return low;
}

}  // namespace

TVemotrace_compV3::TVemotrace_compV3(std::string groupsPath, ::SquareTable& table)
    : m_groupsPath(std::move(groupsPath)), m_table(table) {
    const int32_t count = m_table.count;
    if (count <= 0) return;  // no group, no file
    CheckSquaresInImage();
    BuildSquareIndex();
    m_output = std::make_unique<RecordWriter>(m_groupsPath);  // created with group 0

    // Squares of size 2 or more seed groups: largest first, lower numbers
    // first among equal sizes.
    int32_t largest = 0;
    for (int32_t i = 0; i < count; ++i) largest = std::max(largest, m_table.size[i]);
    std::vector<int32_t> sizeStart(static_cast<std::size_t>(largest) + 2, 0);
    for (int32_t i = 0; i < count; ++i) ++sizeStart[m_table.size[i] + 1];
    for (int32_t s = 1; s <= largest + 1; ++s) sizeStart[s] += sizeStart[s - 1];
    std::vector<int32_t> bySize(count);
    {
        std::vector<int32_t> next(sizeStart.begin(), sizeStart.end() - 1);
        for (int32_t i = 0; i < count; ++i) bySize[next[m_table.size[i]]++] = i;
    }
    for (int32_t s = largest; s >= 2; --s) {
        for (int32_t k = sizeStart[s]; k < sizeStart[s + 1]; ++k) {
            // Seeds go from the largest size down: done are the sizes above s and k's place in s.
            if ((k & 1023) == 0) RunCheckpoint(sizeStart[largest + 1] - sizeStart[s + 1] + k - sizeStart[s], count);
            const int32_t seed = bySize[k];
            if (m_table.useCount[seed] != 0) continue;
            SquareGroup group = SeedGroup(seed);
            AttachSingles(group);
            WriteGroup(group);
        }
    }

    // The single pixels no group took, one group each.
    for (int32_t i = 0; i < count; ++i) {
        if (m_table.size[i] != 1 || m_table.useCount[i] != 0) continue;
        SquareGroup group;
        group.members[group.count++] = i;
        WriteGroup(group);
    }

    m_output->Close();
    m_output.reset();
    m_wideStart = {};
    m_wide = {};
    m_singleStart = {};
    m_single = {};
    m_largeStart = {};
    m_large = {};
    m_largeLast = {};
}

// Stage 1 keeps every square inside the bitmap; a table that does not
// comes from a squares file changed during the trace, and would make the
// index run past the image.
void TVemotrace_compV3::CheckSquaresInImage() const {
    const auto count = static_cast<std::size_t>(m_table.count);
    if (m_table.x.size() < count || m_table.y.size() < count || m_table.size.size() < count ||
        m_table.useCount.size() < count) {
        throw std::invalid_argument("TVemotrace_compV3: square table arrays shorter than its count");
    }
    for (int32_t i = 0; i < m_table.count; ++i) {
        const int64_t x = m_table.x[i];
        const int64_t y = m_table.y[i];
        const int64_t size = m_table.size[i];
        if (size < 1 || x < 0 || y < 0 || x + size > m_table.width || y + size > m_table.height) {
            throw FileError(m_groupsPath, "square " + std::to_string(i) + " lies outside the " +
                                              std::to_string(m_table.width) + " x " +
                                              std::to_string(m_table.height) + " image");
        }
    }
}

void TVemotrace_compV3::BuildSquareIndex() {
    const int32_t count = m_table.count;
    const auto width = static_cast<std::size_t>(m_table.width);
    const auto bands = static_cast<std::size_t>((int64_t{m_table.height} + kCellHeight - 1) / kCellHeight);
    const std::size_t cells = bands * width;

    // Calls visit(cell) for each cell square i has pixels in.
    const auto forEachCell = [this](int32_t i, auto&& visit) {
        const int32_t x = m_table.x[i];
        const int32_t y = m_table.y[i];
        const int32_t size = m_table.size[i];
        for (int32_t band = y / kCellHeight; band <= (y + size - 1) / kCellHeight; ++band) {
            const std::size_t first = Cell(band, x);
            for (std::size_t cell = first; cell < first + static_cast<std::size_t>(size); ++cell) visit(cell);
        }
    };

    // Counts per cell and column; a square spans columns x to x + size - 1.
    m_wideStart.assign(cells + 1, 0);
    m_singleStart.assign(cells + 1, 0);
    m_largeStart.assign(width + kSpareColumns + 1, 0);
    uint64_t wideEntries = 0;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t size = m_table.size[i];
        if (size == 1) {
            ++m_singleStart[Cell(m_table.y[i] / kCellHeight, m_table.x[i]) + 1];
        } else if (size <= kCellHeight) {
            forEachCell(i, [this, &wideEntries](std::size_t cell) {
                ++m_wideStart[cell + 1];
                ++wideEntries;
            });
        } else {
            ++m_largeStart[m_table.x[i] + 1];
            --m_largeStart[m_table.x[i] + size + 1];  // wraps and comes back in the sums below
        }
    }
    if (wideEntries > std::numeric_limits<uint32_t>::max()) {
        throw std::length_error("TVemotrace_compV3: too many squares for the square index");
    }
    for (std::size_t cell = 1; cell <= cells; ++cell) {
        m_wideStart[cell] += m_wideStart[cell - 1];
        m_singleStart[cell] += m_singleStart[cell - 1];
    }
    for (std::size_t col = 1; col < m_largeStart.size(); ++col) m_largeStart[col] += m_largeStart[col - 1];
    for (std::size_t col = 1; col < m_largeStart.size(); ++col) m_largeStart[col] += m_largeStart[col - 1];

    // Cell lists in number order. Filling moves each cell's start to its
    // end, the next cell's start; shifting back by one cell restores them.
    m_wide.resize(m_wideStart.back());
    m_single.resize(m_singleStart.back());
    std::vector<int32_t> large;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t y = m_table.y[i];
        const int32_t size = m_table.size[i];
        if (size == 1) {
            m_single[m_singleStart[Cell(y / kCellHeight, m_table.x[i])]++] = SingleEntry{i, y};
        } else if (size <= kCellHeight) {
            const CellEntry entry{i, y, y + size - 1};
            forEachCell(i, [this, &entry](std::size_t cell) { m_wide[m_wideStart[cell]++] = entry; });
        } else {
            large.push_back(i);
        }
    }
    for (std::size_t cell = cells; cell > 0; --cell) {
        m_wideStart[cell] = m_wideStart[cell - 1];
        m_singleStart[cell] = m_singleStart[cell - 1];
    }
    m_wideStart[0] = 0;
    m_singleStart[0] = 0;

    // Large squares by top row, numbers rising within a row, into their columns.
    std::stable_sort(large.begin(), large.end(), [this](int32_t a, int32_t b) { return m_table.y[a] < m_table.y[b]; });
    m_large.resize(m_largeStart.back());
    m_largeLast.assign(m_largeStart.begin(), m_largeStart.end());
    std::vector<std::size_t> next(m_largeStart.begin(), m_largeStart.end() - 1);
    for (const int32_t i : large) {
        const int32_t x = m_table.x[i];
        const int32_t y = m_table.y[i];
        const int32_t size = m_table.size[i];
        for (int32_t col = x; col < x + size; ++col) m_large[next[col]++] = ColumnEntry{i, y, y + size - 1};
    }
    for (std::size_t col = 0; col < width; ++col) {
        for (std::size_t e = m_largeStart[col] + 1; e < m_largeStart[col + 1]; ++e) {
            m_large[e].reach = std::max(m_large[e].reach, m_large[e - 1].reach);
        }
    }
}

// The seed and the unused squares of size 2 or more that share a pixel with
// it, in the order a scan of the seed's columns from the left meets them.
// Squares that find the group full are left for later groups.
TVemotrace_compV3::SquareGroup TVemotrace_compV3::SeedGroup(int32_t seed) {
    SquareGroup group;
    group.members[group.count++] = seed;
    const int32_t left = m_table.x[seed];
    const int32_t right = left + m_table.size[seed] - 1;
    const int32_t top = m_table.y[seed];
    const int32_t bottom = top + m_table.size[seed] - 1;

    const int32_t firstBand = top / kCellHeight;
    const int32_t lastBand = bottom / kCellHeight;
    const auto isCandidate = [&](int32_t c, int32_t col) {
        return c != seed && m_table.useCount[c] == 0 && std::max(m_table.x[c], left) == col;  // not met before
    };
    for (int32_t col = left; col <= right; ++col) {
        m_matches.clear();
        for (int32_t band = firstBand; band <= lastBand; ++band) {
            const std::size_t cell = Cell(band, col);
            for (uint32_t at = m_wideStart[cell]; at < m_wideStart[cell + 1]; ++at) {
                const CellEntry& entry = m_wide[at];
                if (entry.top > bottom || entry.bottom < top) continue;                // shares no row
                if (std::max(entry.top, top) / kCellHeight != band) continue;          // met in an earlier band
                if (isCandidate(entry.square, col)) m_matches.push_back(entry.square);
            }
        }
        if (m_largeStart[col] != m_largeStart[col + 1]) {
            // Entries before the first whose reach gets to `top` end above it.
            const std::size_t end = m_largeStart[col + 1];
            std::size_t at = SeekFrom(m_largeLast[col], m_largeStart[col], end,
                                      [this, top](std::size_t e) { return m_large[e].reach < top; });
            for (; at != end && m_large[at].top <= bottom; ++at) {
                const ColumnEntry& entry = m_large[at];
                if (entry.top + m_table.size[entry.square] - 1 < top) continue;  // ends above the seed
                if (isCandidate(entry.square, col)) m_matches.push_back(entry.square);
            }
        }
        std::sort(m_matches.begin(), m_matches.end());
        for (const int32_t c : m_matches) {
            if (group.count == kGroupCapacity) return group;
            group.members[group.count++] = c;
        }
    }
    return group;
}

// Adds the unused single pixels inside or edge-wise next to the group's
// squares: for each member the box one pixel larger on every side (clipped
// to the image), without its four corner cells. Singles found here do not
// find further singles.
void TVemotrace_compV3::AttachSingles(SquareGroup& group) {
    const int32_t room = kGroupCapacity - group.count;
    int32_t found[kGroupCapacity];
    int32_t foundCount = 0;
    const auto isFound = [&](int32_t c) { return std::find(found, found + foundCount, c) != found + foundCount; };

    const int32_t members = group.count;
    for (int32_t k = 0; k < members && foundCount < room; ++k) {
        const int32_t m = group.members[k];
        const int32_t left = std::max(m_table.x[m] - 1, 0);
        const int32_t right = std::min(m_table.x[m] + m_table.size[m], m_table.width - 1);
        const int32_t top = std::max(m_table.y[m] - 1, 0);
        const int32_t bottom = std::min(m_table.y[m] + m_table.size[m], m_table.height - 1);

        for (int32_t col = left; col <= right && foundCount < room; ++col) {
            const bool edgeColumn = col == left || col == right;
            m_matches.clear();
            for (int32_t band = top / kCellHeight; band <= bottom / kCellHeight; ++band) {
                const std::size_t cell = Cell(band, col);
                for (uint32_t at = m_singleStart[cell]; at < m_singleStart[cell + 1]; ++at) {
                    const SingleEntry& entry = m_single[at];
                    if (entry.row < top || entry.row > bottom) continue;
                    if (edgeColumn && (entry.row == top || entry.row == bottom)) continue;  // corner cell
                    const int32_t c = entry.square;
                    if (m_table.useCount[c] != 0 || isFound(c)) continue;
                    m_matches.push_back(c);
                }
            }
            std::sort(m_matches.begin(), m_matches.end());
            for (const int32_t c : m_matches) {
                if (foundCount == room) break;
                found[foundCount++] = c;
            }
        }
    }
    for (int32_t k = 0; k < foundCount; ++k) group.members[group.count++] = found[k];
}

// One record per member with the next group number; the members are used.
void TVemotrace_compV3::WriteGroup(const SquareGroup& group) {
    for (int32_t k = 0; k < group.count; ++k) {
        const int32_t square = group.members[k];
        ++m_table.useCount[square];
        m_output->PutInt32(m_groupCount);
        m_output->PutInt32(square);
        ++m_memberCount;
    }
    ++m_groupCount;
}
