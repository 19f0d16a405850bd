// Stage 1 (square cover): the squares file of hand-made bitmaps byte for
// byte, and the fast cover against a literal, cell-by-cell one on many
// random drawings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ascii_bitmap.h"
#include "square_files.h"
#include "trace/Vemotrace_compv1.h"
#include "trace/Vemotrace_records.h"

namespace {

using square_files::SquareRecord;

// The cover done the slow, obvious way: one byte per cell, column by
// column, every growth step testing its new column and row cell by cell,
// the fill pass growing all four quadrants step by step.
class LiteralCover {
public:
    explicit LiteralCover(const AsciiBitmap& bitmap)
        : m_width(bitmap.Width()), m_height(bitmap.Height()),
          m_grid(static_cast<std::size_t>(bitmap.Width()), std::vector<uint8_t>(bitmap.Height(), kBackground)) {
        for (int x = 0; x < m_width; ++x) {
            for (int y = 0; y < m_height; ++y) {
                if (bitmap.IsInk(x, y)) m_grid[x][y] = kInk;
            }
        }
    }

    std::vector<SquareRecord> Run() {
        // Border pass.
        if (!Background(0, 0)) GrowFromCorner(4, 0, 0);
        for (int x = 0; x + 1 < m_width; ++x) {
            if (Background(x, 0) != Background(x + 1, 0)) {
                if (Ink(x, 0)) GrowFromCorner(3, x, 0);
                if (Ink(x + 1, 0)) GrowFromCorner(4, x + 1, 0);
            }
        }
        for (int y = 0; y + 1 < m_height; ++y) {
            if (Background(0, y) != Background(0, y + 1)) {
                if (Ink(0, y)) GrowFromCorner(1, 0, y);
                if (Ink(0, y + 1)) GrowFromCorner(4, 0, y + 1);
            }
        }
        // Corner pass.
        for (int y = 0; y + 1 < m_height; ++y) {
            for (int x = 0; x + 1 < m_width; ++x) {
                const int solid = !Background(x, y) + !Background(x + 1, y) + !Background(x, y + 1) +
                                  !Background(x + 1, y + 1);
                if (solid != 1) continue;
                if (Ink(x, y)) GrowFromCorner(2, x, y);
                if (Ink(x + 1, y)) GrowFromCorner(1, x + 1, y);
                if (Ink(x, y + 1)) GrowFromCorner(3, x, y + 1);
                if (Ink(x + 1, y + 1)) GrowFromCorner(4, x + 1, y + 1);
            }
        }
        // Fill pass.
        for (int y = 0; y < m_height; ++y) {
            for (int x = 0; x < m_width; ++x) {
                if (Ink(x, y)) GrowBestSquare(x, y);
            }
        }
        return m_squares;
    }

private:
    static constexpr uint8_t kInk = 0;
    static constexpr uint8_t kBackground = 1;
    static constexpr uint8_t kCovered = 2;

    bool Background(int x, int y) const { return m_grid[x][y] == kBackground; }
    bool Ink(int x, int y) const { return m_grid[x][y] == kInk; }
    bool Outside(int x, int y) const { return x < 0 || x >= m_width || y < 0 || y >= m_height; }

    void GrowFromCorner(int direction, int x0, int y0) {
        const int dx = direction == 1 || direction == 4 ? 1 : -1;
        const int dy = direction == 3 || direction == 4 ? 1 : -1;
        int n = 0;
        int cx = x0;
        int cy = y0;
        for (;;) {
            cx += dx;
            cy += dy;
            if (Outside(cx, cy) || Background(cx, cy)) break;
            bool blocked = false;
            // Rows from y0 towards cy, cy excluded; columns likewise.
            for (int row = y0; row != cy; row += dy) blocked = blocked || Background(cx, row);
            for (int col = x0; col != cx; col += dx) blocked = blocked || Background(col, cy);
            if (blocked) break;
            ++n;
        }
        cx -= dx;
        cy -= dy;
        Emit(std::min(x0, cx), std::min(y0, cy), n + 1);
    }

