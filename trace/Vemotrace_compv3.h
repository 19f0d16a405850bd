// Vemotrace_compv3: stage 3 of the trace, the square groups.
//
// Sorts the squares of the square table into groups: each square of size
// 2 or more that is not yet in a group, largest first and lower numbers
// first, seeds a group, takes the unused squares of size 2 or more that
// share a pixel with it and then the unused single pixels that touch one
// of those squares edge-wise (never through another single pixel); a group
// holds at most 64 squares. The single pixels left over form one group
// each. Every square ends up in exactly one group.
//
// Reads   the square table of stage 2 (its width and height set).
// Writes  temp.sqo: one 8-byte record (int32 group, int32 square) per
//         member, groups in increasing number, members in joining order.
//         The file is created with the first record, so an empty table
//         leaves an earlier file untouched. Raises each square's use count.
// Returns GroupCount and MemberCount (always the table's square count).
// Throws  FileError when the groups file cannot be created or written, or
//         when a square of the table lies outside the image.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "trace/Vemotrace_records.h"
#include "trace/Vemotrace_types.h"

// Stage 3: gathers the squares into groups and writes temp.sqo.
class TVemotrace_compV3 {
public:
    TVemotrace_compV3(std::string groupsPath, ::SquareTable& table);  // throws FileError
    int32_t GroupCount() const { return m_groupCount; }
    int32_t MemberCount() const { return m_memberCount; }

private:
    static constexpr int32_t kGroupCapacity = 64;

    // The squares of one group in joining order, the first one the seed.
    struct SquareGroup {
        int32_t count = 0;
        int32_t members[kGroupCapacity] = {};
    };

    // Squares up to this size are indexed by cells of one pixel column by
    // this many rows; larger ones, rare in line drawings, by column.
    static constexpr int32_t kCellHeight = 64;

    struct CellEntry {
        int32_t square;
        int32_t top;     // the square's top row
        int32_t bottom;  // the square's bottom row
    };
    struct SingleEntry {
        int32_t square;
        int32_t row;
    };
    struct ColumnEntry {
        int32_t square;
        int32_t top;    // the square's top row
        int32_t reach;  // bottom row furthest down among this entry and those before it
    };

    void CheckSquaresInImage() const;
    void BuildSquareIndex();
    std::size_t Cell(int32_t band, int32_t col) const {
        return static_cast<std::size_t>(band) * static_cast<std::size_t>(m_table.width) + static_cast<std::size_t>(col);
    }
    SquareGroup SeedGroup(int32_t seed);
    void AttachSingles(SquareGroup& group);
    void WriteGroup(const SquareGroup& group);

    std::string m_groupsPath;
    ::SquareTable& m_table;
    int32_t m_groupCount = 0;
    int32_t m_memberCount = 0;
    std::unique_ptr<RecordWriter> m_output;

    // Square index, only during the construction. It yields the squares
    // that a scan of whole column lists would meet in the rows of a search.
    // Squares of size 2 to kCellHeight and single pixels have their own
    // lists per cell (band of kCellHeight rows, column), band by band, each
    // in number order; a square is in every cell it has pixels in. A search
    // reads only the cells of its rows, and those of neighbouring columns
    // lie side by side.
    std::vector<uint32_t> m_wideStart;  // band count x width + 1 offsets into m_wide
    std::vector<CellEntry> m_wide;
    std::vector<uint32_t> m_singleStart;  // band count x width + 1 offsets into m_single
    std::vector<SingleEntry> m_single;
    // Larger squares: for each column those with pixels in it, ordered by
    // top row, and where the last search in the column ended.
    std::vector<std::size_t> m_largeStart;  // width + 1 offsets into m_large
    std::vector<ColumnEntry> m_large;
    std::vector<std::size_t> m_largeLast;
    std::vector<int32_t> m_matches;  // scratch for one column's matches
};
