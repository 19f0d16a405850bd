// polyline_input: a set of polylines laid out as the fitting step takes
// them, the points of all in one array and where each begins.
#pragma once

#include <cstddef>
#include <vector>

#include "trace/Vemotrace_types.h"

struct PolylineInput {
    std::vector<Point> points;
    std::vector<std::size_t> begin{0};
    void Add(const std::vector<Point>& polyline) {
        points.insert(points.end(), polyline.begin(), polyline.end());
        begin.push_back(points.size());
    }
};
