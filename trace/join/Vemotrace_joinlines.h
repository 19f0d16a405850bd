// Vemotrace_joinlines: the join step's polylines, how they are read, walked
// and written, the nodes where their ends meet, and how work on many items
// is shared between two threads.
//
// Positions are doubles in image pixels, x to the right, y downward, the
// centre of pixel (c, r) at (c + .5, r + .5). Stage 5 ends every polyline
// at a point shared bit for bit with the other polylines meeting there, so
// ends meet when their coordinates are equal; only gaps need a distance.
// Polyline ends are numbered 2 x polyline + side (0 first point, 1 last).
//
// The small helpers are inline: every rule calls them in its inner loops.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <future>
#include <numeric>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "trace/Vemotrace_records.h"
#include "trace/Vemotrace_types.h"

namespace join::lines {

constexpr int32_t kNone = -1;

using ::Point;
using ::distance;

// The pixel column or row that holds v; values far outside any image (or
// not a number) are pinned far outside, so they stay ints and read as paper.
inline int32_t pixelOf(double v) {
    constexpr double kFar = 1e9;
    if (!(v > -kFar)) return static_cast<int32_t>(-kFar);
    if (!(v < kFar)) return static_cast<int32_t>(kFar);
    return static_cast<int32_t>(std::floor(v));
}

// distance(a, b) < limit (limit > 0) as the root tells it, mostly without
// the root: a square clearly on one side of limit squared decides alone,
// the margin being far wider than the rounding of either.
inline bool closerThan(const Point& a, const Point& b, double limit) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double squared = dx * dx + dy * dy, bound = limit * limit;
    if (squared < bound * (1.0 - 1e-9)) return true;
    if (squared > bound * (1.0 + 1e-9)) return false;
    return std::sqrt(squared) < limit;
}

inline double segmentDistanceSquared(const Point& p, const Point& a, const Point& b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double squared = dx * dx + dy * dy;
    const double t = squared > 0.0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / squared, 0.0, 1.0) : 0.0;
    const double ex = p.x - (a.x + t * dx), ey = p.y - (a.y + t * dy);
    return ex * ex + ey * ey;
}

inline double segmentDistance(const Point& p, const Point& a, const Point& b) {
    return std::sqrt(segmentDistanceSquared(p, a, b));
}

// All polylines in one array: polyline i holds points[begin[i]] up to,
// not including, points[begin[i + 1]].
struct Polylines {
    std::vector<Point> points;
    std::vector<std::size_t> begin{0};

    int32_t count() const { return static_cast<int32_t>(begin.size() - 1); }
    std::size_t size(int32_t i) const { return begin[i + 1] - begin[i]; }
    const Point& first(int32_t i) const { return points[begin[i]]; }
    const Point& last(int32_t i) const { return points[begin[i + 1] - 1]; }
    const Point& endPoint(int32_t end) const { return end % 2 == 0 ? first(end / 2) : last(end / 2); }
    // Point k of polyline end / 2, counted from its end `end` (0: that end).
    const Point& fromEnd(int32_t end, std::size_t k) const {
        return points[end % 2 == 0 ? begin[end / 2] + k : begin[end / 2 + 1] - 1 - k];
    }
    Point& fromEnd(int32_t end, std::size_t k) {
        return points[end % 2 == 0 ? begin[end / 2] + k : begin[end / 2 + 1] - 1 - k];
    }
};

inline double polylineLength(const Polylines& lines, int32_t i) {
    double length = 0.0;
    for (std::size_t k = lines.begin[i] + 1; k < lines.begin[i + 1]; ++k) {
        length += distance(lines.points[k - 1], lines.points[k]);
    }
    return length;
}

// The point at `length` pixels along polyline `end / 2` from `end`, and the
// index (counted from `end`) of the vertex at or before it.
inline Point pointAlong(const Polylines& lines, int32_t end, double length, std::size_t& vertex) {
    const int32_t i = end / 2;
    const std::size_t count = lines.size(i);
    const auto at = [&](std::size_t k) -> const Point& {
        return lines.fromEnd(end, k);
    };
    double done = 0.0;
    for (std::size_t k = 0; k + 1 < count; ++k) {
        const double step = distance(at(k), at(k + 1));
        if (done + step >= length && step > 0.0) {
            const double t = (length - done) / step;
            vertex = k;
            return {at(k).x + (at(k + 1).x - at(k).x) * t, at(k).y + (at(k + 1).y - at(k).y) * t};
        }
        done += step;
    }
    vertex = count - 1;
    return at(count - 1);
}

