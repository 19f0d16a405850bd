// The viewer's side of the line data: squares painted in group colours and
// polylines drawn at a zoom, checked on a recording canvas and on a QImage
// through the QPainter adapter.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <map>

#include "export/Vemo_compdata.h"
#include "export_test_support.h"
#include "viewer/Vemo_qtcanvas.h"

namespace {

using namespace exporttest;

// Remembers what was drawn: pixels filled by FillRect, and the pen moves.
class RecordingCanvas : public TVemo_canvas {
public:
    void SetBrushColour(CanvasColour colour) override { m_brush = colour; }
    void FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom) override {
        for (int32_t y = top; y < bottom; ++y) {
            for (int32_t x = left; x < right; ++x) pixels[{x, y}] = m_brush;
        }
    }
    void SetPenColour(CanvasColour colour) override { m_pen = colour; }
    void MoveTo(int32_t x, int32_t y) override { moves.push_back({m_pen, false, x, y}); }
    void LineTo(int32_t x, int32_t y) override { moves.push_back({m_pen, true, x, y}); }

    struct Move {
        CanvasColour pen;
        bool draws;
        int32_t x, y;
    };
    std::map<std::pair<int32_t, int32_t>, CanvasColour> pixels;
    std::vector<Move> moves;

private:
    CanvasColour m_brush, m_pen;
};

// 0x00BBGGRR, as the colours are known to users of the program.
CanvasColour FromWindowsValue(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16)};
}

// Catches a wrong or shifted colour table entry.
TEST(Colour, HoldsThirteenDrawingColoursThenBlack) {
    const uint32_t expected[] = {0x00FF00, 0x0000FF, 0xFF0000, 0xFF00FF, 0x00FFFF, 0xFFFF00, 0x808080,
                                 0xC000C0, 0xFFC0C0, 0xFFFFC0, 0xC0FFC0, 0xC0FFFF, 0xC0C0FF};
    TVemo_compdata data;
    for (int i = 0; i < 13; ++i) EXPECT_EQ(data.Colour(i), FromWindowsValue(expected[i])) << i;
    for (int i : {13, 255, 256, -1}) EXPECT_EQ(data.Colour(i), CanvasColour{}) << i;
}

std::string SquareRecords(const std::vector<std::array<int32_t, 3>>& squares) {
    std::string bytes;
    for (std::size_t i = 0; i < squares.size(); ++i) {
        AppendInt32(bytes, static_cast<int32_t>(i));
        for (int32_t field : squares[i]) AppendInt32(bytes, field);
    }
    return bytes;
}

std::string MemberRecords(const std::vector<std::pair<int32_t, int32_t>>& members) {
    std::string bytes;
    for (const auto& [group, square] : members) {
        AppendInt32(bytes, group);
        AppendInt32(bytes, square);
    }
    return bytes;
}

// Catches colours by square instead of group, an off-by-one in the square's
// extent, groups painted out of order, and reads past a short file.
TEST(PaintSquares, FillsEachSquareInItsGroupColour) {
    ScratchFolder scratch;
    // Squares 0-3; square 4 is counted but missing from the file.
    WriteFile(scratch / "temp.sqr", SquareRecords({{5, 7, 1}, {0, 0, 2}, {1, 1, 2}, {20, 0, 1}}));
    // Group 13 of 14, an out-of-range group 99, a member naming the missing
    // square, and group 12 in two runs (the last run counts).
    WriteFile(scratch / "temp.sqo",
              MemberRecords({{12, 3}, {0, 1}, {1, 2}, {13, 0}, {99, 1}, {13, 4}, {12, 0}}));
    TVemo_compdata data;
    data.LoadSquares(scratch / "temp.sqr", 5);
    data.LoadGroups(scratch / "temp.sqo", 14, 7);
    EXPECT_EQ(data.SquareCount(), 4);
    RecordingCanvas canvas;
    data.PaintSquares(canvas);

    const CanvasColour green = data.Colour(0), red = data.Colour(1);
    const std::map<std::pair<int32_t, int32_t>, CanvasColour> expected = {
        {{0, 0}, green}, {{1, 0}, green}, {{0, 1}, green},  // square 1, group 0, partly covered
        {{1, 1}, red},   {{2, 1}, red},   {{1, 2}, red},   {{2, 2}, red},  // square 2, group 1
        {{5, 7}, green},  // square 0: group 12 first, then group 13 (green) paints over it
    };
    EXPECT_EQ(canvas.pixels, expected);  // square 3 (only in group 12's first run) stays unpainted

    // No groups: nothing is painted.
    TVemo_compdata empty;
    empty.LoadSquares(scratch / "temp.sqr", 0);
    empty.LoadGroups(scratch / "temp.sqo", 0, 7);
    RecordingCanvas untouched;
    empty.PaintSquares(untouched);
    EXPECT_TRUE(untouched.pixels.empty());
}

