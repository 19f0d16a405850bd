// Stage 4 (point and link graph): the stage is fed a square table and a
// groups file written here, and its points and links files are read back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "square_files.h"
#include "trace/Vemotrace_compv4.h"
#include "trace/Vemotrace_records.h"

namespace {

namespace fs = std::filesystem;

struct Square {
    int32_t x, y, size;
};
using Link = std::pair<int32_t, int32_t>;
struct Point {
    double x, y;
};

class Stage4Test : public ::testing::Test {
protected:
    std::string PathOf(const char* name) const { return m_folder.File(name); }

    // Table of the squares on a width x height image; each group lists its
    // squares, written as one run per group.
    void Run(int32_t width, int32_t height, const std::vector<Square>& squares,
             const std::vector<std::vector<int32_t>>& groups) {
        m_table = SquareTable{};
        for (const Square& s : squares) {
            m_table.x.push_back(s.x);
            m_table.y.push_back(s.y);
            m_table.size.push_back(s.size);
            m_table.useCount.push_back(1);
        }
        m_table.count = static_cast<int32_t>(squares.size());
        m_table.width = width;
        m_table.height = height;
        int32_t members = 0;
        if (!squares.empty()) {
            RecordWriter writer(PathOf("temp.sqo"));
            for (std::size_t g = 0; g < groups.size(); ++g) {
                for (const int32_t s : groups[g]) {
                    writer.PutInt32(static_cast<int32_t>(g));
                    writer.PutInt32(s);
                    ++members;
                }
            }
            writer.Close();
        }
        RunStage(static_cast<int32_t>(groups.size()), members);
    }

    void RunStage(int32_t groupCount, int32_t memberCount) {
        const TVemotrace_compV4 stage(PathOf("temp.sqo"), PathOf("temp.pxy"), PathOf("temp.lix"), m_table,
                                      groupCount, memberCount);
        m_pointCount = stage.PointCount();
        m_linkCount = stage.LinkCount();
    }

    // Every square its own group, in table order.
    void RunSingles(int32_t width, int32_t height, const std::vector<Square>& squares) {
        std::vector<std::vector<int32_t>> groups;
        for (std::size_t s = 0; s < squares.size(); ++s) groups.push_back({static_cast<int32_t>(s)});
        Run(width, height, squares, groups);
    }

    std::vector<Point> Points() const {
        std::vector<Point> points;
        RecordReader reader(PathOf("temp.pxy"));
        uint8_t record[16];
        while (reader.ReadUpTo(record, sizeof record) == sizeof record) {
            points.push_back({records::GetDouble(record), records::GetDouble(record + 8)});
        }
        return points;
    }

    std::vector<Link> Links() const {
        std::vector<Link> links;
        RecordReader reader(PathOf("temp.lix"));
        int32_t lower = 0, higher = 0;
        while (reader.TryInt32(lower)) {
            EXPECT_TRUE(reader.TryInt32(higher)) << "temp.lix ends inside a link";
            links.emplace_back(lower, higher);
        }
        return links;
    }

    square_files::TempFolder m_folder;
    SquareTable m_table;
    int32_t m_pointCount = -1;
    int32_t m_linkCount = -1;
};

TEST_F(Stage4Test, PointIsTheCentreOfTheGroupBoxInPixelCentres) {
    // Group 0 spans columns 2 to 4 on row 7; group 1 is a 3 x 3 square with
    // a single pixel right of it, box columns 0 to 3, rows 10 to 12.
    Run(20, 20, {{2, 7, 1}, {3, 7, 1}, {4, 7, 1}, {0, 10, 3}, {3, 11, 1}}, {{0, 1, 2}, {3, 4}});
    ASSERT_EQ(m_pointCount, 2);
    const std::vector<Point> points = Points();
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].x, 3.5);
    EXPECT_EQ(points[0].y, 7.5);
    EXPECT_EQ(points[1].x, 2.0);
    EXPECT_EQ(points[1].y, 11.5);
    EXPECT_EQ(fs::file_size(PathOf("temp.pxy")), 32u);
}

