// Vemotrace_compv1: stage 1 of the trace, the square cover (see the header
// for the file it writes).
//
// The grid is kept as two bit planes in row order instead of one byte per
// cell: the passes walk the grid row by row and skip blank stretches a
// word at a time, and a square's growth reads whole words of a row.
//
// Each plane has a summary with one bit per word, which lets runs across
// large solid areas, and the covering of large squares, step over 64 words
// at a time: on a mostly black page squares thousands of pixels wide are
// measured and covered again and again.
//
// Every growth here only ever stops at background cells, and background
// never changes during the run. So the square that a growth finds from a
// corner is simply the largest square of non-background cells that has
// that corner and lies in the bitmap: it is measured row by row as the
// shortest run of non-background cells from the corner's column. Only the
// choice of start cells depends on what is already covered, and the passes
// visit them in their fixed order.
#include "trace/Vemotrace_compv1.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

#include "base/Vemo_runcontrol.h"

namespace {

// Directions of diagonal growth from a fixed corner.
constexpr int kUpRight = 1;
constexpr int kUpLeft = 2;
constexpr int kDownLeft = 3;
constexpr int kDownRight = 4;

constexpr int DirectionDx(int direction) { return direction == kUpRight || direction == kDownRight ? 1 : -1; }
constexpr int DirectionDy(int direction) { return direction == kDownLeft || direction == kDownRight ? 1 : -1; }

// Most squares are far smaller than this; a first measure capped here
// reads at most two words per row.
constexpr int32_t kFirstGrowthLimit = 64;

constexpr uint64_t kAllBits = ~uint64_t{0};

}  // namespace

TVemotrace_compV1::TVemotrace_compV1(std::string squaresPath) : m_squaresPath(std::move(squaresPath)) {}

int32_t TVemotrace_compV1::MakeSquares(const BitmapView& bitmap) {
    if (bitmap.width <= 0 || bitmap.height <= 0) return MakeSquares(PackedBitmap());
    if (bitmap.pixels == nullptr) throw std::invalid_argument("MakeSquares: bitmap without pixels");
    return MakeSquares(PackedBitmap::FromBytes(bitmap));
}

int32_t TVemotrace_compV1::MakeSquares(PackedBitmap bitmap) {
    m_squareCount = 0;
    if (bitmap.IsEmpty()) return 0;

    BuildGrid(std::move(bitmap));
    m_output = std::make_unique<RecordWriter>(m_squaresPath);  // the file appears with the first square
    BorderPass();
    CornerPass();
    FillPass();
    m_output->Close();
    m_output.reset();

    m_solid = PackedBitmap();
    m_ink = PackedBitmap();
    m_fullWords = {};
    m_inkWords = {};
    return m_squareCount;
}

void TVemotrace_compV1::BuildGrid(PackedBitmap bitmap) {
    m_width = bitmap.Width();
    m_height = bitmap.Height();
    m_wordsPerRow = bitmap.WordsPerRow();
    m_solid = std::move(bitmap);
    // At the start every cell that is not background is ink.
    m_ink = m_solid.Clone();

    m_summaryWordsPerRow = (m_wordsPerRow + 63) / 64;
    m_fullWords.assign(m_summaryWordsPerRow * static_cast<std::size_t>(m_height), 0);
    m_inkWords.assign(m_fullWords.size(), 0);
    for (int32_t y = 0; y < m_height; ++y) {
        if (!m_solid.RowHasInk(y)) continue;
        const uint64_t* row = SolidRow(y);
        uint64_t* full = m_fullWords.data() + static_cast<std::size_t>(y) * m_summaryWordsPerRow;
        uint64_t* ink = InkWordRow(y);
        for (std::size_t word = 0; word < m_wordsPerRow; ++word) {
            full[word / 64] |= uint64_t{row[word] == kAllBits} << (word % 64);
            ink[word / 64] |= uint64_t{row[word] != 0} << (word % 64);
        }
    }
}

const uint64_t* TVemotrace_compV1::SolidRow(int32_t y) const { return m_solid.Row(y); }

uint64_t* TVemotrace_compV1::InkRow(int32_t y) { return m_ink.Row(y); }

const uint64_t* TVemotrace_compV1::FullWordRow(int32_t y) const {
    return m_fullWords.data() + static_cast<std::size_t>(y) * m_summaryWordsPerRow;
}