// Catches rounding instead of truncation toward zero, the zoom applied to
// one axis only, a wrong colour order, and a truncated file drawn wrongly.
TEST(DrawLines, DrawsEachPolylineAtTheZoomInTurningColours) {
    ScratchFolder scratch;
    std::vector<Polyline> polylines = {{{10.9, 3.0}, {1.9, 1.9}, {-1.9, 0.6}}};
    for (int i = 2; i <= 14; ++i) polylines.push_back({{i, 0}, {i, 1}});
    WriteFile(scratch / "temp.lix", LinesBytes(polylines));
    TVemo_compdata data;

    RecordingCanvas zoomed;
    data.DrawLines(scratch / "temp.lix", zoomed, 1.5);
    ASSERT_EQ(zoomed.moves.size(), 3u + 13 * 2);
    EXPECT_EQ(zoomed.moves[0].x, 16);
    EXPECT_EQ(zoomed.moves[0].y, 4);
    EXPECT_FALSE(zoomed.moves[0].draws);
    EXPECT_TRUE(zoomed.moves[1].draws);
    EXPECT_EQ(zoomed.moves[2].x, -2);  // -2.85 toward zero
    EXPECT_EQ(zoomed.moves[0].pen, data.Colour(1));                  // first polyline red
    EXPECT_EQ(zoomed.moves[3 + 11 * 2].pen, data.Colour(0));         // 13th green
    EXPECT_EQ(zoomed.moves[3 + 12 * 2].pen, data.Colour(1));         // 14th red again

    RecordingCanvas halved;
    data.DrawLines(scratch / "temp.lix", halved, 0.5);
    EXPECT_EQ(halved.moves[1].x, 0);
    EXPECT_EQ(halved.moves[1].y, 0);

    // A file that ends inside a point draws the points before it and stops.
    const std::string bytes = LinesBytes(polylines);
    WriteFile(scratch / "cut.lix", bytes.substr(0, 4 + 16 * 2 + 5));
    RecordingCanvas cut;
    data.DrawLines(scratch / "cut.lix", cut, 1.0);
    EXPECT_EQ(cut.moves.size(), 2u);

    // Nothing to draw: an empty file, a missing one.
    WriteFile(scratch / "empty.lix", "");
    RecordingCanvas nothing;
    data.DrawLines(scratch / "empty.lix", nothing, 1.0);
    data.DrawLines(scratch / "missing.lix", nothing, 1.0);
    EXPECT_TRUE(nothing.moves.empty());
}

QRgb Pixel(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

// The adapter must leave a segment's end pixel undrawn and fill exactly the
// rectangle; QPainter's own lines draw the end pixel.
TEST(QtCanvas, DrawsSegmentsWithoutTheirEndPixel) {
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        TVemo_qtcanvas canvas(image);
        canvas.SetBrushColour({0, 0, 255});
        canvas.FillRect(30, 10, 32, 13);
        canvas.SetPenColour({255, 0, 0});
        canvas.MoveTo(2, 2);
        canvas.LineTo(8, 2);   // (2..7, 2)
        canvas.LineTo(8, 5);   // (8, 2..4)
        canvas.LineTo(12, 7);  // from (8, 5), longer along x
    }
    std::vector<std::pair<int, int>> red, blue;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (Pixel(image, x, y) == 0xFF0000) red.emplace_back(x, y);
            if (Pixel(image, x, y) == 0x0000FF) blue.emplace_back(x, y);
        }
    }
    EXPECT_EQ(blue, (std::vector<std::pair<int, int>>{{30, 10}, {31, 10}, {30, 11}, {31, 11}, {30, 12}, {31, 12}}));
    EXPECT_EQ(red, (std::vector<std::pair<int, int>>{{2, 2}, {3, 2}, {4, 2}, {5, 2}, {6, 2}, {7, 2}, {8, 2},
                                                     {8, 3}, {8, 4}, {8, 5}, {9, 6}, {10, 6}, {11, 7}}));
}

