// Vemotrace_compv2: stage 2 of the trace, the square table.
//
// Reads   temp.sqr, the first `squareCount` 16-byte records (int32 index,
//         int32 x, int32 y, int32 size) written by stage 1; square i of the
//         table is record i. With a count of 0 the file is not opened, so
//         a file left from an earlier trace is never read.
// Holds   the square table: four arrays of count + 10 entries, use counts 0,
//         the largest size; the pipeline fills in width and height and
//         stages 3 and 4 work on the table while this object lives.
// Throws  FileError when the file is missing or shorter than the count, or
//         holds a square that no bitmap can have (size below 1, negative
//         position, or too large for 32-bit coordinates).
#pragma once

#include <cstdint>
#include <string>

#include "trace/Vemotrace_types.h"

// Stage 2: reads temp.sqr back into the square table.
class TVemotrace_compV2 {
public:
    TVemotrace_compV2(std::string squaresPath, int32_t squareCount);  // throws FileError
    ::SquareTable& SquareTable() { return m_table; }

private:
    void Load(int32_t squareCount);

    std::string m_squaresPath;
    ::SquareTable m_table;
};
