// Vemotrace_joinlines: reading the lines file, finding the nodes, writing
// the joined polylines (see the header).
#include "trace/join/Vemotrace_joinlines.h"

#include <bit>
#include <filesystem>
#include <span>

#include "trace/Vemotrace_join.h"

namespace join::lines {

// A polyline's tail lies on its own start when no point of it is further
// than this from the polyline (pixels).
constexpr double kRetraceTolerance = 0.5;

// Stage 5 closes a ring by walking round to its first point and then
// crosses its first link once more, so the polyline ends on top of its own
// start. Such a tail (points from `first` on) is cut at the return to the
// first point, which leaves a closed ring.
void dropRetracedTail(std::vector<Point>& points, std::size_t first) {
    const std::size_t count = points.size() - first;
    if (count < 5) return;
    // The tail is the crossed link: one or two points after the return.
    for (std::size_t k = count - 2; k + 3 >= count; --k) {
        if (!(points[first + k] == points[first])) continue;
        bool retraced = true;
        for (std::size_t t = k + 1; t < count && retraced; ++t) {
            double nearest = kRetraceTolerance + 1.0;
            for (std::size_t j = first; j + 1 < first + k; ++j) {
                nearest = std::min(nearest, segmentDistance(points[first + t], points[j], points[j + 1]));
            }
            retraced = nearest <= kRetraceTolerance;
        }
        if (retraced) points.resize(first + k + 1);
        return;
    }
}

Polylines readPolylines(const std::string& path) {
    Polylines lines;
    PolylineReader file(path);
    // Room for as many points as the file can hold, so the array is not
    // copied as it grows; the diagonal runs may add a few.
    std::error_code error;
    const std::uintmax_t bytes = std::filesystem::file_size(path, error);
    if (!error) lines.points.reserve(static_cast<std::size_t>(bytes / records::kVertexSize));
    // A few bytes after the last polyline, too few for a count, are no
    // record.
    int32_t n = 0;
    while (file.NextCount(n) == PolylineReader::Head::Count) {
        if (n < 0) throw FileError(path, "a polyline with a negative point count");
        for (int32_t done = 0; done < n;) {
            const auto count = std::min(static_cast<std::size_t>(n - done), records::kRecordsPerRead);
            const uint8_t* record = file.TakeVertices(count);
            if (record == nullptr) throw FileError(path, "the file ends early");
            for (std::size_t k = 0; k < count; ++k) {
                const Point p = records::GetVertex(record, k);
                // Stage 5 writes image positions only; anything else is damage.
                if (!std::isfinite(p.x) || !std::isfinite(p.y)) throw FileError(path, "a point that is not a number");
                lines.points.push_back(p);
            }
            done += static_cast<int32_t>(count);
        }
        // A polyline of fewer than two points is no line (stage 5 writes
        // none); it is left out.
        if (n < 2) {
            lines.points.resize(lines.begin.back());
            continue;
        }
        dropRetracedTail(lines.points, lines.begin.back());
        lines.begin.push_back(lines.points.size());
    }
    return lines;
}

// At most this many columns, however far right the ends lie.
constexpr double kMostColumns = 1 << 20;

NodeColumns NodeColumns::reaching(double rightmost, int32_t ends) {
    // One column a pixel, but no more columns than ends: a few ends far out
    // on a damaged file would otherwise cost a pass over a million empty
    // columns. Wider columns still rise with x.
    const double wanted = std::min({rightmost, kMostColumns, static_cast<double>(ends)});
    NodeColumns columns;
    columns.count = static_cast<std::size_t>(std::max(wanted, 0.0)) + 1;
    columns.perPixel = rightmost > wanted && rightmost > 0.0 ? wanted / rightmost : 1.0;
    return columns;
}

std::size_t NodeColumns::of(double x) const {
    return x < 0.0 ? 0 : static_cast<std::size_t>(std::min(x * perPixel, static_cast<double>(count - 1)));
}

// An integer that orders finite doubles as they compare (-0 as 0), so
// the sort compares integers.
uint64_t orderKey(double v) {
    const auto bits = std::bit_cast<uint64_t>(v + 0.0);
    return (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
}

Nodes findNodes(const Polylines& lines) {
    const int32_t ends = 2 * lines.count();
    // Dealt out by pixel column first, then each column sorted: the same
    // order as one sort of all ends (column numbers rise with x), in a
    // fraction of its time, and with room for the sort keys of one column
    // at a time.
    double rightmost = 0.0;
    for (int32_t end = 0; end < ends; ++end) rightmost = std::max(rightmost, lines.endPoint(end).x);
    const NodeColumns column = NodeColumns::reaching(rightmost, ends);
    const std::size_t columns = column.count;
    Cells byColumn = dealToCells(Indices{static_cast<std::size_t>(ends)}, columns,
                                 [&](int32_t end) { return column.of(lines.endPoint(end).x); });
    struct Place {
        uint64_t x;
        uint64_t y;
        int32_t end;
    };
    inTwoThreads(columns, [&](std::size_t first, std::size_t last) {
        std::vector<Place> places;
        for (std::size_t c = first; c < last; ++c) {
            const auto from = static_cast<std::size_t>(byColumn.first[c]);
            const auto to = static_cast<std::size_t>(byColumn.first[c + 1]);
            if (to - from < 2) continue;
            places.clear();
            for (std::size_t k = from; k < to; ++k) {
                const Point& at = lines.endPoint(byColumn.items[k]);
                places.push_back({orderKey(at.x), orderKey(at.y), byColumn.items[k]});
            }
            std::sort(places.begin(), places.end(), [](const Place& p, const Place& q) {
                return p.x != q.x ? p.x < q.x : p.y != q.y ? p.y < q.y : p.end < q.end;
            });
            for (std::size_t k = from; k < to; ++k) byColumn.items[k] = places[k - from].end;
        }
    });
    Nodes nodes;
    nodes.order = std::move(byColumn.items);
    nodes.nodeOf.resize(static_cast<std::size_t>(ends));
    for (int32_t k = 0; k < ends; ++k) {
        const Point& at = lines.endPoint(nodes.order[k]);
        if (k == 0) {
            nodes.first.push_back(k);
        } else {
            const Point& before = lines.endPoint(nodes.order[k - 1]);
            if (orderKey(at.x) != orderKey(before.x) || orderKey(at.y) != orderKey(before.y)) nodes.first.push_back(k);
        }
        nodes.nodeOf[nodes.order[k]] = static_cast<int32_t>(nodes.first.size() - 1);
    }
    nodes.first.push_back(ends);
    return nodes;
}

void appendPolyline(const Polylines& lines, int32_t end, std::vector<Point>& chain) {
    const int32_t i = end / 2;
    const std::size_t count = lines.size(i);
    for (std::size_t k = 0; k < count; ++k) {
        const Point& p = lines.fromEnd(end, k);
        if (k == 0 && !chain.empty() && chain.back() == p) continue;
        chain.push_back(p);
    }
}

void writePolyline(std::span<const Point> line, RecordWriter& writer, int32_t& polylines, int32_t& vertices) {
    for (std::size_t start = 0; start + 1 < line.size();) {
        const std::size_t count = std::min(TVemotrace_join::kMaxJoinedPoints, line.size() - start);
        if (vertices > INT32_MAX - static_cast<int32_t>(count)) {
            throw FileError(writer.Path(), "more points than the file can count");
        }
        writer.PutInt32(static_cast<int32_t>(count));
        for (std::size_t k = start; k < start + count; ++k) {
            writer.PutDouble(line[k].x);
            writer.PutDouble(line[k].y);
        }
        ++polylines;
        vertices += static_cast<int32_t>(count);
        start += count - 1;
    }
}

void writePolylines(const Polylines& shaped, RecordWriter& writer, int32_t& polylines, int32_t& vertices) {
    for (int32_t i = 0; i < shaped.count(); ++i) {
        writePolyline({shaped.points.data() + shaped.begin[i], shaped.size(i)}, writer, polylines, vertices);
    }
}

double chainLength(std::span<const Point> chain) {
    double length = 0.0;
    for (std::size_t k = 1; k < chain.size(); ++k) length += distance(chain[k - 1], chain[k]);
    return length;
}
}  // namespace join::lines
