// Stage 3 (square groups): the groups file of hand-made square tables byte
// for byte, and the indexed search against a literal one that walks whole
// column lists, on random tables and on covers of random drawings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "ascii_bitmap.h"
#include "square_files.h"
#include "trace/Vemotrace_compv1.h"
#include "trace/Vemotrace_compv2.h"
#include "trace/Vemotrace_compv3.h"
#include "trace/Vemotrace_records.h"

namespace {

using square_files::MemberRecord;

struct Square {
    int32_t x, y, size;
};

SquareTable MakeTable(int32_t width, int32_t height, const std::vector<Square>& squares) {
    SquareTable table;
    for (const Square& s : squares) {
        table.x.push_back(s.x);
        table.y.push_back(s.y);
        table.size.push_back(s.size);
        table.useCount.push_back(0);
        table.largestSize = std::max(table.largestSize, s.size);
    }
    for (int i = 0; i < 10; ++i) {
        table.x.push_back(0);
        table.y.push_back(0);
        table.size.push_back(0);
        table.useCount.push_back(0);
    }
    table.count = static_cast<int32_t>(squares.size());
    table.width = width;
    table.height = height;
    return table;
}

// The grouping done the slow, obvious way: whole column lists in square
// number order, membership by linear search.
class LiteralGroups {
public:
    explicit LiteralGroups(SquareTable table) : m_table(std::move(table)), m_lists(m_table.width + 10) {}

    std::vector<MemberRecord> Run() {
        for (int32_t i = 0; i < m_table.count; ++i) {
            for (int32_t col = m_table.x[i]; col < m_table.x[i] + m_table.size[i]; ++col) m_lists[col].push_back(i);
        }
        for (int32_t s = m_table.largestSize; s >= 2; --s) {
            for (int32_t i = 0; i < m_table.count; ++i) {
                if (m_table.size[i] != s || m_table.useCount[i] != 0) continue;
                std::vector<int32_t> group = SeedGroup(i);
                AttachSingles(group);
                Write(group);
            }
        }
        for (int32_t i = 0; i < m_table.count; ++i) {
            if (m_table.size[i] == 1 && m_table.useCount[i] == 0) Write({i});
        }
        return m_records;
    }

private:
    struct Box {
        int32_t left, top, right, bottom;
    };

    Box Extent(int32_t i, int32_t margin) const {
        return {std::max(m_table.x[i] - margin, 0), std::max(m_table.y[i] - margin, 0),
                std::min(m_table.x[i] + m_table.size[i] - 1 + margin, m_table.width - 1),
                std::min(m_table.y[i] + m_table.size[i] - 1 + margin, m_table.height - 1)};
    }

    static bool Holds(const std::vector<int32_t>& list, int32_t c) {
        return std::find(list.begin(), list.end(), c) != list.end();
    }

    std::vector<int32_t> SeedGroup(int32_t seed) const {
        std::vector<int32_t> group = {seed};
        const Box r = Extent(seed, 0);
        for (int32_t col = r.left; col <= r.right; ++col) {
            for (const int32_t c : m_lists[col]) {
                if (c == seed || m_table.size[c] < 2 || m_table.useCount[c] != 0 || Holds(group, c)) continue;
                const Box e = Extent(c, 0);
                if (e.top > r.bottom || e.bottom < r.top) continue;
                if (group.size() < 64) group.push_back(c);
            }
        }
        return group;
    }