TEST_F(Stage4Test, NoGroupsCreatesBothFilesEmptyWithoutOpeningTheGroupsFile) {
    // Stale files of an earlier trace: the groups file must not be read (a
    // directory stands in its place), the other two must be truncated.
    fs::create_directory(PathOf("temp.sqo"));
    RecordWriter stale(PathOf("temp.lix"));
    stale.PutInt32(0);
    stale.PutInt32(1);
    stale.Close();
    m_table.width = 10;
    m_table.height = 10;
    RunStage(0, 0);
    EXPECT_EQ(m_pointCount, 0);
    EXPECT_EQ(m_linkCount, 0);
    EXPECT_EQ(fs::file_size(PathOf("temp.pxy")), 0u);
    EXPECT_EQ(fs::file_size(PathOf("temp.lix")), 0u);
}

TEST_F(Stage4Test, OneGroupGivesOnePointAndNoLink) {
    Run(10, 10, {{2, 2, 3}}, {{0}});
    EXPECT_EQ(m_pointCount, 1);
    EXPECT_EQ(m_linkCount, 0);
    EXPECT_EQ(fs::file_size(PathOf("temp.lix")), 0u);
}

TEST_F(Stage4Test, SinglesLinkEdgeToEdgeOnlyAndThePairIsStoredOnce) {
    // Both searches find the other; one record under the lower group.
    RunSingles(20, 20, {{5, 5, 1}, {6, 5, 1}});
    EXPECT_EQ(Links(), (std::vector<Link>{{0, 1}}));
    EXPECT_EQ(m_linkCount, 1);

    RunSingles(20, 20, {{5, 5, 1}, {6, 6, 1}});
    EXPECT_TRUE(Links().empty());
}

TEST_F(Stage4Test, CornerContactOfALargerGroupIsFoundByItsSecondPass) {
    RunSingles(20, 20, {{3, 3, 2}, {5, 5, 1}});
    EXPECT_EQ(Links(), (std::vector<Link>{{0, 1}}));
}

TEST_F(Stage4Test, SecondPassRunsOnlyWhenTheFirstFindsNothing) {
    // Group 0 (2 x 2 at 3,3) has an edge neighbour, group 1, so its search
    // ends after the first pass and never takes the corner neighbour 2.
    // A single pixel as group 2 has no second pass: no link to it.
    RunSingles(20, 20, {{3, 3, 2}, {5, 3, 1}, {5, 5, 1}});
    EXPECT_EQ(Links(), (std::vector<Link>{{0, 1}}));

    // A 2 x 2 square as group 2 falls back to its second pass and finds
    // group 0; the link is stored after group 0's own finds.
    RunSingles(20, 20, {{3, 3, 2}, {5, 3, 1}, {5, 5, 2}});
    EXPECT_EQ(Links(), (std::vector<Link>{{0, 1}, {0, 2}}));
}

TEST_F(Stage4Test, SquaresMeetingTheImageBorderMeetOnlyAtACorner) {
    // The reach of a square is clipped to the image, so on the outermost row
    // or column two neighbouring single pixels count as a corner contact.
    RunSingles(10, 10, {{4, 0, 1}, {5, 0, 1}});
    EXPECT_TRUE(Links().empty());
    RunSingles(10, 10, {{9, 4, 1}, {9, 5, 1}});
    EXPECT_TRUE(Links().empty());
    RunSingles(10, 10, {{4, 1, 1}, {5, 1, 1}});
    EXPECT_EQ(Links(), (std::vector<Link>{{0, 1}}));
}