    void GrowBestSquare(int x, int y) {
        enum { UL, UR, DL, DR };
        int stop[4] = {0, 0, 0, 0};
        int k = 1;
        for (;; ++k) {
            const int xl = x - k, xr = x + k, yt = y - k, yb = y + k;
            if (!stop[UL] && (xl < 0 || yt < 0)) stop[UL] = k;
            if (!stop[UR] && (yt < 0 || xr >= m_width)) stop[UR] = k;
            if (!stop[DL] && (xl < 0 || yb >= m_height)) stop[DL] = k;
            if (!stop[DR] && (xr >= m_width || yb >= m_height)) stop[DR] = k;
            if (!stop[UL] && (RowHasBackground(yt, xl, x) || ColumnHasBackground(xl, yt, y))) stop[UL] = k;
            if (!stop[UR] && (RowHasBackground(yt, x, xr) || ColumnHasBackground(xr, yt, y))) stop[UR] = k;
            if (!stop[DL] && (RowHasBackground(yb, xl, x) || ColumnHasBackground(xl, y, yb))) stop[DL] = k;
            if (!stop[DR] && (RowHasBackground(yb, x, xr) || ColumnHasBackground(xr, y, yb))) stop[DR] = k;
            if (stop[UL] && stop[UR] && stop[DL] && stop[DR]) break;
        }
        int best = UL;
        for (int q = UL; q <= DR; ++q) {
            if (stop[q] == k) best = q;
        }
        switch (best) {
        case UL: Emit(x - k + 1, y - k + 1, k); break;
        case UR: Emit(x, y - k + 1, k); break;
        case DL: Emit(x - k + 1, y, k); break;
        default: Emit(x, y, k); break;
        }
    }

    bool RowHasBackground(int y, int x0, int x1) const {
        for (int x = x0; x <= x1; ++x) {
            if (Background(x, y)) return true;
        }
        return false;
    }
    bool ColumnHasBackground(int x, int y0, int y1) const {
        for (int y = y0; y <= y1; ++y) {
            if (Background(x, y)) return true;
        }
        return false;
    }

    void Emit(int x, int y, int size) {
        m_squares.push_back({static_cast<int32_t>(m_squares.size()), x, y, size});
        for (int c = x; c < x + size; ++c) {
            for (int r = y; r < y + size; ++r) m_grid[c][r] = kCovered;
        }
    }

    int m_width;
    int m_height;
    std::vector<std::vector<uint8_t>> m_grid;
    std::vector<SquareRecord> m_squares;
};

class Stage1Test : public ::testing::Test {
protected:
    // Runs the stage; returns the squares file's records (none if absent).
    std::vector<SquareRecord> Cover(const AsciiBitmap& bitmap) {
        m_count = TVemotrace_compV1(Path()).MakeSquares(bitmap.View());
        if (!std::filesystem::exists(Path())) return {};
        return square_files::ReadSquares(Path());
    }

    std::string Path() const { return m_folder.File(records::kSquaresFileName); }

    square_files::TempFolder m_folder;
    int32_t m_count = -1;
};

// Random drawings: noise, boxes and thick strokes over a blank page, with
// widths around the 64-bit words the cover works in.
AsciiBitmap RandomDrawing(std::mt19937& random) {
    static const int kWidths[] = {1, 2, 3, 5, 8, 17, 31, 63, 64, 65, 70, 127, 128, 129, 150};
    const int width = kWidths[random() % std::size(kWidths)];
    const int height = 1 + static_cast<int>(random() % 60);
    AsciiBitmap bitmap(width, height);
    const auto coin = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(random) < p; };
    const auto upTo = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    if (coin(0.3)) {
        const double density = std::uniform_real_distribution<double>(0.05, 0.95)(random);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) bitmap.SetInk(x, y, coin(density));
        }
    }
    const int boxes = upTo(6);
    for (int i = 0; i < boxes; ++i) {
        const int x = upTo(width), y = upTo(height);
        bitmap.FillBox(x, y, x + upTo(40), y + upTo(40));
    }
    const int strokes = upTo(8);
    for (int i = 0; i < strokes; ++i) {
        const double x0 = upTo(width), y0 = upTo(height), x1 = upTo(width), y1 = upTo(height);
        const int thickness = 1 + upTo(8);
        const int steps = 2 * (width + height);
        for (int s = 0; s <= steps; ++s) {
            const int x = static_cast<int>(x0 + (x1 - x0) * s / steps);
            const int y = static_cast<int>(y0 + (y1 - y0) * s / steps);
            bitmap.FillBox(x, y, x + thickness - 1, y + thickness - 1);
        }
    }
    if (coin(0.3)) {  // erase some pixels again: holes and ragged edges
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if (coin(0.1)) bitmap.SetInk(x, y, false);
            }
        }
    }
    return bitmap;
}

// Worked example of the pass order: the corner pass takes both tips of the
// stroke, the fill pass the two pixels between them, left to right.
TEST_F(Stage1Test, SevenByThreeRowIsCoveredTipsFirst) {
    const AsciiBitmap bitmap({
        ".......",
        "..####.",
        ".......",
    });
    Cover(bitmap);
    EXPECT_EQ(m_count, 4);
    EXPECT_EQ(square_files::ReadBytes(Path()),
              square_files::SquareBytes({{0, 2, 1, 1}, {1, 5, 1, 1}, {2, 3, 1, 1}, {3, 4, 1, 1}}));
}