    void AttachSingles(std::vector<int32_t>& group) const {
        std::vector<int32_t> found;
        const std::size_t members = group.size();
        for (std::size_t k = 0; k < members; ++k) {
            const int32_t m = group[k];
            const Box r = Extent(m, 1);
            for (int32_t col = r.left; col <= r.right; ++col) {
                for (const int32_t c : m_lists[col]) {
                    if (c == m || m_table.size[c] != 1 || m_table.useCount[c] != 0 || Holds(found, c)) continue;
                    if (m_table.y[c] < r.top || m_table.y[c] > r.bottom) continue;
                    const int corner = (m_table.x[c] == r.left || m_table.x[c] == r.right) +
                                       (m_table.y[c] == r.top || m_table.y[c] == r.bottom);
                    if (corner == 2) continue;
                    if (found.size() < 64) found.push_back(c);
                }
            }
        }
        for (const int32_t c : found) {
            if (group.size() == 64) break;
            group.push_back(c);
        }
    }

    void Write(const std::vector<int32_t>& group) {
        for (const int32_t c : group) {
            ++m_table.useCount[c];
            m_records.push_back({m_groupCount, c});
        }
        ++m_groupCount;
    }

    SquareTable m_table;
    std::vector<std::vector<int32_t>> m_lists;
    std::vector<MemberRecord> m_records;
    int32_t m_groupCount = 0;
};

class Stage3Test : public ::testing::Test {
protected:
    // Runs the stage on the table; returns the groups file's records (none
    // if there is no file).
    std::vector<MemberRecord> Group(SquareTable& table) {
        std::filesystem::remove(Path());
        const TVemotrace_compV3 stage(Path(), table);
        m_groupCount = stage.GroupCount();
        m_memberCount = stage.MemberCount();
        if (!std::filesystem::exists(Path())) return {};
        return square_files::ReadMembers(Path());
    }

    std::vector<MemberRecord> Group(int32_t width, int32_t height, const std::vector<Square>& squares) {
        m_table = MakeTable(width, height, squares);
        return Group(m_table);
    }

    // The promises of the groups file, for any table.
    void ExpectSoundGroups(const SquareTable& table, const std::vector<MemberRecord>& members) {
        ASSERT_EQ(m_memberCount, table.count);
        ASSERT_EQ(static_cast<int32_t>(members.size()), table.count);
        std::vector<int> seen(table.count, 0);
        int32_t groupSize = 0;
        for (std::size_t k = 0; k < members.size(); ++k) {
            const MemberRecord& m = members[k];
            ASSERT_TRUE(m.square >= 0 && m.square < table.count) << m;
            ++seen[m.square];
            const int32_t previous = k == 0 ? -1 : members[k - 1].group;
            ASSERT_TRUE(m.group == previous || m.group == previous + 1) << "group numbers out of order at " << k;
            groupSize = m.group == previous ? groupSize + 1 : 1;
            ASSERT_LE(groupSize, 64);
            // Only a square of size 2 or more seeds a group of several.
            if (groupSize == 2) {
                ASSERT_GE(table.size[members[k - 1].square], 2) << "group " << m.group;
            }
        }
        for (int32_t i = 0; i < table.count; ++i) {
            EXPECT_EQ(seen[i], 1) << "square " << i;
            EXPECT_EQ(table.useCount[i], 1) << "square " << i;
        }
        EXPECT_EQ(m_groupCount, members.empty() ? 0 : members.back().group + 1);
    }

    std::string Path() const { return m_folder.File(records::kGroupsFileName); }

