// Vemo_canvas: the drawing surface the line data paints squares and draws
// polylines on, so that export/ needs no graphics library. The viewer and
// the tests implement it (viewer/Vemo_qtcanvas for a QPainter).
//
// Coordinates are device pixels of the surface, x to the right and y
// downward; a pixel (x, y) is the unit square whose top-left corner is
// (x, y). Nothing is returned and nothing is reported: what falls outside
// the surface is simply not drawn.
#pragma once

#include <cstdint>

struct CanvasColour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;

    friend bool operator==(const CanvasColour&, const CanvasColour&) = default;
};

class TVemo_canvas {
public:
    virtual ~TVemo_canvas() = default;

    virtual void SetBrushColour(CanvasColour colour) = 0;
    // Fills the pixels with left <= x < right and top <= y < bottom with the
    // brush colour. An empty rectangle (right <= left or bottom <= top)
    // fills nothing.
    virtual void FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom) = 0;

    virtual void SetPenColour(CanvasColour colour) = 0;
    // Moves the pen without drawing.
    virtual void MoveTo(int32_t x, int32_t y) = 0;
    // Draws a line from the pen position to (x, y) in the pen colour and
    // moves the pen there. The start pixel is drawn, the end pixel is not,
    // so a polyline draws each of its inner points exactly once and a line
    // to the pen's own position draws nothing.
    virtual void LineTo(int32_t x, int32_t y) = 0;

protected:
    TVemo_canvas() = default;
    TVemo_canvas(const TVemo_canvas&) = default;
    TVemo_canvas& operator=(const TVemo_canvas&) = default;
};
