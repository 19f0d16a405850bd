// polyline_file: reads the polyline form of temp.lix back for the tests, as
// the export reads it: records to the end of the file.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "trace/Vemotrace_records.h"

using TracePoint = Point;
using Polyline = std::vector<TracePoint>;

inline void PrintTo(const TracePoint& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }

// Throws FileError when the file ends inside a point; a few bytes after
// the last polyline, too few for a count, end it.
inline std::vector<Polyline> ReadPolylines(const std::string& path) {
    std::vector<Polyline> polylines;
    PolylineReader reader(path);
    int32_t n = 0;
    while (reader.NextCount(n) == PolylineReader::Head::Count) {
        Polyline polyline;
        for (int32_t k = 0; k < n; ++k) {
            const uint8_t* vertex = reader.TakeVertices(1);
            if (vertex == nullptr) throw FileError(path, "the file ends early");
            polyline.push_back(records::GetVertex(vertex, 0));
        }
        polylines.push_back(polyline);
    }
    return polylines;
}