    square_files::TempFolder m_folder;
    SquareTable m_table;
    int32_t m_groupCount = -1;
    int32_t m_memberCount = -1;
};

// Worked example: square 2 touches the big square's right edge and joins
// group 0; square 1 touches only square 2 and does not join through it.
TEST_F(Stage3Test, WorkedExampleGroupsFile) {
    Group(10, 5, {{2, 1, 3}, {6, 2, 1}, {5, 2, 1}});
    EXPECT_EQ(square_files::ReadBytes(Path()), square_files::MemberBytes({{0, 0}, {0, 2}, {1, 1}}));
    EXPECT_EQ(m_groupCount, 2);
    EXPECT_EQ(m_memberCount, 3);
    EXPECT_EQ(m_table.useCount, (std::vector<int32_t>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// The same example from its bitmap, through stages 1, 2 and 3.
TEST_F(Stage3Test, WorkedExampleFromTheBitmap) {
    const AsciiBitmap bitmap({
        "..........",
        "..###.....",
        "..#####...",
        "..###.....",
        "..........",
    });
    const std::string squaresPath = m_folder.File(records::kSquaresFileName);
    const int32_t count = TVemotrace_compV1(squaresPath).MakeSquares(bitmap.View());
    TVemotrace_compV2 table(squaresPath, count);
    table.SquareTable().width = bitmap.Width();
    table.SquareTable().height = bitmap.Height();
    EXPECT_EQ(Group(table.SquareTable()), (std::vector<MemberRecord>{{0, 0}, {0, 2}, {1, 1}}));
}

// The larger square seeds even with the higher number; the smaller joins.
TEST_F(Stage3Test, OverlappingSquaresFormOneGroupLargestFirst) {
    EXPECT_EQ(Group(12, 12, {{4, 4, 3}, {0, 0, 5}}), (std::vector<MemberRecord>{{0, 1}, {0, 0}}));
}

// Overlap means sharing a pixel: touching edges is not enough.
TEST_F(Stage3Test, SquaresTouchingEdgeToEdgeFormTwoGroups) {
    EXPECT_EQ(Group(8, 8, {{0, 0, 3}, {3, 0, 3}}), (std::vector<MemberRecord>{{0, 0}, {1, 1}}));
    EXPECT_EQ(Group(8, 8, {{0, 0, 3}, {0, 3, 3}}), (std::vector<MemberRecord>{{0, 0}, {1, 1}}));
}

// Singles left of, right of, above and below the square join in the order
// of a left-to-right column scan, lower numbers first within a column;
// those off its corners form groups of their own.
TEST_F(Stage3Test, SinglesJoinEdgeWiseButNotAtCorners) {
    const std::vector<Square> squares = {
        {3, 3, 3},                                      // 0: the square, columns and rows 3 to 5
        {6, 4, 1}, {4, 6, 1}, {2, 2, 1}, {4, 2, 1},  // 1 right, 2 below, 3 corner, 4 above
        {2, 4, 1}, {6, 6, 1}, {2, 6, 1}, {6, 2, 1},  // 5 left, 6, 7 and 8 corners
    };
    EXPECT_EQ(Group(10, 10, squares), (std::vector<MemberRecord>{
                                          {0, 0}, {0, 5}, {0, 2}, {0, 4}, {0, 1}, {1, 3}, {2, 6}, {3, 7}, {4, 8}}));
}

// Singles are found from the group's squares only, never from one another,
// and one inside a square joins as well.
TEST_F(Stage3Test, SingleDoesNotJoinThroughAnotherSingle) {
    EXPECT_EQ(Group(12, 6, {{7, 2, 1}, {1, 1, 3}, {4, 2, 1}, {5, 2, 1}, {2, 2, 1}}),
              (std::vector<MemberRecord>{{0, 1}, {0, 4}, {0, 2}, {1, 0}, {2, 3}}));
}

// At the image border the clipped box's edge is the border itself, so a
// single right under the square's border column counts as a corner cell.
TEST_F(Stage3Test, BorderColumnCountsAsTheBoxEdge) {
    EXPECT_EQ(Group(6, 6, {{0, 1, 2}, {0, 3, 1}, {1, 3, 1}}), (std::vector<MemberRecord>{{0, 0}, {0, 2}, {1, 1}}));
}

// A group holds at most 64 squares: the seed keeps the first 63 of the
// squares overlapping it, in column-scan order; the others group later.
TEST_F(Stage3Test, SeventyOverlappingSquaresKeepSixtyThree) {
    std::vector<Square> squares = {{0, 0, 4}};
    for (int i = 0; i < 70; ++i) squares.push_back({(i * 7) % 3, (i * 5) % 3, 2});
    const std::vector<MemberRecord> members = Group(6, 6, squares);
    ExpectSoundGroups(m_table, members);

    std::vector<int32_t> scanOrder;  // by left column, then number
    for (int32_t x = 0; x < 3; ++x) {
        for (int32_t i = 1; i <= 70; ++i) {
            if (squares[i].x == x) scanOrder.push_back(i);
        }
    }
    std::vector<MemberRecord> expectedFirstGroup = {{0, 0}};
    for (int k = 0; k < 63; ++k) expectedFirstGroup.push_back({0, scanOrder[k]});
    ASSERT_GE(members.size(), 64u);
    EXPECT_EQ(std::vector<MemberRecord>(members.begin(), members.begin() + 64), expectedFirstGroup);
    EXPECT_EQ(members[64].group, 1);
    EXPECT_EQ(members, LiteralGroups(MakeTable(6, 6, squares)).Run());
}

// A group takes at most 64 members even when more singles touch it.
TEST_F(Stage3Test, SinglesStopAtSixtyFourMembers) {
    std::vector<Square> squares = {{1, 1, 40}};
    for (int32_t x = 1; x <= 40; ++x) squares.push_back({x, 0, 1});   // 40 above
    for (int32_t x = 1; x <= 40; ++x) squares.push_back({x, 41, 1});  // 40 below
    const std::vector<MemberRecord> members = Group(42, 42, squares);
    ExpectSoundGroups(m_table, members);
    // Column 1 gives squares 1 and 41, column 2 squares 2 and 42, ...
    std::vector<MemberRecord> expected = {{0, 0}};
    for (int32_t x = 1; static_cast<int>(expected.size()) < 64; ++x) {
        expected.push_back({0, x});
        if (expected.size() < 64) expected.push_back({0, 40 + x});
    }
    EXPECT_EQ(std::vector<MemberRecord>(members.begin(), members.begin() + 64), expected);
    EXPECT_EQ(m_groupCount, 1 + 80 - 63);
}

// Squares over 64 pixels: a tall one reaching past the seed's top row must
// not drag in a later one that ends above it. Square 0 is filled up by the
// 63 small ones before its scan meets 64 and 65, so 65 seeds next.
TEST_F(Stage3Test, LargeSquareEndingAboveTheSeedDoesNotJoin) {
    std::vector<Square> squares = {{10, 0, 100}};
    for (int32_t k = 0; k < 63; ++k) squares.push_back({10 + k, 0, 2});
    squares.push_back({80, 2, 65});   // 64: rows 2 to 66
    squares.push_back({85, 80, 80});  // 65: rows 80 to 159
    const std::vector<MemberRecord> members = Group(200, 200, squares);
    ExpectSoundGroups(m_table, members);
    ASSERT_EQ(members.size(), 66u);
    EXPECT_EQ(members[64], (MemberRecord{1, 65}));
    EXPECT_EQ(members[65], (MemberRecord{2, 64}));
}

TEST_F(Stage3Test, EqualSizesSeedInNumberOrder) {
    EXPECT_EQ(Group(12, 12, {{5, 5, 2}, {0, 0, 2}, {8, 0, 3}}), (std::vector<MemberRecord>{{0, 2}, {1, 0}, {2, 1}}));
}

// No squares: no groups file, not even an empty one, and nothing counted.
TEST_F(Stage3Test, EmptyTableWritesNoFile) {
    square_files::WriteBytes(Path(), {9, 9});
    m_table = MakeTable(10, 10, {});
    const TVemotrace_compV3 stage(Path(), m_table);
    EXPECT_EQ(stage.GroupCount(), 0);
    EXPECT_EQ(stage.MemberCount(), 0);
    EXPECT_EQ(square_files::ReadBytes(Path()), (std::vector<uint8_t>{9, 9}));
}

TEST_F(Stage3Test, FileAndTableFailuresRaiseFileError) {
    m_table = MakeTable(10, 10, {{0, 0, 2}, {5, 5, 1}});
    EXPECT_THROW(TVemotrace_compV3("/dev/full", m_table), FileError);

    m_table = MakeTable(10, 10, {{0, 0, 2}});
    const std::string missingFolder = m_folder.File("no-such-folder/temp.sqo");
    try {
        TVemotrace_compV3(missingFolder, m_table);
        FAIL() << "no error for " << missingFolder;
    } catch (const FileError& error) {
        EXPECT_EQ(error.Path(), missingFolder);
    }

    // A square past the image (the squares file changed during the trace).
    m_table = MakeTable(10, 10, {{0, 0, 2}, {9, 3, 2}});
    EXPECT_THROW(Group(m_table), FileError);
    EXPECT_FALSE(std::filesystem::exists(Path()));
}

// Random tables, half of them crowded enough that groups fill up, half
// larger with some squares of more than 64 pixels: the indexed search
// gives exactly the literal one's file.
TEST_F(Stage3Test, RandomTablesMatchTheLiteralGrouping) {
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        const bool crowded = round % 2 == 0;
        const int32_t width = 1 + static_cast<int32_t>(random() % (crowded ? 70 : 220));
        const int32_t height = 1 + static_cast<int32_t>(random() % (crowded ? 50 : 160));
        const int count = static_cast<int>(random() % 500);
        std::vector<Square> squares;
        for (int i = 0; i < count; ++i) {
            const int32_t limit = std::min(width, height);
            int32_t size = random() % 2 ? 1 : 1 + static_cast<int32_t>(random() % std::min(limit, 6));
            if (random() % 30 == 0) size = 1 + static_cast<int32_t>(random() % limit);
            squares.push_back({static_cast<int32_t>(random() % (width - size + 1)),
                               static_cast<int32_t>(random() % (height - size + 1)), size});
        }
        const SquareTable original = MakeTable(width, height, squares);
        m_table = original;
        const std::vector<MemberRecord> members = Group(m_table);
        ASSERT_EQ(members, LiteralGroups(original).Run()) << "round " << round;
        ExpectSoundGroups(m_table, members);
    }
}

// Covers of random drawings, through stages 1 and 2 as in a trace.
TEST_F(Stage3Test, CoversOfRandomDrawingsMatchTheLiteralGrouping) {
    std::mt19937 random(11);
    const std::string squaresPath = m_folder.File(records::kSquaresFileName);
    for (int round = 0; round < 100; ++round) {
        AsciiBitmap bitmap(1 + static_cast<int32_t>(random() % 150), 1 + static_cast<int32_t>(random() % 80));
        const int boxes = static_cast<int>(random() % 12);
        for (int i = 0; i < boxes; ++i) {
            const int32_t x = static_cast<int32_t>(random() % bitmap.Width());
            const int32_t y = static_cast<int32_t>(random() % bitmap.Height());
            bitmap.FillBox(x, y, x + static_cast<int32_t>(random() % 30), y + static_cast<int32_t>(random() % 30));
        }
        for (int32_t y = 0; y < bitmap.Height(); ++y) {
            for (int32_t x = 0; x < bitmap.Width(); ++x) {
                if (random() % 10 == 0) bitmap.SetInk(x, y, !bitmap.IsInk(x, y));
            }
        }
        const int32_t count = TVemotrace_compV1(squaresPath).MakeSquares(bitmap.View());
        TVemotrace_compV2 stage2(squaresPath, count);
        SquareTable& table = stage2.SquareTable();
        table.width = bitmap.Width();
        table.height = bitmap.Height();
        const SquareTable original = table;
        const std::vector<MemberRecord> members = Group(table);
        ASSERT_EQ(members, LiteralGroups(original).Run()) << "round " << round << "\n" << bitmap.Text();
        ExpectSoundGroups(table, members);
    }
}

}  // namespace
