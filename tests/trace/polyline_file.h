// polyline_file: reads the polyline form of temp.lix back for the tests, as
// the export reads it: records to the end of the file.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "trace/Vemotrace_records.h"

struct TracePoint {
    double x, y;
    bool operator==(const TracePoint&) const = default;
};
using Polyline = std::vector<TracePoint>;

inline void PrintTo(const TracePoint& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }

// Throws FileError when the file ends inside a record.
inline std::vector<Polyline> ReadPolylines(const std::string& path) {
    std::vector<Polyline> polylines;
    RecordReader reader(path);
    int32_t n = 0;
    while (reader.TryInt32(n)) {
        Polyline polyline;
        for (int32_t k = 0; k < n; ++k) {
            const double x = reader.Double();
            polyline.push_back({x, reader.Double()});
        }
        polylines.push_back(polyline);
    }
    return polylines;
}