uint64_t* TVemotrace_compV1::InkWordRow(int32_t y) {
    return m_inkWords.data() + static_cast<std::size_t>(y) * m_summaryWordsPerRow;
}

bool TVemotrace_compV1::IsSolid(int32_t x, int32_t y) const { return m_solid.RowHasInk(y) && m_solid.IsInk(x, y); }

bool TVemotrace_compV1::IsInk(int32_t x, int32_t y) const { return m_ink.IsInk(x, y); }

// Non-background cells from x rightwards in row y, x included, counted up
// to `limit`. The spare bits after the last column are 0, so a run ends at
// the right border.
int32_t TVemotrace_compV1::RunRight(int32_t y, int32_t x, int32_t limit) const {
    const uint64_t* row = SolidRow(y);
    std::size_t word = static_cast<std::size_t>(x) / 64;
    const int bit = x % 64;
    int32_t count = std::countr_one(row[word] >> bit);
    if (count < 64 - bit) return std::min(count, limit);
    ++word;
    const uint64_t* full = FullWordRow(y);
    while (count < limit && word < m_wordsPerRow) {
        const int offset = static_cast<int>(word % 64);
        const int fullWords = std::countr_one(full[word / 64] >> offset);
        count += 64 * fullWords;
        word += static_cast<std::size_t>(fullWords);
        if (fullWords == 64 - offset) continue;  // on into the next summary word
        if (word < m_wordsPerRow) count += std::countr_one(row[word]);
        break;
    }
    return std::min(count, limit);
}

// The same leftwards; a run ends at column 0.
int32_t TVemotrace_compV1::RunLeft(int32_t y, int32_t x, int32_t limit) const {
    const uint64_t* row = SolidRow(y);
    std::size_t word = static_cast<std::size_t>(x) / 64;  // lowest word taken so far
    const int bit = x % 64;
    int32_t count = std::countl_one(row[word] << (63 - bit));
    if (count < bit + 1) return std::min(count, limit);
    const uint64_t* full = FullWordRow(y);
    while (count < limit && word > 0) {
        const std::size_t next = word - 1;
        const int offset = static_cast<int>(next % 64);
        const int fullWords = std::countl_one(full[next / 64] << (63 - offset));
        count += 64 * fullWords;
        word -= static_cast<std::size_t>(fullWords);
        if (fullWords == offset + 1) continue;  // on into the summary word before
        count += std::countl_one(row[word - 1]);
        break;
    }
    return std::min(count, limit);
}

// Side of the largest square of non-background cells inside the bitmap
// that has (x, y) as its corner and extends by (dx, dy). (x, y) itself must
// not be background, so the side is at least 1.
int32_t TVemotrace_compV1::LargestSquare(int32_t x, int32_t y, int dx, int dy) const {
    const int32_t rowsThatWay = dy > 0 ? m_height - y : y + 1;
    int32_t limit = std::min(rowsThatWay, kFirstGrowthLimit);
    for (;;) {
        const int32_t side = LargestSquareUpTo(x, y, dx, dy, limit);
        if (side < limit || limit == rowsThatWay) return side;
        limit = limit > rowsThatWay / 8 ? rowsThatWay : limit * 8;
    }
}

// As LargestSquare, but gives at most `limit` (1 <= limit <= rows that way).
// A square of side s + 1 fits when each of its s + 1 rows holds a run of
// at least s + 1 cells from column x in direction dx.
int32_t TVemotrace_compV1::LargestSquareUpTo(int32_t x, int32_t y, int dx, int dy, int32_t limit) const {
    int32_t shortestRun = limit;
    int32_t side = 0;
    for (int32_t row = y; side < limit; row += dy) {
        shortestRun = dx > 0 ? RunRight(row, x, shortestRun) : RunLeft(row, x, shortestRun);
        if (shortestRun < side + 1) break;
        ++side;
    }
    return side;
}

// Grows a square that keeps (x0, y0) as its corner, one diagonal step at a
// time, until the bitmap's edge or a background cell stops it.
void TVemotrace_compV1::GrowFromCorner(int direction, int32_t x0, int32_t y0) {
    const int dx = DirectionDx(direction);
    const int dy = DirectionDy(direction);
    const int32_t side = LargestSquare(x0, y0, dx, dy);
    Emit(dx > 0 ? x0 : x0 - side + 1, dy > 0 ? y0 : y0 - side + 1, side);
}

