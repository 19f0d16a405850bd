// Vemo_qtcanvas: the line data's drawing surface (TVemo_canvas) on a
// QPainter, for the viewer's overlay and its squares view.
//
// Lines are rasterised here, not by QPainter: the line data relies on the
// end pixel of a segment staying undrawn (a polyline draws each inner point
// once), and QPainter's caps would draw it. Each segment is stepped along
// its longer axis and only its part inside the painter's visible area is
// visited, so a deep zoom costs no more than the visible pixels.
//
// Reads and writes nothing but the painter's device. Coordinates are the
// painter's logical coordinates; antialiasing is not used.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRect>
#include <QVector>
#include <optional>

#include "export/Vemo_canvas.h"

class TVemo_qtcanvas : public TVemo_canvas {
public:
    // Draws with `painter`, which must stay active for the canvas's life.
    // The pen's width is kept; only its colour is set.
    explicit TVemo_qtcanvas(QPainter& painter);
    // Draws into `image` with a painter of its own. An indexed image (the
    // working bitmap, whose colour table holds only ink and paper) is first
    // converted to 32-bit RGB in place, so the group colours can show.
    explicit TVemo_qtcanvas(QImage& image);
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