TEST_F(Stage4Test, OneSearchTakesAtMost64NeighboursOnePerColumn) {
    // A 100 x 2 bar with 100 single pixels along its top edge on row 0,
    // numbered right to left (column c is group 101 - c). The bar's search
    // takes the first 64 columns, groups 100 down to 37; the others find
    // the bar themselves, in group order, and are stored after them.
    std::vector<Square> squares{{1, 1, 2}};
    for (int32_t c = 100; c >= 1; --c) squares.push_back({c, 0, 1});
    // Widen the bar: further 2 x 2 squares in the same group.
    std::vector<int32_t> bar{0};
    for (int32_t x = 3; x <= 99; x += 2) {
        bar.push_back(static_cast<int32_t>(squares.size()));
        squares.push_back({x, 1, 2});
    }
    std::vector<std::vector<int32_t>> groups{bar};
    for (int32_t g = 1; g <= 100; ++g) groups.push_back({g});
    Run(120, 10, squares, groups);

    std::vector<Link> expected;
    for (int32_t g = 100; g >= 37; --g) expected.emplace_back(0, g);
    for (int32_t g = 1; g <= 36; ++g) expected.emplace_back(0, g);
    EXPECT_EQ(Links(), expected);
    EXPECT_EQ(m_linkCount, 100);
}

TEST_F(Stage4Test, LinksAreOrderedByLowerGroupThenByInsertion) {
    // Group 0 (3 x 3 at 4,4) touches singles 1 (right) and 2 (left) edge-wise;
    // 1 and 2 are far apart. Group 3 (single below group 0) is found by
    // group 0 in column 4, before group 1 in column 7.
    RunSingles(20, 20, {{4, 4, 3}, {7, 5, 1}, {3, 5, 1}, {4, 7, 1}});
    EXPECT_EQ(Links(), (std::vector<Link>{{0, 2}, {0, 3}, {0, 1}}));
}

TEST_F(Stage4Test, AGroupsFileThatDoesNotMatchTheCountsIsAnErrorNotAGraph) {
    const std::vector<Square> squares{{1, 1, 1}, {2, 1, 1}, {5, 5, 1}};
    auto expectError = [&](const std::vector<std::pair<int32_t, int32_t>>& records, int32_t groupCount,
                           int32_t memberCount) {
        RecordWriter writer(PathOf("temp.sqo"));
        for (const auto& [group, square] : records) {
            writer.PutInt32(group);
            writer.PutInt32(square);
        }
        writer.Close();
        try {
            RunStage(groupCount, memberCount);
            ADD_FAILURE() << "no error";
        } catch (const FileError& error) {
            EXPECT_EQ(error.Path(), PathOf("temp.sqo"));
        }
        // Nothing written on the strength of a bad file.
        EXPECT_FALSE(fs::exists(PathOf("temp.pxy")));
        EXPECT_FALSE(fs::exists(PathOf("temp.lix")));
    };
    m_table = SquareTable{};
    for (const Square& s : squares) {
        m_table.x.push_back(s.x);
        m_table.y.push_back(s.y);
        m_table.size.push_back(s.size);
        m_table.useCount.push_back(1);
    }
    m_table.count = 3;
    m_table.width = 4;
    m_table.height = 4;

    expectError({{0, 0}, {1, 1}}, 2, 3);                  // shorter than the member count
    expectError({{0, 0}, {0, 1}, {0, 2}}, 2, 3);          // group 1 has no members
    expectError({{0, 0}, {1, 1}, {0, 1}}, 2, 3);          // group 0 in two runs
    expectError({{0, 0}, {2, 1}}, 2, 2);                  // group number out of range
    expectError({{0, 0}, {1, 7}}, 2, 2);                  // square number out of range
    expectError({{0, 0}, {1, 2}}, 2, 2);                  // square 2 lies outside the 4 x 4 image
}

TEST_F(Stage4Test, AnOutputFileThatCannotBeCreatedIsAnErrorNamingIt) {
    fs::create_directory(PathOf("temp.lix"));  // in the way of the lines file
    try {
        Run(10, 10, {{2, 2, 1}}, {{0}});
        ADD_FAILURE() << "no error";
    } catch (const FileError& error) {
        EXPECT_EQ(error.Path(), PathOf("temp.lix"));
    }
}

}  // namespace
