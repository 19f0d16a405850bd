// Vemo_qtcanvas: the line data's drawing surface (TVemo_canvas) on a
// QPainter, for the viewer's overlay and its squares view.
//
// Lines are rasterised here, not by QPainter: the line data relies on the
// end pixel of a segment staying undrawn (a polyline draws each inner point
// once), and QPainter's caps would draw it. Each segment is stepped along
// its longer axis and only its part inside the painter's visible area is
// visited, so a deep zoom costs no more than the visible pixels.
//
// Images in 8-bit indexed or 32-bit RGB format are written pixel by pixel,
// without a painter: a painter costs a state change per polyline, since
// every polyline has its own colour, and the viewer draws a hundred
// thousand of them on an A0 drawing. An indexed image (the viewer's image
// bitmap) stays at one byte per pixel: a colour the image's colour table
// lacks is put into the table, in a free entry or in an entry that no pixel
// uses; only when neither exists does the nearest table colour stand in.
// Converting the image to 32-bit colour instead would take four times its
// memory, about 2 GB for an A0 scan at 600 dpi.
//
// Reads and writes nothing but the painter's device or the image.
// Coordinates are the painter's logical coordinates or the image's pixels;
// antialiasing is not used.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRect>
#include <QVector>
#include <optional>
#include <vector>

#include "export/Vemo_canvas.h"

class TVemo_qtcanvas : public TVemo_canvas {
public:
    // Draws with `painter`, which must stay active for the canvas's life.
    // The pen's width is kept; only its colour is set.
    explicit TVemo_qtcanvas(QPainter& painter);
    // Draws into `image`: an 8-bit indexed or 32-bit RGB image pixel by
    // pixel, keeping its format (a 1-bit image becomes 8-bit indexed first);
    // any other format with a painter of its own. The canvas point `origin`
    // lands on the image's top-left pixel, so an image of the visible part
    // of a larger surface takes the surface's coordinates.
    explicit TVemo_qtcanvas(QImage& image, QPoint origin = QPoint(0, 0));
    ~TVemo_qtcanvas() override;

    TVemo_qtcanvas(const TVemo_qtcanvas&) = delete;
    TVemo_qtcanvas& operator=(const TVemo_qtcanvas&) = delete;

    void SetBrushColour(CanvasColour colour) override;
    void FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom) override;
    void SetPenColour(CanvasColour colour) override;
    void MoveTo(int32_t x, int32_t y) override;
    void LineTo(int32_t x, int32_t y) override;

private:
    void Prepare();
    void FlushPoints();
    // The value that shows `colour` in m_direct: a colour, or for an
    // indexed image a table index (see the banner).
    uint32_t PixelFor(CanvasColour colour);
    void Plot(int64_t x, int64_t y) {
        uchar* row = m_direct->scanLine(static_cast<int>(y - m_origin.y()));
        const int64_t column = x - m_origin.x();
        if (m_indexedTarget) {
            row[column] = static_cast<uchar>(m_penPixel);
        } else {
            reinterpret_cast<uint32_t*>(row)[column] = m_penPixel;
        }
    }

    QImage* m_direct = nullptr;  // the image written pixel by pixel, or none
    bool m_indexedTarget = false;
    QPoint m_origin;
    std::vector<bool> m_usedIndexes;  // filled on first need: indexes some pixel holds
    uint32_t m_brushPixel = 0;
    uint32_t m_penPixel = 0;

    std::optional<QPainter> m_ownPainter;
    QPainter* m_painter = nullptr;
    // The part of the surface that can show anything, in logical
    // coordinates, with a pixel to spare on each side for wide pens.
    QRect m_visible;
    QColor m_brush = Qt::black;
    QColor m_pen = Qt::black;
    QPoint m_position;
    QVector<QPoint> m_points;  // pixels waiting to be drawn in the pen colour
};