// Calls work(first, last) for blocks of kThreadBlock items of [0, count)
// (the last may be shorter), on this thread and on a second one where the
// machine has another core and a thread can be had. The blocks are handed
// out in turn, so neither thread waits while the other has a slow block.
// `work` may only write what belongs to its block.
inline constexpr std::size_t kThreadBlock = 256;
template <typename Work>
inline void inTwoThreads(std::size_t count, const Work& work) {
    std::atomic<std::size_t> next{0};
    const auto run = [&] {
        for (std::size_t first = next.fetch_add(kThreadBlock); first < count; first = next.fetch_add(kThreadBlock)) {
            work(first, std::min(count, first + kThreadBlock));
        }
    };
    std::future<void> other;
    if (count > kThreadBlock && std::thread::hardware_concurrency() > 1) {
        other = std::async(std::launch::async | std::launch::deferred, run);
    }
    run();
    if (other.valid()) other.get();
}

// Items dealt out to cells by counting, each cell's in the items' order:
// cell c holds items[first[c]] up to items[first[c + 1]].
struct Cells {
    std::vector<int32_t> first;
    std::vector<int32_t> items;
};

// Groups the ends that lie on the same point: nodeOf[end] is the node, and
// the ends of node v are order[first[v]] up to order[first[v + 1]].
struct Nodes {
    std::vector<int32_t> nodeOf;
    std::vector<int32_t> order;
    std::vector<int32_t> first;
};

// The numbers 0 to count - 1 as dealToCells takes items, without storing
// them (std::views::iota does the same, but clang 14, which builds the fuzz
// targets, cannot compile libstdc++ 12's ranges).
struct Indices {
    std::size_t count = 0;
    std::size_t size() const { return count; }
    int32_t operator[](std::size_t k) const { return static_cast<int32_t>(k); }
};

// `items`: a vector of them, or Indices.
// `cellOf(item)`: its cell, below `cells`, worked out once per item and two
// at a time.
template <typename Items, typename CellOf>
Cells dealToCells(const Items& items, std::size_t cells, const CellOf& cellOf) {
    std::vector<int32_t> cellOfItem(items.size());
    inTwoThreads(items.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t k = first; k < last; ++k) cellOfItem[k] = static_cast<int32_t>(cellOf(items[k]));
    });
    Cells dealt;
    dealt.first.assign(cells + 1, 0);
    for (const int32_t cell : cellOfItem) ++dealt.first[cell];
    std::partial_sum(dealt.first.begin(), dealt.first.end(), dealt.first.begin());
    // From the back of each cell, which leaves first[c] at its first item.
    dealt.items.resize(items.size());
    for (std::size_t k = items.size(); k-- > 0;) {
        dealt.items[--dealt.first[cellOfItem[k]]] = static_cast<int32_t>(items[k]);
    }
    return dealt;
}

// The columns findNodes deals the ends to before sorting each: columns
// rise with x, so the dealt order is the sorted order by x.
struct NodeColumns {
    std::size_t count = 1;
    double perPixel = 1.0;

    // For ends reaching x = `rightmost`.
    static NodeColumns reaching(double rightmost, int32_t ends);
    // The column of an end at x, below `count`.
    std::size_t of(double x) const;
};

Polylines readPolylines(const std::string& path);
Nodes findNodes(const Polylines& lines);

// Appends polyline i to the chain, entered at `end`, without repeating the
// point where it meets the chain.
void appendPolyline(const Polylines& lines, int32_t end, std::vector<Point>& chain);

// Writes a polyline in pieces of at most kMaxJoinedPoints that share
// their boundary points; counts the pieces and their points.
void writePolyline(std::span<const Point> line, RecordWriter& writer, int32_t& polylines, int32_t& vertices);
// Writes the polylines so.
void writePolylines(const Polylines& shaped, RecordWriter& writer, int32_t& polylines, int32_t& vertices);

double chainLength(std::span<const Point> chain);

}  // namespace join::lines
