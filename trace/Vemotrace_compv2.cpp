// Vemotrace_compv2: stage 2 of the trace, loading the square table from
// temp.sqr (see the header).
#include "trace/Vemotrace_compv2.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "trace/Vemotrace_records.h"

namespace {

// Entries after the last square, never used.
constexpr std::size_t kSpareEntries = 10;

}  // namespace

TVemotrace_compV2::TVemotrace_compV2(std::string squaresPath, int32_t squareCount)
    : m_squaresPath(std::move(squaresPath)) {
    if (squareCount < 0) throw std::invalid_argument("TVemotrace_compV2: negative square count");
    Load(squareCount);
}

void TVemotrace_compV2::Load(int32_t squareCount) {
    const std::size_t entries = static_cast<std::size_t>(squareCount) + kSpareEntries;
    m_table.x.assign(entries, 0);
    m_table.y.assign(entries, 0);
    m_table.size.assign(entries, 0);
    m_table.useCount.assign(entries, 0);
    m_table.count = 0;
    m_table.largestSize = 0;
    if (squareCount == 0) return;

    // Square numbers are record positions.
    ReadSquares(m_squaresPath, squareCount, ShortFile::Throws, [&](int32_t square, const SquareRecord& r) {
        if (r.size < 1 || r.x < 0 || r.y < 0 || r.x > INT32_MAX - r.size || r.y > INT32_MAX - r.size) {
            throw FileError(m_squaresPath, "record " + std::to_string(square) + " is not a valid square");
        }
        m_table.x[square] = r.x;
        m_table.y[square] = r.y;
        m_table.size[square] = r.size;
        m_table.largestSize = std::max(m_table.largestSize, r.size);
    });
    m_table.count = squareCount;
}