// Worked example: the block grows from its top-left corner window, the tip
// of the tail from its own window, the pixel between them in the fill pass.
TEST_F(Stage1Test, TenByFiveBlockWithTailMatchesTheWorkedExample) {
    const AsciiBitmap bitmap({
        "..........",
        "..###.....",
        "..#####...",
        "..###.....",
        "..........",
    });
    Cover(bitmap);
    EXPECT_EQ(m_count, 3);
    EXPECT_EQ(square_files::ReadBytes(Path()), square_files::SquareBytes({{0, 2, 1, 3}, {1, 6, 2, 1}, {2, 5, 2, 1}}));
}

// Growing upward must test the rows between the corner and the new row:
// otherwise the square from (5, 1) would take in the background at (6, 1).
TEST_F(Stage1Test, UpwardGrowthTestsTheRowsItPasses) {
    const AsciiBitmap bitmap({
        ".....##.",
        ".....#..",
        "........",
    });
    EXPECT_EQ(Cover(bitmap), (std::vector<SquareRecord>{{0, 5, 0, 1}, {1, 6, 0, 1}, {2, 5, 1, 1}}));
}

// A bitmap without ink must leave the file of an earlier trace as it was.
TEST_F(Stage1Test, NoInkWritesNoFile) {
    EXPECT_TRUE(Cover(AsciiBitmap(9, 4)).empty());
    EXPECT_EQ(m_count, 0);
    EXPECT_FALSE(std::filesystem::exists(Path()));

    square_files::WriteBytes(Path(), {1, 2, 3});
    EXPECT_EQ(TVemotrace_compV1(Path()).MakeSquares(AsciiBitmap(9, 4).View()), 0);
    EXPECT_EQ(TVemotrace_compV1(Path()).MakeSquares(AsciiBitmap(0, 0).View()), 0);
    EXPECT_EQ(TVemotrace_compV1(Path()).MakeSquares(BitmapView{5, 0, nullptr, 5}), 0);
    EXPECT_EQ(square_files::ReadBytes(Path()), (std::vector<uint8_t>{1, 2, 3}));
}

// A later trace with ink replaces the whole earlier file.
TEST_F(Stage1Test, FileIsTruncatedByTheFirstSquare) {
    square_files::WriteBytes(Path(), std::vector<uint8_t>(100, 7));
    EXPECT_EQ(Cover(AsciiBitmap({"...", ".#.", "..."})), (std::vector<SquareRecord>{{0, 1, 1, 1}}));
}

TEST_F(Stage1Test, SolidBlockAtTopLeftIsOneSquareFromTheBorderPass) {
    for (const int n : {1, 2, 5, 64, 70, 130}) {
        AsciiBitmap bitmap(n + 3, n + 2);
        bitmap.FillBox(0, 0, n - 1, n - 1);
        EXPECT_EQ(Cover(bitmap), (std::vector<SquareRecord>{{0, 0, 0, n}})) << "n = " << n;
    }
}

TEST_F(Stage1Test, OnePixelLinesGetSquaresOfSizeOne) {
    AsciiBitmap bitmap(150, 9);
    bitmap.FillBox(3, 4, 140, 4);  // horizontal, across several words
    bitmap.FillBox(145, 0, 145, 8);  // vertical, touching the top and the bottom
    const std::vector<SquareRecord> squares = Cover(bitmap);
    EXPECT_EQ(squares.size(), 138u + 9u);
    for (const SquareRecord& s : squares) EXPECT_EQ(s.size, 1);
}

// An ink cell whose diagonal neighbours are all background gets a square
// of its own: every quadrant stops at 1 and down-right wins.
TEST_F(Stage1Test, IsolatedPixelGetsSquareOfSizeOne) {
    EXPECT_EQ(Cover(AsciiBitmap({".....", ".....", "...#.", "....."})), (std::vector<SquareRecord>{{0, 3, 2, 1}}));
    EXPECT_EQ(Cover(AsciiBitmap({"#"})), (std::vector<SquareRecord>{{0, 0, 0, 1}}));
}