// Catches clipping that shifts or loses pixels: a long line drawn on a small
// image gives the same pixels as the same line drawn whole on a large one.
TEST(QtCanvas, ClipsLongLinesWithoutMovingThem) {
    QImage small(64, 48, QImage::Format_RGB32), large(1300, 900, QImage::Format_RGB32);
    small.fill(Qt::white);
    large.fill(Qt::white);
    {
        TVemo_qtcanvas canvas(small);
        canvas.MoveTo(-600, -397);
        canvas.LineTo(600, 401);
    }
    {
        QPainter painter(&large);
        painter.translate(650, 450);  // the adapter must see the shifted visible area
        TVemo_qtcanvas canvas(painter);
        canvas.MoveTo(-600, -397);
        canvas.LineTo(600, 401);
    }
    int drawn = 0;
    for (int y = 0; y < small.height(); ++y) {
        for (int x = 0; x < small.width(); ++x) {
            EXPECT_EQ(Pixel(small, x, y), Pixel(large, x + 650, y + 450)) << x << "," << y;
            drawn += Pixel(small, x, y) != 0xFFFFFF;
        }
    }
    EXPECT_GT(drawn, 40);
}

// The squares view paints into the indexed working bitmap, whose colour
// table holds only black and white: the group colours must still show.
TEST(QtCanvas, PaintsGroupColoursIntoAnIndexedImage) {
    ScratchFolder scratch;
    WriteFile(scratch / "temp.sqr", SquareRecords({{5, 7, 1}}));
    WriteFile(scratch / "temp.sqo", MemberRecords({{1, 0}}));
    QImage image(10, 10, QImage::Format_Indexed8);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    image.fill(1);
    TVemo_compdata data;
    data.LoadSquares(scratch / "temp.sqr", 1);
    data.LoadGroups(scratch / "temp.sqo", 2, 1);
    {
        TVemo_qtcanvas canvas(image);
        data.PaintSquares(canvas);
    }
    EXPECT_EQ(Pixel(image, 5, 7), 0xFF0000u);
    EXPECT_EQ(Pixel(image, 4, 7), 0xFFFFFFu);
    EXPECT_EQ(Pixel(image, 5, 8), 0xFFFFFFu);
}

}  // namespace

namespace {

// Catches an index that loses, shifts or recolours polylines: the indexed
// drawing of a part of a sheet gives that part's pixels as drawing the whole
// sheet does, at several zooms and places, also for a file cut inside a
// point; and it passes over polylines that lie elsewhere.
TEST(DrawIndexedLines, DrawsWhatTheWholeDrawingDrawsThere) {
    std::vector<Polyline> polylines;
    uint32_t seed = 7;
    const auto next = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<double>((seed >> 8) % (range * 10)) / 10.0;
    };
    for (int k = 0; k < 60; ++k) {
        Polyline polyline;
        const double x = next(300), y = next(200);
        for (int i = 0; i < 1 + k % 5; ++i) polyline.push_back({x + next(40) - 20, y + next(40) - 20});
        polylines.push_back(polyline);
    }
    const std::string whole = LinesBytes(polylines);
    TVemo_compdata data;
    for (const std::string& bytes : {whole, whole.substr(0, whole.size() - 21)}) {
        const std::span<const uint8_t> lines(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        const auto index = TVemo_compdata::IndexLines(lines);
        for (const double zoom : {0.5, 1.0, 2.75}) {
            QImage sheet(900, 650, QImage::Format_RGB32);
            sheet.fill(Qt::white);
            {
                TVemo_qtcanvas canvas(sheet);
                data.DrawLines(lines, canvas, zoom);
            }
            for (const QPoint origin : {QPoint(0, 0), QPoint(37, 51), QPoint(200, 120)}) {
                QImage part(90, 70, QImage::Format_RGB32);
                part.fill(Qt::white);
                {
                    TVemo_qtcanvas canvas(part, origin);
                    data.DrawIndexedLines(lines, index, {origin.x(), origin.y(), origin.x() + 89, origin.y() + 69},
                                          canvas, zoom);
                }
                for (int y = 0; y < part.height(); ++y) {
                    for (int x = 0; x < part.width(); ++x) {
                        ASSERT_EQ(Pixel(part, x, y), Pixel(sheet, origin.x() + x, origin.y() + y))
                            << "zoom " << zoom << " at " << origin.x() + x << "," << origin.y() + y;
                    }
                }
            }
        }
        RecordingCanvas all, corner;
        data.DrawLines(lines, all, 1.0);
        data.DrawIndexedLines(lines, index, {0, 0, 20, 20}, corner, 1.0);
        EXPECT_LT(corner.moves.size(), all.moves.size() / 4);
    }
}

}  // namespace