// The largest of the four squares that have (x, y) as a corner. On equal
// sides down-right wins over down-left, down-left over up-right, up-right
// over up-left.
void TVemotrace_compV1::GrowBestSquare(int32_t x, int32_t y) {
    const int32_t upLeft = LargestSquare(x, y, -1, -1);
    const int32_t upRight = LargestSquare(x, y, 1, -1);
    const int32_t downLeft = LargestSquare(x, y, -1, 1);
    const int32_t downRight = LargestSquare(x, y, 1, 1);
    const int32_t side = std::max({upLeft, upRight, downLeft, downRight});
    if (downRight == side) {
        Emit(x, y, side);
    } else if (downLeft == side) {
        Emit(x - side + 1, y, side);
    } else if (upRight == side) {
        Emit(x, y - side + 1, side);
    } else {
        Emit(x - side + 1, y - side + 1, side);
    }
}

// Only the top row and the left column: tips of strokes that touch them.
void TVemotrace_compV1::BorderPass() {
    if (IsSolid(0, 0)) GrowFromCorner(kDownRight, 0, 0);

    // Top row: the pairs (x, 0), (x + 1, 0) with exactly one solid cell,
    // found 64 pairs at a time. Pair x = W - 1 does not exist.
    const uint64_t* top = SolidRow(0);
    for (std::size_t word = 0; word < m_wordsPerRow; ++word) {
        const uint64_t next = word + 1 < m_wordsPerRow ? top[word + 1] : 0;
        uint64_t oneSolid = top[word] ^ ((top[word] >> 1) | (next << 63));
        if (word == static_cast<std::size_t>(m_width - 1) / 64) oneSolid &= ~(uint64_t{1} << ((m_width - 1) % 64));
        while (oneSolid != 0) {
            const auto x = static_cast<int32_t>(word * 64 + std::countr_zero(oneSolid));
            oneSolid &= oneSolid - 1;
            if (IsInk(x, 0)) GrowFromCorner(kDownLeft, x, 0);
            if (IsInk(x + 1, 0)) GrowFromCorner(kDownRight, x + 1, 0);
        }
    }

    for (int32_t y = 0; y + 1 < m_height; ++y) {
        if (IsSolid(0, y) == IsSolid(0, y + 1)) continue;
        if (IsInk(0, y)) GrowFromCorner(kUpRight, 0, y);
        if (IsInk(0, y + 1)) GrowFromCorner(kDownRight, 0, y + 1);
    }
}

// Every 2 x 2 window with exactly one solid cell starts a square from that
// cell, pointing away from the window, if the cell is still ink. Which
// windows qualify depends on background only, so they are found 64 at a
// time from the solid plane; whether the cell is still ink is asked when
// the window's turn comes.
void TVemotrace_compV1::CornerPass() {
    const std::size_t lastWindowWord = static_cast<std::size_t>(m_width - 1) / 64;
    const uint64_t noWindowAtRightEdge = ~(uint64_t{1} << ((m_width - 1) % 64));
    for (int32_t y = 0; y + 1 < m_height; ++y) {
        RunCheckpoint(y, 2 * int64_t{m_height});  // the corner pass is the first half of the stage's time
        if (!m_solid.RowHasInk(y) && !m_solid.RowHasInk(y + 1)) continue;
        const uint64_t* upper = SolidRow(y);
        const uint64_t* lower = SolidRow(y + 1);
        for (std::size_t word = 0; word < m_wordsPerRow; ++word) {
            const bool hasNext = word + 1 < m_wordsPerRow;
            const uint64_t upperNext = hasNext ? upper[word + 1] : 0;
            const uint64_t lowerNext = hasNext ? lower[word + 1] : 0;
            if ((upper[word] | lower[word] | ((upperNext | lowerNext) & 1)) == 0) continue;
            // Bit i of each value: one cell of the window at x = 64 * word + i.
            const uint64_t topLeft = upper[word];
            const uint64_t topRight = (upper[word] >> 1) | (upperNext << 63);
            const uint64_t bottomLeft = lower[word];
            const uint64_t bottomRight = (lower[word] >> 1) | (lowerNext << 63);
            const uint64_t topOne = topLeft ^ topRight;
            const uint64_t topTwo = topLeft & topRight;
            const uint64_t bottomOne = bottomLeft ^ bottomRight;
            const uint64_t bottomTwo = bottomLeft & bottomRight;
            uint64_t exactlyOne = (topOne & ~bottomOne & ~bottomTwo) | (bottomOne & ~topOne & ~topTwo);
            if (word == lastWindowWord) exactlyOne &= noWindowAtRightEdge;
            while (exactlyOne != 0) {
                const int bit = std::countr_zero(exactlyOne);
                exactlyOne &= exactlyOne - 1;
                const uint64_t at = uint64_t{1} << bit;
                const auto x = static_cast<int32_t>(word * 64 + bit);
                if (topLeft & at) {
                    if (IsInk(x, y)) GrowFromCorner(kUpLeft, x, y);
                } else if (topRight & at) {
                    if (IsInk(x + 1, y)) GrowFromCorner(kUpRight, x + 1, y);
                } else if (bottomLeft & at) {
                    if (IsInk(x, y + 1)) GrowFromCorner(kDownLeft, x, y + 1);
                } else {
                    if (IsInk(x + 1, y + 1)) GrowFromCorner(kDownRight, x + 1, y + 1);
                }
            }
        }
    }
}

