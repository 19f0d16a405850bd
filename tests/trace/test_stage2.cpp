// Stage 2 (square table): loading temp.sqr, and refusing files that are
// missing, short or hold squares no bitmap can have.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ascii_bitmap.h"
#include "square_files.h"
#include "trace/Vemotrace_compv1.h"
#include "trace/Vemotrace_compv2.h"
#include "trace/Vemotrace_records.h"

namespace {

using square_files::SquareRecord;

class Stage2Test : public ::testing::Test {
protected:
    std::string Path() const { return m_folder.File(records::kSquaresFileName); }

    square_files::TempFolder m_folder;
};

// Squares read back as stage 1 wrote them, whatever the record order of
// the largest one.
TEST_F(Stage2Test, TableHoldsTheRecordsOfTheSquaresFile) {
    const std::vector<SquareRecord> squares = {{0, 4, 1, 1}, {1, 0, 0, 7}, {2, 30, 12, 2}, {3, 9, 9, 7}};
    square_files::WriteBytes(Path(), square_files::SquareBytes(squares));
    TVemotrace_compV2 stage(Path(), 4);
    const SquareTable& table = stage.SquareTable();
    EXPECT_EQ(table.count, 4);
    EXPECT_EQ(table.largestSize, 7);
    EXPECT_EQ(table.x, (std::vector<int32_t>{4, 0, 30, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(table.y, (std::vector<int32_t>{1, 0, 12, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(table.size, (std::vector<int32_t>{1, 7, 2, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(table.useCount, std::vector<int32_t>(14, 0));
}

// A later square count smaller than the file: only the first records count.
TEST_F(Stage2Test, ReadsOnlyTheGivenNumberOfRecords) {
    square_files::WriteBytes(Path(), square_files::SquareBytes({{0, 1, 2, 3}, {1, 5, 5, 9}}));
    TVemotrace_compV2 stage(Path(), 1);
    EXPECT_EQ(stage.SquareTable().count, 1);
    EXPECT_EQ(stage.SquareTable().largestSize, 3);
}

// A trace without ink must not read the file of an earlier trace.
TEST_F(Stage2Test, CountZeroDoesNotTouchTheFile) {
    TVemotrace_compV2 stage(m_folder.File("missing/temp.sqr"), 0);
    EXPECT_EQ(stage.SquareTable().count, 0);
    EXPECT_EQ(stage.SquareTable().largestSize, 0);
    EXPECT_EQ(stage.SquareTable().x.size(), 10u);
}

// A short or missing file is never taken as a smaller drawing.
TEST_F(Stage2Test, MissingOrShortFileRaisesFileError) {
    EXPECT_THROW(TVemotrace_compV2(Path(), 1), FileError);

    std::vector<uint8_t> bytes = square_files::SquareBytes({{0, 1, 1, 1}, {1, 2, 2, 2}});
    bytes.pop_back();
    square_files::WriteBytes(Path(), bytes);
    try {
        TVemotrace_compV2(Path(), 2);
        FAIL() << "no error for a short file";
    } catch (const FileError& error) {
        EXPECT_EQ(error.Path(), Path());
    }
}

// Squares that no cover can produce would make later stages index outside
// the image.
TEST_F(Stage2Test, ImpossibleSquaresRaiseFileError) {
    for (const SquareRecord& bad : std::vector<SquareRecord>{
             {0, 1, 1, 0}, {0, 1, 1, -3}, {0, -1, 1, 1}, {0, 1, -1, 1}, {0, INT32_MAX - 1, 0, 2}}) {
        square_files::WriteBytes(Path(), square_files::SquareBytes({{0, 0, 0, 1}, bad}));
        EXPECT_THROW(TVemotrace_compV2(Path(), 2), FileError) << bad;
    }
}

// Round trip through the file: stage 1 writes, stage 2 reads the same.
TEST_F(Stage2Test, TableMatchesTheCoverOfABitmap) {
    const AsciiBitmap bitmap({
        "..........",
        "..###.....",
        "..#####...",
        "..###.....",
        "..........",
    });
    const int32_t count = TVemotrace_compV1(Path()).MakeSquares(bitmap.View());
    const std::vector<SquareRecord> squares = square_files::ReadSquares(Path());
    TVemotrace_compV2 stage(Path(), count);
    const SquareTable& table = stage.SquareTable();
    ASSERT_EQ(table.count, static_cast<int32_t>(squares.size()));
    for (std::size_t i = 0; i < squares.size(); ++i) {
        EXPECT_EQ(table.x[i], squares[i].x);
        EXPECT_EQ(table.y[i], squares[i].y);
        EXPECT_EQ(table.size[i], squares[i].size);
    }
    EXPECT_EQ(table.largestSize, 3);
}

}  // namespace