// In the fill pass equal quadrants are chosen down-right, down-left,
// up-right, up-left, in that order. Each bitmap has one fill-pass cell
// where two quadrants tie at the largest size.
TEST_F(Stage1Test, FillPassBreaksTiesDownRightDownLeftUpRightUpLeft) {
    // (4, 1): down-left and down-right reach 2; down-right (4, 1, 2) wins.
    EXPECT_EQ(Cover(AsciiBitmap({
                  "......",
                  "..####",
                  "..####",
              })),
              (std::vector<SquareRecord>{{0, 2, 1, 2}, {1, 4, 1, 2}}));
    // (4, 3): down-left and up-right reach 2; down-left (3, 3, 2) wins,
    // record 11, not up-right (4, 2, 2).
    EXPECT_EQ(Cover(AsciiBitmap({
                  "........",
                  ".#..###.",
                  ".##.###.",
                  "..####..",
                  ".####.#.",
                  ".#.####.",
                  "........",
              })),
              (std::vector<SquareRecord>{{0, 1, 1, 1}, {1, 4, 1, 2}, {2, 5, 1, 2}, {3, 2, 2, 1}, {4, 1, 2, 1},
                                         {5, 1, 4, 1}, {6, 6, 4, 1}, {7, 1, 5, 1}, {8, 3, 4, 2}, {9, 6, 5, 1},
                                         {10, 2, 3, 2}, {11, 3, 3, 2}, {12, 4, 2, 2}, {13, 5, 5, 1}}));
    // (3, 3): up-right and up-left reach 2; up-right (3, 2, 2) wins, record 5.
    EXPECT_EQ(Cover(AsciiBitmap({
                  "......",
                  ".#.##.",
                  ".####.",
                  ".####.",
                  ".#..#.",
                  "......",
              })),
              (std::vector<SquareRecord>{
                  {0, 1, 1, 1}, {1, 3, 1, 2}, {2, 1, 4, 1}, {3, 4, 4, 1}, {4, 1, 2, 2}, {5, 3, 2, 2}}));
}

// A stroke along the bottom or the right border starts no square in the
// border pass; it is left to the corner and fill passes.
TEST_F(Stage1Test, BottomAndRightBordersGetNoBorderPass) {
    const AsciiBitmap bitmap({
        "........",
        ".......#",
        ".......#",
        "######.#",
    });
    const std::vector<SquareRecord> squares = Cover(bitmap);
    EXPECT_EQ(squares, LiteralCover(bitmap).Run());
    // The left column pair (0, 2)/(0, 3) does start a square at (0, 3).
    ASSERT_FALSE(squares.empty());
    EXPECT_EQ(squares.front(), (SquareRecord{0, 0, 3, 1}));
}

// The main check of the fast cover: the same squares in the same order as
// the literal cover, and the cover's promises, on many random drawings.
TEST_F(Stage1Test, RandomDrawingsMatchTheLiteralCover) {
    std::mt19937 random(20240601);
    for (int drawing = 0; drawing < 400; ++drawing) {
        const AsciiBitmap bitmap = RandomDrawing(random);
        std::filesystem::remove(Path());
        const std::vector<SquareRecord> squares = Cover(bitmap);
        const std::vector<SquareRecord> expected = LiteralCover(bitmap).Run();
        ASSERT_EQ(squares, expected) << "drawing " << drawing << "\n" << bitmap.Text();
        ASSERT_EQ(m_count, static_cast<int32_t>(squares.size()));

        std::vector<uint8_t> covered(static_cast<std::size_t>(bitmap.Width()) * bitmap.Height(), 0);
        for (std::size_t i = 0; i < squares.size(); ++i) {
            const SquareRecord& s = squares[i];
            ASSERT_EQ(s.index, static_cast<int32_t>(i));
            ASSERT_GE(s.size, 1);
            ASSERT_TRUE(s.x >= 0 && s.y >= 0 && s.x + s.size <= bitmap.Width() && s.y + s.size <= bitmap.Height())
                << "square " << s << " leaves the bitmap";
            for (int y = s.y; y < s.y + s.size; ++y) {
                for (int x = s.x; x < s.x + s.size; ++x) {
                    ASSERT_TRUE(bitmap.IsInk(x, y)) << "square " << s << " holds background at " << x << ", " << y;
                    covered[static_cast<std::size_t>(y) * bitmap.Width() + x] = 1;
                }
            }
        }
        for (int y = 0; y < bitmap.Height(); ++y) {
            for (int x = 0; x < bitmap.Width(); ++x) {
                if (bitmap.IsInk(x, y)) {
                    ASSERT_TRUE(covered[static_cast<std::size_t>(y) * bitmap.Width() + x]) << x << ", " << y;
                }
            }
        }
    }
}

