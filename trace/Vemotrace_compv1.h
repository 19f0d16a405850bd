// Vemotrace_compv1: stage 1 of the trace, the square cover.
//
// Covers every ink pixel of the bitmap with axis-aligned squares that hold
// no background pixel, in three passes: the border pass (top row and left
// column), the corner pass (2 x 2 windows with one non-background cell) and
// the fill pass (every pixel still uncovered, in reading order).
//
// Reads   the bitmap: packed (one bit per pixel, Vemotrace_packed) or one
//         byte per pixel (ink where the byte is 0); both give the same file.
// Writes  temp.sqr: one 16-byte record per square in the order found
//         (int32 index, int32 x, int32 y, int32 size); index i is record i.
//         The file is created when the first square is written, so a
//         bitmap without ink leaves an earlier file untouched.
// Returns the number of squares. Throws FileError when the squares file
//         cannot be created or written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "trace/Vemotrace_packed.h"
#include "trace/Vemotrace_records.h"
#include "trace/Vemotrace_types.h"

// Stage 1: covers the ink with squares and writes temp.sqr.
class TVemotrace_compV1 {
public:
    explicit TVemotrace_compV1(std::string squaresPath);
    int32_t MakeSquares(const BitmapView& bitmap);  // throws FileError
    int32_t MakeSquares(PackedBitmap bitmap);       // throws FileError

private:
    void BuildGrid(PackedBitmap bitmap);
    void BorderPass();
    void CornerPass();
    void FillPass();
    void GrowFromCorner(int direction, int32_t x0, int32_t y0);
    void GrowBestSquare(int32_t x, int32_t y);
    void Emit(int32_t left, int32_t top, int32_t size);

    int32_t LargestSquare(int32_t x, int32_t y, int dx, int dy) const;
    int32_t LargestSquareUpTo(int32_t x, int32_t y, int dx, int dy, int32_t limit) const;
    int32_t RunRight(int32_t y, int32_t x, int32_t limit) const;
    int32_t RunLeft(int32_t y, int32_t x, int32_t limit) const;
    void ClearInk(int32_t y, int32_t left, int32_t right);
    bool IsSolid(int32_t x, int32_t y) const;
    bool IsInk(int32_t x, int32_t y) const;
    const uint64_t* SolidRow(int32_t y) const;
    uint64_t* InkRow(int32_t y);
    const uint64_t* FullWordRow(int32_t y) const;
    uint64_t* InkWordRow(int32_t y);

    std::string m_squaresPath;
    std::unique_ptr<RecordWriter> m_output;
    int32_t m_width = 0;
    int32_t m_height = 0;
    // The grid as two bit planes, row by row, bit x % 64 of word x / 64:
    // `solid` marks the cells that are not background (fixed for the run),
    // `ink` the cells not yet covered by a square. Covered = solid && !ink.
    // Rows without solid cells are skipped by every pass.
    std::size_t m_wordsPerRow = 0;
    PackedBitmap m_solid;
    PackedBitmap m_ink;
    // One bit per word of a row, so that large solid areas are crossed 64
    // words at a time: `fullWords` marks the solid words without background,
    // `inkWords` the ink words with any cell still uncovered.
    std::size_t m_summaryWordsPerRow = 0;
    std::vector<uint64_t> m_fullWords;
    std::vector<uint64_t> m_inkWords;
    int32_t m_squareCount = 0;
};