// Every cell still ink, in reading order, gets the best square at it. The
// words still holding ink are found through the row's summary, which the
// squares of this pass keep up to date.
void TVemotrace_compV1::FillPass() {
    for (int32_t y = 0; y < m_height; ++y) {
        RunCheckpoint(int64_t{m_height} + y, 2 * int64_t{m_height});
        if (!m_solid.RowHasInk(y)) continue;
        const uint64_t* ink = InkRow(y);
        const uint64_t* inkWords = InkWordRow(y);
        for (std::size_t summary = 0; summary < m_summaryWordsPerRow; ++summary) {
            uint64_t words = inkWords[summary];
            while (words != 0) {
                const int offset = std::countr_zero(words);
                const std::size_t word = summary * 64 + static_cast<std::size_t>(offset);
                uint64_t bits = ink[word];
                while (bits != 0) {
                    const int bit = std::countr_zero(bits);
                    GrowBestSquare(static_cast<int32_t>(word * 64 + bit), y);
                    // The square covered this cell and perhaps more of the word.
                    bits = ink[word] & (kAllBits << bit);
                }
                // Squares only ever clear ink, and only this word's is left
                // to look at; later words of the summary are read afresh.
                words = inkWords[summary] & (offset == 63 ? 0 : kAllBits << (offset + 1));
            }
        }
    }
}

// Writes the square as the next record and marks its cells covered.
void TVemotrace_compV1::Emit(int32_t left, int32_t top, int32_t size) {
    if (m_squareCount == INT32_MAX) throw FileError(m_squaresPath, "too many squares for the squares file");
    m_output->PutInt32(m_squareCount);
    m_output->PutInt32(left);
    m_output->PutInt32(top);
    m_output->PutInt32(size);
    ++m_squareCount;

    for (int32_t y = top; y < top + size; ++y) ClearInk(y, left, left + size - 1);
}

// Marks the cells left to right of row y covered. Only the words that still
// hold ink are touched.
void TVemotrace_compV1::ClearInk(int32_t y, int32_t left, int32_t right) {
    uint64_t* row = InkRow(y);
    uint64_t* inkWords = InkWordRow(y);
    const std::size_t firstWord = static_cast<std::size_t>(left) / 64;
    const std::size_t lastWord = static_cast<std::size_t>(right) / 64;
    const uint64_t firstMask = kAllBits << (left % 64);
    const uint64_t lastMask = kAllBits >> (63 - right % 64);
    const auto clearWord = [&](std::size_t word, uint64_t mask) {
        row[word] &= ~mask;
        if (row[word] == 0) inkWords[word / 64] &= ~(uint64_t{1} << (word % 64));
    };
    if (firstWord == lastWord) {
        clearWord(firstWord, firstMask & lastMask);
        return;
    }
    for (std::size_t summary = firstWord / 64; summary <= lastWord / 64; ++summary) {
        uint64_t words = inkWords[summary];
        if (summary == firstWord / 64) words &= kAllBits << (firstWord % 64);
        if (summary == lastWord / 64) words &= kAllBits >> (63 - lastWord % 64);
        while (words != 0) {
            const std::size_t word = summary * 64 + static_cast<std::size_t>(std::countr_zero(words));
            words &= words - 1;
            clearWord(word, word == firstWord ? firstMask : word == lastWord ? lastMask : kAllBits);
        }
    }
}
