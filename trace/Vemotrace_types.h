// Vemotrace_types: the values that travel between the trace stages, the
// trace job, the export and the viewer.
//
// Conventions used throughout the trace:
//  - pixel coordinates: x (column) to the right, y (row) downward, from the
//    image's top-left corner; boxes are inclusive column/row ranges;
//  - from stage 4 on, positions are doubles in image pixels and the centre
//    of pixel (c, r) is (c + 0.5, r + 0.5);
//  - square, group and point numbers are int32_t, as they are stored.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A position in image pixels (stage 4 on, the lines file, the join step
// and the writers).
struct Point {
    double x = 0.0;
    double y = 0.0;
    bool operator==(const Point&) const = default;
};

inline double distance(const Point& a, const Point& b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    return std::sqrt(dx * dx + dy * dy);
}

// The bitmap to trace, as the engine sees it: one byte per pixel, rows from
// the top down, a pixel is ink when its byte is 0. Not owned: the caller
// keeps the pixels alive for the whole trace.
struct BitmapView {
    int32_t width = 0;
    int32_t height = 0;
    const uint8_t* pixels = nullptr;  // first byte of row 0
    std::ptrdiff_t stride = 0;        // bytes from one row to the next

    const uint8_t* Row(int32_t y) const { return pixels + y * stride; }
    bool IsInk(int32_t x, int32_t y) const { return Row(y)[x] == 0; }
};

// The results of one trace, thirteen fields in this fixed order. Note that
// the lines path comes before the points path. The pipeline fills fields
// 1 to 9; the trace job sets the output options 10 to 13.
struct TraceResult {
    std::string squaresPath;  // temp.sqr
    std::string groupsPath;   // temp.sqo
    std::string linesPath;    // temp.lix
    std::string pointsPath;   // temp.pxy
    int32_t squareCount = 0;  // records in temp.sqr
    int32_t groupCount = 0;   // distinct groups in temp.sqo
    int32_t memberCount = 0;  // records in temp.sqo (equals squareCount)
    int32_t imageWidth = 0;   // pixels
    int32_t imageHeight = 0;  // pixels
    int32_t flipX = 0;        // 1: mirror X on output
    int32_t flipY = 0;        // 1: mirror Y on output
    double xRatio = 0.0;      // X scale factor of the output
    double yRatio = 0.0;      // Y scale factor of the output
};

// The squares of stage 1, held in memory by stage 2 and shared with
// stages 3 and 4. Square i is record i of temp.sqr. Each array has
// count + 10 entries; entries from count on are never used.
struct SquareTable {
    std::vector<int32_t> x;         // column of the square's leftmost pixels
    std::vector<int32_t> y;         // row of the square's topmost pixels
    std::vector<int32_t> size;      // side length in pixels, >= 1
    std::vector<int32_t> useCount;  // group records naming the square (stage 3)
    int32_t count = 0;              // number of squares
    int32_t largestSize = 0;        // 0 when there are none
    int32_t width = 0;              // image width, set by the pipeline
    int32_t height = 0;             // image height, set by the pipeline
};

// Progress texts of a trace ("2.画像分析", ...): the main window shows them
// in its status panel, the command line prints them.
using StatusSink = std::function<void(std::string_view)>;
