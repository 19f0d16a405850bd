// Vemotrace_compv2: stage 2 of the trace, loading the square table from
// temp.sqr (see the header).
#include "trace/Vemotrace_compv2.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "trace/Vemotrace_records.h"

namespace {

// Records read per call; keeps the reading buffer small on any count.
constexpr std::size_t kRecordsPerRead = 4096;

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

    RecordReader reader(m_squaresPath);
    std::vector<uint8_t> buffer(kRecordsPerRead * records::kSquareRecordSize);
    int32_t square = 0;
    while (square < squareCount) {
        const std::size_t batch = std::min(kRecordsPerRead, static_cast<std::size_t>(squareCount - square));
        reader.ReadExact(buffer.data(), batch * records::kSquareRecordSize);
        for (std::size_t i = 0; i < batch; ++i, ++square) {
            // The index field at offset 0 is not used: square numbers are
            // record positions.
            const uint8_t* record = buffer.data() + i * records::kSquareRecordSize;
            const int32_t x = records::GetInt32(record + 4);
            const int32_t y = records::GetInt32(record + 8);
            const int32_t size = records::GetInt32(record + 12);
            if (size < 1 || x < 0 || y < 0 || x > INT32_MAX - size || y > INT32_MAX - size) {
                throw FileError(m_squaresPath, "record " + std::to_string(square) + " is not a valid square");
            }
            m_table.x[square] = x;
            m_table.y[square] = y;
            m_table.size[square] = size;
            m_table.largestSize = std::max(m_table.largestSize, size);
        }
    }
    m_table.count = squareCount;
}