// Only byte 0 is ink: any other value is background, whatever its bits
// (the image's colour table decides the values), and rows may be stored
// bottom-up with a negative stride.
TEST_F(Stage1Test, AnyNonZeroByteIsBackgroundAndRowsFollowTheStride) {
    std::mt19937 random(99);
    const int32_t width = 77, height = 23;
    AsciiBitmap expected(width, height);
    std::vector<uint8_t> bottomUp(static_cast<std::size_t>(width + 5) * height, 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const bool ink = random() % 3 != 0;
            expected.SetInk(x, y, ink);
            bottomUp[static_cast<std::size_t>(height - 1 - y) * (width + 5) + x] =
                ink ? 0 : static_cast<uint8_t>(1 + random() % 255);
        }
    }
    const BitmapView view{width, height, bottomUp.data() + static_cast<std::size_t>(height - 1) * (width + 5),
                          -(width + 5)};
    EXPECT_EQ(TVemotrace_compV1(Path()).MakeSquares(view), static_cast<int32_t>(LiteralCover(expected).Run().size()));
    EXPECT_EQ(square_files::ReadSquares(Path()), LiteralCover(expected).Run());
}

// Large solid shapes take the cover past its first 64-pixel measure.
TEST_F(Stage1Test, LargeBlobsMatchTheLiteralCover) {
    AsciiBitmap bitmap(300, 260);
    bitmap.FillBox(10, 5, 210, 250);
    bitmap.FillBox(150, 100, 299, 180);
    for (int y = 0; y < 260; ++y) {
        for (int x = 0; x < 300; ++x) {
            const int dx = x - 230, dy = y - 60;
            if (dx * dx + dy * dy < 55 * 55) bitmap.SetInk(x, y);
        }
    }
    EXPECT_EQ(Cover(bitmap), LiteralCover(bitmap).Run());
}

// Solid areas wider and taller than 4096 pixels: runs are measured across
// many whole words at a time, leftwards and rightwards. The sliver right of
// the first square gets three more squares of full height, shifted by one.
TEST_F(Stage1Test, VeryLargeSolidAreaMatchesTheLiteralCover) {
    AsciiBitmap bitmap(4203, 4200);
    bitmap.FillBox(0, 0, 4202, 4199);
    const std::vector<SquareRecord> squares = Cover(bitmap);
    EXPECT_EQ(squares, (std::vector<SquareRecord>{{0, 0, 0, 4200}, {1, 1, 0, 4200}, {2, 2, 0, 4200}, {3, 3, 0, 4200}}));
    EXPECT_EQ(squares, LiteralCover(bitmap).Run());
}

// Rows wider than 64 words keep more than one word of their summaries: the
// fill pass must find the words still holding ink in every summary word,
// and skip the rows of blank paper without missing the ones after them.
TEST_F(Stage1Test, WideSparseDrawingsMatchTheLiteralCover) {
    std::mt19937 random(4097);
    for (const int width : {4095, 4097, 8193, 12345}) {
        AsciiBitmap bitmap(width, 9);
        for (int i = 0; i < 300; ++i) {
            const int x = static_cast<int>(random() % static_cast<unsigned>(width));
            const int y = static_cast<int>(random() % 9);
            bitmap.FillBox(x, y, x + static_cast<int>(random() % 70), y + static_cast<int>(random() % 2));
        }
        for (int x = 0; x < width; ++x) bitmap.SetInk(x, 4, false);  // a blank row between inked ones
        EXPECT_EQ(Cover(bitmap), LiteralCover(bitmap).Run()) << "width " << width;
    }
}

// A squares file that cannot be created or written ends the stage with an
// error naming the file, never with a short file taken as a small drawing.
TEST_F(Stage1Test, UnwritableSquaresFileRaisesFileError) {
    const AsciiBitmap bitmap({"##.", "##.", "..#"});
    const std::string missingFolder = m_folder.File("no-such-folder/temp.sqr");
    try {
        TVemotrace_compV1(missingFolder).MakeSquares(bitmap.View());
        FAIL() << "no error for " << missingFolder;
    } catch (const FileError& error) {
        EXPECT_EQ(error.Path(), missingFolder);
        EXPECT_NE(std::string(error.what()).find(missingFolder), std::string::npos);
    }
    // The disk fills up: only seen when the buffered records are written.
    EXPECT_THROW(TVemotrace_compV1("/dev/full").MakeSquares(bitmap.View()), FileError);
    // Without ink the file is never opened, so nothing can fail.
    EXPECT_EQ(TVemotrace_compV1(missingFolder).MakeSquares(AsciiBitmap(4, 4).View()), 0);
}

}  // namespace
