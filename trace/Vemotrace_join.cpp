// Vemotrace_join: the join step (files, rules and results in the header).
//
// Positions are doubles in image pixels, x to the right, y downward, the
// centre of pixel (c, r) at (c + .5, r + .5). Stage 5 ends every polyline
// at a point shared bit for bit with the other polylines meeting there, so
// ends meet when their coordinates are equal; only gaps need a distance.
//
// Polyline ends are numbered 2 x polyline + side (0 first point, 1 last).
// Each step works on the "partner" of an end: the end of another polyline
// (or of the same one, for a ring) that continues it. The chains of
// partners are written out as the new polylines.
#include "trace/Vemotrace_join.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

#include "trace/Vemotrace_packed.h"
#include "trace/Vemotrace_records.h"

namespace {

// A break in the ink this wide (pixels, between the ink on either side) is
// bridged; with the ink's thickness at both ends added, it is the largest
// distance between two joined ends. A five-pixel break stays open.
constexpr double kGapWidth = 2.5;
// Ink counts as at most this thick (half width, pixels) for a gap: strokes
// are rarely wider than 16 pixels, and blobs are not to be joined.
constexpr double kMaxGapRadius = 8.0;
// Along a bridge between two ends, a break of kGapWidth crosses up to this
// much paper: the pixels at its edges add to it.
constexpr double kBreakAlongBridge = kGapWidth + 0.5;
// The way between two ends is looked at in steps of this (pixels).
constexpr double kBridgeStep = 1.0;
// Two ends are joined only when each points at the other within this angle
// (cosine of 35 degrees), or, when they almost touch, the two ends point
// against each other within the wider kTouchingCosine (45 degrees).
constexpr double kAimCosine = 0.819;
constexpr double kTouchingCosine = 0.707;
constexpr double kTouchingDistance = 0.75;
// Ends on pixels that touch at a corner (one-pixel steps of a thin curve,
// where the trace links no single pixels) need only not point away from
// each other: the pieces between such steps are too short to aim.
constexpr double kNeighbourDistance = 1.5;
constexpr double kNeighbourCosine = 0.3;
// The direction of an end is taken over this much of its polyline (pixels),
// or over the ink's thickness there if that is more: enough to look past
// the pixel steps of a thin stroke.
constexpr double kDirectionLength = 4.0;
// A spur is at most kSpurFactor times the ink's half width at its junction
// plus kSpurSlack pixels long: squares at a corner or a bump reach out by
// about that much. Longer limits take the ends of real strokes that stop a
// pixel or two past a junction.
constexpr double kSpurSlack = 1.0;
constexpr double kSpurFactor = 1.0;
// Where a thick stroke ends flat (cut across by a break, or drawn with a
// square pen), its squares fork towards the end's two corners: branches of
// up to kForkFactor times the ink's half width plus kSpurSlack, which is as
// far as a corner lies from the middle of the last square. Only where all
// lines at a node but one are that short does the node count as such an end.
constexpr double kForkFactor = 2.0;
// Thinner strokes fork no further than a spur reaches; there such short
// lines are the strokes of small letters.
constexpr double kForkHalfWidth = 2.5;
// A stroke's end that turns by more than this (cosine of 30 degrees) within
// a fork's reach of its tip hooks off to a corner.
constexpr double kHookCosine = 0.866;
// A hook's tip lies near a corner of the ink: paper this near (pixels).
constexpr double kCornerInk = 3.0;
// The ink's thickness is looked for this far; thicker ink counts as this
// (strokes up to 16 pixels wide are measured, thicker ink is a blob).
constexpr int32_t kMaxInkRadius = 8;
// Vertices within this distance (pixels) of the simplified line go.
constexpr double kVertexTolerance = 0.5;
// Re-centring across thick ink: a point every kRecentreStep pixels, ink at
// least kThickInk across, measured in steps of kRayStep; a point stays when
// the ink on one side reaches more than kMaxImbalance times further.
constexpr double kRecentreStep = 2.0;
constexpr double kThickInk = 3.0;
constexpr double kRayStep = 0.25;
// Strokes up to 24 pixels wide (2 mm at 300 dpi) are re-centred;
// beyond is a blob.
constexpr double kRecentreReach = 12.0;
constexpr double kMaxImbalance = 2.0;
// Edges this close to equally far on both sides (pixels) mean the middle.
constexpr double kCentred = 0.5;
// A corner cut is at most kCornerCut times the ink's half width (plus a
// pixel) long, and so is the way from the cut to the restored corner; the
// lines must meet at more than kCornerSine (the sine of 30 degrees).
constexpr double kCornerCut = 2.0;
constexpr double kCornerSine = 0.5;

constexpr int32_t kNone = -1;
constexpr int32_t kReadChunkPoints = 4096;

// A polyline's tail lies on its own start when no point of it is further
// than this from the polyline (pixels).
constexpr double kRetraceTolerance = 0.5;

// A speck of dirt has at most this many pixels.
constexpr std::size_t kSpeckPixels = 4;

struct Point {
    double x = 0.0;
    double y = 0.0;
    bool operator==(const Point&) const = default;
};

// The pixel column or row that holds v; values far outside any image (or
// not a number) are pinned far outside, so they stay ints and read as paper.
int32_t pixelOf(double v) {
    constexpr double kFar = 1e9;
    if (!(v > -kFar)) return static_cast<int32_t>(-kFar);
    if (!(v < kFar)) return static_cast<int32_t>(kFar);
    return static_cast<int32_t>(std::floor(v));
}

double distance(const Point& a, const Point& b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    return std::sqrt(dx * dx + dy * dy);
}

double segmentDistanceSquared(const Point& p, const Point& a, const Point& b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double squared = dx * dx + dy * dy;
    const double t = squared > 0.0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / squared, 0.0, 1.0) : 0.0;
    const double ex = p.x - (a.x + t * dx), ey = p.y - (a.y + t * dy);
    return ex * ex + ey * ey;
}

double segmentDistance(const Point& p, const Point& a, const Point& b) {
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
};

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
    RecordReader reader(path);
    std::vector<uint8_t> record;
    int32_t n = 0;
    while (reader.TryInt32(n)) {
        if (n < 0) throw FileError(path, "a polyline with a negative point count");
        // In chunks, so a damaged count cannot ask for more memory than
        // the file holds.
        for (int32_t done = 0; done < n;) {
            const int32_t count = std::min(n - done, kReadChunkPoints);
            record.resize(static_cast<std::size_t>(count) * records::kVertexSize);
            reader.ReadExact(record.data(), record.size());
            for (int32_t k = 0; k < count; ++k) {
                const uint8_t* at = record.data() + static_cast<std::size_t>(k) * records::kVertexSize;
                const Point p{records::GetDouble(at), records::GetDouble(at + 8)};
                // Stage 5 writes image positions only; anything else is damage.
                if (!std::isfinite(p.x) || !std::isfinite(p.y)) throw FileError(path, "a point that is not a number");
                lines.points.push_back(p);
            }
            done += count;
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

double polylineLength(const Polylines& lines, int32_t i) {
    double length = 0.0;
    for (std::size_t k = lines.begin[i] + 1; k < lines.begin[i + 1]; ++k) {
        length += distance(lines.points[k - 1], lines.points[k]);
    }
    return length;
}

// Distance from p to the nearest paper pixel centre, or to the image's
// edge, up to kMaxInkRadius: about half the ink's thickness at p.
double inkRadius(const PackedBitmap& bitmap, const Point& p) {
    const int32_t cx = pixelOf(p.x);
    const int32_t cy = pixelOf(p.y);
    const auto isPaper = [&](int32_t x, int32_t y) {
        return x < 0 || y < 0 || x >= bitmap.Width() || y >= bitmap.Height() || !bitmap.IsInk(x, y);
    };
    if (isPaper(cx, cy)) return 0.0;
    // The nearest paper is found by its squared distance and rooted once:
    // the root keeps the order, so it is the same value as the nearest of
    // the roots. Every pixel of ring r lies at least r - 0.5 from p.
    double bestSquared = double{kMaxInkRadius} * kMaxInkRadius;
    for (int32_t r = 1; r <= kMaxInkRadius && (r - 0.5) * (r - 0.5) < bestSquared; ++r) {
        for (int32_t dy = -r; dy <= r; ++dy) {
            const int32_t step = (dy == -r || dy == r) ? 1 : 2 * r;
            for (int32_t dx = -r; dx <= r; dx += step) {
                if (!isPaper(cx + dx, cy + dy)) continue;
                const double ex = cx + dx + 0.5 - p.x, ey = cy + dy + 0.5 - p.y;
                bestSquared = std::min(bestSquared, ex * ex + ey * ey);
            }
        }
    }
    return std::sqrt(bestSquared);
}

// Asks the processor for the bitmap's words around p (three rows), ahead
// of reading them, kFetchAhead items before they are needed.
constexpr std::size_t kFetchAhead = 8;
void prefetchAround(const PackedBitmap& bitmap, const Point& p) {
    const int32_t x = pixelOf(p.x), y = pixelOf(p.y);
    if (x < 0 || x >= bitmap.Width()) return;
    for (int32_t row = std::max(y - 1, 0); row <= y + 1 && row < bitmap.Height(); ++row) {
        __builtin_prefetch(bitmap.Row(row) + x / 64);
    }
}

// Adds the diagonal runs of one-pixel strokes that the trace leaves out: a
// pixel whose four side neighbours are all paper forms a group of its own
// that touches others only at corners, and such groups are never linked,
// so a stroke near 45 degrees loses those pixels. Each chain of such pixels,
// touching corner to corner, becomes a polyline through the pixel centres
// (a lone pixel is no line); the gap rules then join it to the traced
// pieces it continues.
void addDiagonalRuns(Polylines& lines, const PackedBitmap& bitmap) {
    // Pixel numbers in row order, so a neighbour is found by binary search.
    // Found 64 pixels at a time: ink with no ink beside, above or below it,
    // but some at a corner.
    std::vector<int64_t> pixels;
    const std::size_t words = bitmap.WordsPerRow();
    // Rows without ink (and those beyond the image) read as this one.
    const std::vector<uint64_t> paper(words, 0);
    const auto rowAt = [&](int32_t y) {
        return y >= 0 && y < bitmap.Height() && bitmap.RowHasInk(y) ? bitmap.Row(y) : paper.data();
    };
    // Each pixel's neighbour to the left (right) moved onto the pixel's bit.
    const auto left = [&](const uint64_t* row, std::size_t i) {
        return (row[i] << 1) | (i > 0 ? row[i - 1] >> 63 : 0);
    };
    const auto right = [&](const uint64_t* row, std::size_t i) {
        return (row[i] >> 1) | (i + 1 < words ? row[i + 1] << 63 : 0);
    };
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        if (!bitmap.RowHasInk(y)) continue;
        const uint64_t* above = rowAt(y - 1);
        const uint64_t* row = bitmap.Row(y);
        const uint64_t* below = rowAt(y + 1);
        for (std::size_t i = 0; i < words; ++i) {
            const uint64_t here = row[i];
            if (here == 0) continue;
            const uint64_t sides = left(row, i) | right(row, i) | above[i] | below[i];
            const uint64_t corners = left(above, i) | right(above, i) | left(below, i) | right(below, i);
            for (uint64_t found = here & ~sides & corners; found != 0; found &= found - 1) {
                pixels.push_back(int64_t{y} * bitmap.Width() + static_cast<int64_t>(i) * 64 + std::countr_zero(found));
            }
        }
    }
    const auto indexOf = [&](int32_t x, int32_t y) -> int64_t {
        if (x < 0 || y < 0 || x >= bitmap.Width() || y >= bitmap.Height()) return kNone;
        const int64_t key = int64_t{y} * bitmap.Width() + x;
        const auto at = std::lower_bound(pixels.begin(), pixels.end(), key);
        return at != pixels.end() && *at == key ? at - pixels.begin() : kNone;
    };
    const auto neighbours = [&](int64_t i, int64_t(&found)[4]) {
        const auto x = static_cast<int32_t>(pixels[i] % bitmap.Width());
        const auto y = static_cast<int32_t>(pixels[i] / bitmap.Width());
        int count = 0;
        for (const auto& [dx, dy] : {std::pair{-1, -1}, {1, -1}, {-1, 1}, {1, 1}}) {
            const int64_t j = indexOf(x + dx, y + dy);
            if (j != kNone) found[count++] = j;
        }
        return count;
    };
    std::vector<uint8_t> used(pixels.size(), 0);
    const auto centre = [&](int64_t i) {
        return Point{static_cast<double>(pixels[i] % bitmap.Width()) + 0.5,
                     static_cast<double>(pixels[i] / bitmap.Width()) + 0.5};
    };
    // Walks from pixel i through pixels with exactly two such neighbours.
    const auto walkFrom = [&](int64_t i) {
        std::size_t count = 0;
        int64_t found[4];
        while (i != kNone && !used[i]) {
            used[i] = 1;
            lines.points.push_back(centre(i));
            ++count;
            const int n = neighbours(i, found);
            int64_t next = kNone;
            for (int k = 0; k < n; ++k) {
                if (!used[found[k]]) next = found[k];
            }
            if (count > 1 && n != 2) next = kNone;  // a branch or an end
            i = next;
        }
        if (count >= 2) {
            lines.begin.push_back(lines.points.size());
        } else {
            lines.points.resize(lines.points.size() - count);
        }
    };
    int64_t found[4];
    for (int64_t i = 0; i < static_cast<int64_t>(pixels.size()); ++i) {
        if (!used[i] && neighbours(i, found) != 2) walkFrom(i);
    }
    for (int64_t i = 0; i < static_cast<int64_t>(pixels.size()); ++i) {
        if (!used[i]) walkFrom(i);  // rings
    }
}

// The distance from p along the unit vector u to the first paper, to a
// quarter of a pixel; `reach` when there is none that near. Probes every
// half pixel, then once more between the last ink and the first paper.
double inkExtent(const PackedBitmap& bitmap, const Point& p, const Point& u, double reach = kMaxInkRadius) {
    const auto isPaper = [&](double t) {
        const double x = std::floor(p.x + t * u.x), y = std::floor(p.y + t * u.y);
        return !(x >= 0 && y >= 0 && x < bitmap.Width() && y < bitmap.Height()) ||
               !bitmap.IsInk(static_cast<int32_t>(x), static_cast<int32_t>(y));
    };
    for (double t = 2 * kRayStep; t < reach; t += 2 * kRayStep) {
        if (isPaper(t)) return isPaper(t - kRayStep) ? t - 1.5 * kRayStep : t - 0.5 * kRayStep;
    }
    return reach;
}

// Groups the ends that lie on the same point: nodeOf[end] is the node, and
// the ends of node v are order[first[v]] up to order[first[v + 1]].
struct Nodes {
    std::vector<int32_t> nodeOf;
    std::vector<int32_t> order;
    std::vector<int32_t> first;
};

// An integer that orders finite doubles as they compare (-0 as 0), so
// the sort compares integers.
uint64_t orderKey(double v) {
    const auto bits = std::bit_cast<uint64_t>(v + 0.0);
    return (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
}

Nodes findNodes(const Polylines& lines) {
    struct Place {
        uint64_t x;
        uint64_t y;
        int32_t end;
    };
    const int32_t ends = 2 * lines.count();
    std::vector<Place> places(static_cast<std::size_t>(ends));
    for (int32_t end = 0; end < ends; ++end) {
        const Point& at = lines.endPoint(end);
        places[end] = {orderKey(at.x), orderKey(at.y), end};
    }
    std::sort(places.begin(), places.end(), [](const Place& p, const Place& q) {
        return p.x != q.x ? p.x < q.x : p.y != q.y ? p.y < q.y : p.end < q.end;
    });
    Nodes nodes;
    nodes.order.resize(static_cast<std::size_t>(ends));
    nodes.nodeOf.resize(static_cast<std::size_t>(ends));
    for (int32_t k = 0; k < ends; ++k) {
        if (k == 0 || places[k].x != places[k - 1].x || places[k].y != places[k - 1].y) nodes.first.push_back(k);
        nodes.order[k] = places[k].end;
        nodes.nodeOf[places[k].end] = static_cast<int32_t>(nodes.first.size() - 1);
    }
    nodes.first.push_back(ends);
    return nodes;
}

// A free end waiting for a partner: where it is, which way it points
// (unit vector, zero when unknown), how thick the ink is there.
struct FreeEnd {
    int32_t end;
    Point at;
    Point aim;
    double radius;
    int64_t bucket;
};

// Gap buckets: wide enough for the longest bridge, and a row of buckets
// spans more than any image's width.
constexpr double kGapCell = kGapWidth + 2.0 * kMaxGapRadius;
constexpr int64_t kBucketRow = int64_t{1} << 32;
// Untraced ink beyond a break is looked for this far (pixels): a stroke's
// end of up to about twice its width; a longer piece has squares enough to
// be traced.
constexpr double kUntracedPiece = 4.0 * kMaxInkRadius;
constexpr int32_t kEndCell = 16;

bool bridgeable(const FreeEnd& a, const FreeEnd& b) {
    const double reach = kGapWidth + std::min(a.radius, kMaxGapRadius) + std::min(b.radius, kMaxGapRadius);
    const double dx = b.at.x - a.at.x, dy = b.at.y - a.at.y;
    if (dx * dx + dy * dy > reach * reach) return false;
    const double gap = std::sqrt(dx * dx + dy * dy);
    if (gap < kTouchingDistance) return -(a.aim.x * b.aim.x + a.aim.y * b.aim.y) >= kTouchingCosine;
    const Point u{(b.at.x - a.at.x) / gap, (b.at.y - a.at.y) / gap};
    const double aimA = a.aim.x * u.x + a.aim.y * u.y;
    const double aimB = -(b.aim.x * u.x + b.aim.y * u.y);
    if (gap <= kNeighbourDistance) return aimA >= kNeighbourCosine && aimB >= kNeighbourCosine;
    return aimA >= kAimCosine && aimB >= kAimCosine;
}

// Two ends that point at each other further apart than bridgeable allows,
// because the trace stops short of where thick ink ends, are joined when
// the way between them crosses no more paper than a break.
bool bridgeableOverInk(const PackedBitmap& bitmap, const FreeEnd& a, const FreeEnd& b) {
    // Each aim within kAimCosine of the way between, compared squared: most
    // pairs are passed over before a root is taken.
    const double dx = b.at.x - a.at.x, dy = b.at.y - a.at.y;
    const double squared = dx * dx + dy * dy;
    const double aimA = a.aim.x * dx + a.aim.y * dy, aimB = -(b.aim.x * dx + b.aim.y * dy);
    const double least = kAimCosine * kAimCosine * squared;
    if (aimA <= 0.0 || aimB <= 0.0 || aimA * aimA < least || aimB * aimB < least) return false;
    const double gap = std::sqrt(squared);
    if (gap < kTouchingDistance) return false;
    const Point u{dx / gap, dy / gap};
    // Both ends on the image, so is every point between: a pixel is found
    // by cutting off the fraction.
    const auto onImage = [&](const Point& p) {
        return p.x >= 0.0 && p.y >= 0.0 && p.x < bitmap.Width() && p.y < bitmap.Height();
    };
    if (!onImage(a.at) || !onImage(b.at)) return false;
    double paper = 0.0;
    for (double t = kBridgeStep / 2; t < gap; t += kBridgeStep) {
        const int32_t x = std::min(static_cast<int32_t>(a.at.x + t * u.x), bitmap.Width() - 1);
        const int32_t y = std::min(static_cast<int32_t>(a.at.y + t * u.y), bitmap.Height() - 1);
        if (!bitmap.IsInk(x, y)) paper += kBridgeStep;
        if (paper > kBreakAlongBridge) return false;
    }
    return true;
}

// The state of the join: which polylines are still there, how many live
// ends each node has, and the partner of each end.
struct Joiner {
    Polylines& lines;
    const PackedBitmap& bitmap;
    Nodes nodes;
    std::vector<uint8_t> removed;   // per polyline
    std::vector<int32_t> degree;    // per node: live ends
    std::vector<int32_t> partner;   // per end
    std::vector<double> lengths;    // per polyline
    std::vector<FreeEnd> measured;  // free ends measured so far
    std::vector<int32_t> known;     // per end: its entry in measured, or kNone
    std::vector<uint8_t> movedEnd;  // per end: moved on by extendFreeEnds, or freed of a fork
    std::vector<int32_t> endCellFirst;  // see anyEndNear
    std::vector<int32_t> endCellEnds;

    Joiner(Polylines& l, const PackedBitmap& b) : lines(l), bitmap(b), nodes(findNodes(l)) {
        removed.assign(static_cast<std::size_t>(lines.count()), 0);
        partner.assign(static_cast<std::size_t>(2 * lines.count()), kNone);
        known.assign(static_cast<std::size_t>(2 * lines.count()), kNone);
        movedEnd.assign(static_cast<std::size_t>(2 * lines.count()), 0);
        lengths.resize(static_cast<std::size_t>(lines.count()));
        for (int32_t i = 0; i < lines.count(); ++i) lengths[i] = polylineLength(lines, i);
        degree.assign(nodes.first.size() - 1, 0);
        for (int32_t end = 0; end < 2 * lines.count(); ++end) {
            if (!removed[end / 2]) ++degree[nodes.nodeOf[end]];
        }
    }

    int32_t otherEnd(int32_t end) const { return end ^ 1; }
    bool isFree(int32_t end) const { return degree[nodes.nodeOf[end]] == 1; }
    bool isJunction(int32_t end) const { return degree[nodes.nodeOf[end]] >= 3; }

    void remove(int32_t polyline) {
        removed[polyline] = 1;
        --degree[nodes.nodeOf[2 * polyline]];
        --degree[nodes.nodeOf[2 * polyline + 1]];
    }

    // A spur hangs off a junction: a chain of polylines (through the
    // partners found so far) whose far end is free and which is no longer
    // than the ink is thick there. If every line at the junction looks like
    // a spur (a small blob), the two longest stay as one line. Where two
    // lines are left, they continue each other.
    void removeSpurs() {
        struct Spur {
            int32_t end;  // at the junction
            double length;
        };
        std::vector<Spur> spurs;
        const auto nodeCount = static_cast<int32_t>(degree.size());
        for (int32_t v = 0; v < nodeCount; ++v) {
            // As for the free ends in bridgeGaps: the ink of a junction a
            // few nodes on is fetched meanwhile.
            const int32_t ahead = v + static_cast<int32_t>(kFetchAhead);
            if (ahead < nodeCount && degree[ahead] >= 3) {
                prefetchAround(bitmap, lines.endPoint(nodes.order[nodes.first[ahead]]));
            }
            if (degree[v] < 3) continue;
            const Point& at = lines.endPoint(nodes.order[nodes.first[v]]);
            const double radius = inkRadius(bitmap, at);
            if (2.0 * radius >= kThickInk && removeEndFork(v, radius)) continue;
            const double limit = kSpurSlack + kSpurFactor * radius;
            spurs.clear();
            for (int32_t k = nodes.first[v]; k < nodes.first[v + 1]; ++k) {
                const int32_t end = nodes.order[k];
                if (removed[end / 2]) continue;
                const double length = spurLength(end, limit);
                if (length <= limit) spurs.push_back({end, length});
            }
            std::sort(spurs.begin(), spurs.end(), [](const Spur& a, const Spur& b) { return a.length < b.length; });
            const std::size_t keep = spurs.size() == static_cast<std::size_t>(degree[v]) ? 2 : 0;
            for (std::size_t k = 0; k + keep < spurs.size(); ++k) removeChain(spurs[k].end);
            if (degree[v] == 2) pairAt(v);
        }
    }

    // At node v, the end of a thick stroke whose squares fork towards the
    // corners of a flat end (see kForkFactor): the branches, short chains
    // that end free or come back to v as a small loop, are removed, so the
    // stroke ends free at v and can be moved on and bridged across a break.
    // True when it did so.
    // `radius`: the ink's half width at v.
    bool removeEndFork(int32_t v, double radius) {
        // First with the limit of the thickest ink measured, to find the
        // one long line; then with the limit of the ink across it.
        constexpr double kMostBranch = kSpurSlack + kForkFactor * kMaxInkRadius;
        int32_t stroke = kNone;
        double longestBranch = 0.0;
        for (int32_t k = nodes.first[v]; k < nodes.first[v + 1]; ++k) {
            const int32_t end = nodes.order[k];
            if (removed[end / 2]) continue;
            // A loop runs to both corners and back: it counts half.
            const double length = spurLength(end, 2.0 * kMostBranch, v);
            const double branch = isLoop(end, v) ? length / 2.0 : length;
            if (branch <= kMostBranch) {
                longestBranch = std::max(longestBranch, branch);
            } else if (stroke != kNone) {
                return false;
            } else {
                stroke = end;
            }
        }
        if (stroke == kNone) return false;
        // The stroke's direction into v, and its half width a little before
        // v: at v other lines' ink may widen it.
        const double reach = std::max(kDirectionLength, 2.0 * radius);
        const Point aim = direction(stroke, reach);
        if (aim.x == 0.0 && aim.y == 0.0) return false;
        const Point& tip = lines.endPoint(stroke);
        const double back = std::min(reach, lengths[stroke / 2]) / 2;
        const Point at{tip.x - back * aim.x, tip.y - back * aim.y};
        const double across = (inkExtent(bitmap, at, {-aim.y, aim.x}) + inkExtent(bitmap, at, {aim.y, -aim.x})) / 2;
        if (across < kForkHalfWidth || longestBranch > kSpurSlack + kForkFactor * across) return false;
        // The branches end on the stroke's own ink ahead of v, where it
        // ends: a short stroke that crosses there leaves it.
        const double ahead = inkExtent(bitmap, tip, aim, kMostBranch) + 0.5;
        for (int32_t k = nodes.first[v]; k < nodes.first[v + 1]; ++k) {
            const int32_t end = nodes.order[k];
            if (end == stroke || removed[end / 2]) continue;
            const Point& far = lines.endPoint(chainEnd(end));
            const double along = (far.x - tip.x) * aim.x + (far.y - tip.y) * aim.y;
            const double aside = std::abs((far.x - tip.x) * aim.y - (far.y - tip.y) * aim.x);
            if (along < -1.0 || along > ahead || aside > across + 0.5) return false;
        }
        for (int32_t k = nodes.first[v]; k < nodes.first[v + 1]; ++k) {
            const int32_t end = nodes.order[k];
            if (end != stroke && !removed[end / 2]) removeChain(end);
        }
        // A free end that the first bridging has not weighed.
        movedEnd[stroke] = 1;
        return true;
    }

    // The far end of the chain that starts with `end`.
    int32_t chainEnd(int32_t end) const {
        for (int32_t steps = 0; steps < lines.count(); ++steps) {
            const int32_t next = partner[end ^ 1];
            if (next == kNone) break;
            end = next;
        }
        return end ^ 1;
    }

    // True when the chain that starts with `end` at node v comes back to v.
    bool isLoop(int32_t end, int32_t v) const { return nodes.nodeOf[chainEnd(end)] == v; }

    // The length of the chain that starts with `end`, if it ends free
    // within `limit` (or, given `home`, comes back to node `home` within
    // it); more than `limit` otherwise.
    double spurLength(int32_t end, double limit, int32_t home = kNone) const {
        double length = 0.0;
        for (int32_t steps = 0; steps < lines.count(); ++steps) {
            const int32_t far = end ^ 1;
            length += lengths[end / 2];
            if (length > limit) break;
            const int32_t next = partner[far];
            if (next == kNone) return isFree(far) || nodes.nodeOf[far] == home ? length : limit + 1.0;
            length += distance(lines.endPoint(far), lines.endPoint(next));
            end = next;
        }
        return limit + 1.0;
    }

    void removeChain(int32_t end) {
        while (end != kNone && !removed[end / 2]) {
            remove(end / 2);
            const int32_t next = partner[end ^ 1];
            partner[end] = partner[end ^ 1] = kNone;
            if (next != kNone) partner[next] = kNone;
            end = next;
        }
    }

    // Pairs the two live ends at node v.
    void pairAt(int32_t v) {
        int32_t found[2] = {kNone, kNone};
        int32_t n = 0;
        for (int32_t k = nodes.first[v]; k < nodes.first[v + 1] && n < 2; ++k) {
            if (!removed[nodes.order[k] / 2]) found[n++] = nodes.order[k];
        }
        partner[found[0]] = found[1];
        partner[found[1]] = found[0];
    }

    // Where exactly two live ends meet, each continues the other.
    void pairMeetingEnds() {
        const auto nodeCount = static_cast<int32_t>(degree.size());
        for (int32_t v = 0; v < nodeCount; ++v) {
            if (degree[v] == 2) pairAt(v);
        }
    }

    // The outward direction of a free end, over kDirectionLength or the
    // ink's thickness, whichever is longer (unit vector; zero if unknown).
    Point direction(int32_t end, double reach) const {
        const int32_t i = end / 2;
        const Point& tip = lines.endPoint(end);
        const std::size_t count = lines.size(i);
        Point from = tip;
        for (std::size_t k = 1; k < count; ++k) {
            from = lines.points[end % 2 == 0 ? lines.begin[i] + k : lines.begin[i + 1] - 1 - k];
            if (distance(from, tip) >= reach) break;
        }
        const double d = distance(from, tip);
        if (d < 1e-9) return {};
        return {(tip.x - from.x) / d, (tip.y - from.y) / d};
    }

    // A free end on thick ink stops short of where the stroke ends: the
    // squares fill it from its edges. It is moved on along its direction
    // to the ink's end less the ink's half width, which is where a stroke
    // drawn with a round pen ends, and where a break in it begins.
    void extendFreeEnds() {
        for (int32_t end = 0; end < 2 * lines.count(); ++end) {
            if (removed[end / 2] || partner[end] != kNone || !isFree(end)) continue;
            if (trimEndHook(end)) known[end] = kNone;
            const FreeEnd& info = freeEnd(end);
            // Ink two pixels wide or less has its trace on the pixel centres.
            if (info.radius <= 1.0 || (info.aim.x == 0.0 && info.aim.y == 0.0)) continue;
            const Point aim = info.aim;
            Point& tip = lines.points[end % 2 == 0 ? lines.begin[end / 2] : lines.begin[end / 2 + 1] - 1];
            const double across =
                (inkExtent(bitmap, tip, {-aim.y, aim.x}) + inkExtent(bitmap, tip, {aim.y, -aim.x})) / 2;
            const double toEnd = inkExtent(bitmap, tip, aim);
            double reach = toEnd - across;
            if (2.0 * across < kThickInk || across >= kMaxInkRadius) continue;
            if (toEnd < kMaxInkRadius) {
                const double further = untracedInkBeyond(tip, aim, toEnd, across);
                if (further > 0.0) reach = further - across;
            }
            if (!(reach > 0.0)) continue;
            const Point moved{tip.x + reach * aim.x, tip.y + reach * aim.y};
            if (!std::isfinite(moved.x) || !std::isfinite(moved.y)) continue;
            tip = moved;
            known[end] = kNone;  // to be measured again where it is now
            movedEnd[end] = 1;
        }
    }

    // At a flat end of thick ink the trace may turn off to one of the end's
    // corners rather than fork to both. Such a hook, no longer than a fork's
    // branch, is cut off where it turns away (its points are moved there),
    // so the end points along the stroke again. True when it did so.
    bool trimEndHook(int32_t end) {
        const int32_t i = end / 2;
        const std::size_t count = lines.size(i);
        const auto point = [&](std::size_t k) -> Point& {
            return lines.points[end % 2 == 0 ? lines.begin[i] + k : lines.begin[i + 1] - 1 - k];
        };
        constexpr double kMostHook = kSpurSlack + kForkFactor * kMaxInkRadius;
        double hook = 0.0;
        for (std::size_t k = 1; k + 1 < count; ++k) {
            hook += distance(point(k - 1), point(k));
            if (hook > kMostHook) return false;
            // The stroke's direction up to point k, over kDirectionLength.
            const Point& bend = point(k);
            std::size_t j = k + 1;
            while (j + 1 < count && distance(point(j), bend) < kDirectionLength) ++j;
            const double before = distance(point(j), bend);
            if (before < kDirectionLength) return false;
            const Point u{(bend.x - point(j).x) / before, (bend.y - point(j).y) / before};
            const Point& tip = point(0);
            const double off = distance(bend, tip);
            if ((tip.x - bend.x) * u.x + (tip.y - bend.y) * u.y >= kHookCosine * off) continue;
            // Thin ink is passed over on two pixels before it is measured.
            const auto isInk = [&](double x, double y) {
                const int32_t px = pixelOf(x), py = pixelOf(y);
                return px >= 0 && py >= 0 && px < bitmap.Width() && py < bitmap.Height() && bitmap.IsInk(px, py);
            };
            const double h = kForkHalfWidth - 0.5;
            if (!isInk(bend.x - h * u.y, bend.y + h * u.x) || !isInk(bend.x + h * u.y, bend.y - h * u.x)) continue;
            const double across = (inkExtent(bitmap, bend, {-u.y, u.x}) + inkExtent(bitmap, bend, {u.y, -u.x})) / 2;
            if (across < kForkHalfWidth || hook > kSpurSlack + kForkFactor * across) continue;
            // The tip must lie on the stroke's own ink, where it ends: a
            // short stroke that turns away leaves it.
            const double along = (tip.x - bend.x) * u.x + (tip.y - bend.y) * u.y;
            const double aside = std::abs((tip.x - bend.x) * u.y - (tip.y - bend.y) * u.x);
            if (aside < across / 2 || aside > across + 0.5) continue;
            if (along > inkExtent(bitmap, bend, u, kMostHook) + 0.5) continue;
            // A tip in the middle of the ink is the round end of a curve.
            if (inkRadius(bitmap, tip) > kCornerInk) continue;
            for (std::size_t h = 0; h < k; ++h) point(h) = bend;
            lengths[i] -= hook;
            return true;
        }
        return false;
    }

    // The trace leaves out a piece of thick ink that one square covers,
    // such as the end of a stroke beyond a break. Where the ink along `aim`
    // from `tip` ends `toEnd` on, and after a break goes on with a piece
    // that no polyline ends in, the distance from `tip` to that piece's
    // far end; zero otherwise.
    double untracedInkBeyond(const Point& tip, const Point& aim, double toEnd, double across) {
        const auto isInk = [&](double t) {
            const int32_t x = pixelOf(tip.x + t * aim.x), y = pixelOf(tip.y + t * aim.y);
            return x >= 0 && y >= 0 && x < bitmap.Width() && y < bitmap.Height() && bitmap.IsInk(x, y);
        };
        double t = toEnd + kRayStep;
        while (t <= toEnd + kBreakAlongBridge && !isInk(t)) t += kRayStep;
        if (!isInk(t)) return 0.0;
        const Point start{tip.x + t * aim.x, tip.y + t * aim.y};
        const double length = inkExtent(bitmap, start, aim, kUntracedPiece);
        if (length >= kUntracedPiece || length <= across) return 0.0;
        // As wide as the stroke: not a stroke across its way.
        const Point middle{start.x + length / 2 * aim.x, start.y + length / 2 * aim.y};
        const double side = across + kCornerInk;
        if (inkExtent(bitmap, middle, {-aim.y, aim.x}) > side || inkExtent(bitmap, middle, {aim.y, -aim.x}) > side) {
            return 0.0;
        }
        return anyEndNear(middle, length / 2 + across) ? 0.0 : t + length;
    }

    // True when a polyline that is still there ends within `radius` of p.
    // The ends are put in cells of kEndCell pixels square on the first call
    // (ends off the image in the cells at its edge).
    bool anyEndNear(const Point& p, double radius) {
        const int32_t across = bitmap.Width() / kEndCell + 1, down = bitmap.Height() / kEndCell + 1;
        const auto cellOf = [](double v, int32_t cells) {
            return std::clamp(pixelOf(v / kEndCell), int32_t{0}, cells - 1);
        };
        const auto cellAt = [&](const Point& at) {
            return static_cast<std::size_t>(cellOf(at.y, down)) * across + cellOf(at.x, across);
        };
        if (endCellFirst.empty()) {
            endCellFirst.assign(static_cast<std::size_t>(across) * down + 1, 0);
            for (int32_t end = 0; end < 2 * lines.count(); ++end) {
                if (!removed[end / 2]) ++endCellFirst[cellAt(lines.endPoint(end)) + 1];
            }
            std::partial_sum(endCellFirst.begin(), endCellFirst.end(), endCellFirst.begin());
            endCellEnds.resize(static_cast<std::size_t>(endCellFirst.back()));
            std::vector<int32_t> filled(endCellFirst.begin(), endCellFirst.end() - 1);
            for (int32_t end = 0; end < 2 * lines.count(); ++end) {
                if (!removed[end / 2]) endCellEnds[filled[cellAt(lines.endPoint(end))]++] = end;
            }
        }
        for (int32_t cy = cellOf(p.y - radius, down); cy <= cellOf(p.y + radius, down); ++cy) {
            for (int32_t cx = cellOf(p.x - radius, across); cx <= cellOf(p.x + radius, across); ++cx) {
                const std::size_t cell = static_cast<std::size_t>(cy) * across + cx;
                for (int32_t k = endCellFirst[cell]; k < endCellFirst[cell + 1]; ++k) {
                    const int32_t end = endCellEnds[k];
                    if (!removed[end / 2] && distance(lines.endPoint(end), p) <= radius) return true;
                }
            }
        }
        return false;
    }

    // What bridging needs to know of a free end, measured once.
    const FreeEnd& freeEnd(int32_t end) {
        if (known[end] == kNone) {
            const Point& at = lines.endPoint(end);
            const double radius = inkRadius(bitmap, at);
            known[end] = static_cast<int32_t>(measured.size());
            measured.push_back({end, at, direction(end, std::max(kDirectionLength, 2.0 * radius)), radius, 0});
        }
        return measured[known[end]];
    }

    // Free ends that lie within a gap and point at each other, nearest
    // pairs first.
    // With `movedOnly`, only pairs with an end moved by extendFreeEnds are
    // new: the others were weighed before.
    void bridgeGaps(bool movedOnly = false) {
        std::vector<int32_t> ends;
        for (int32_t end = 0; end < 2 * lines.count(); ++end) {
            if (removed[end / 2] || partner[end] != kNone || !isFree(end)) continue;
            ends.push_back(end);
        }
        // Measuring an end reads the bitmap around it, and the ends lie far
        // apart in it: the rows of an end a few places on are fetched while
        // this one is measured.
        std::vector<FreeEnd> free;
        free.reserve(ends.size());
        for (std::size_t k = 0; k < ends.size(); ++k) {
            if (k + kFetchAhead < ends.size() && known[ends[k + kFetchAhead]] == kNone) {
                prefetchAround(bitmap, lines.endPoint(ends[k + kFetchAhead]));
            }
            free.push_back(freeEnd(ends[k]));
        }
        if (free.size() < 2) return;

        // Buckets of kGapCell pixels square: both ends of a bridgeable pair
        // lie in the same or in neighbouring buckets.
        const auto cellOf = [](double v) { return static_cast<int64_t>(pixelOf(v / kGapCell)); };
        for (FreeEnd& e : free) e.bucket = cellOf(e.at.y) * kBucketRow + cellOf(e.at.x);
        std::sort(free.begin(), free.end(), [](const FreeEnd& a, const FreeEnd& b) { return a.bucket < b.bucket; });
        struct Pair {
            double gap;
            int32_t a;
            int32_t b;
        };
        std::vector<Pair> pairs;
        // Buckets are sorted row by row, so the ends after a that can pair
        // with it lie in its own bucket, the next one, and three buckets of
        // the next row; the rows before were searched from there.
        // Most ends met in the buckets lie further apart than any bridge
        // reaches; they are passed over before the full test.
        constexpr double kLongestBridge = kGapWidth + 2.0 * kMaxGapRadius;
        const auto near = [&](std::size_t a, std::size_t b) {
            const double dx = free[b].at.x - free[a].at.x, dy = free[b].at.y - free[a].at.y;
            return dx * dx + dy * dy <= kLongestBridge * kLongestBridge;
        };
        const auto consider = [&](std::size_t a, std::size_t b) {
            if (movedOnly && !movedEnd[free[a].end] && !movedEnd[free[b].end]) return;
            if (bridgeable(free[a], free[b]) || bridgeableOverInk(bitmap, free[a], free[b]))
                pairs.push_back({distance(free[a].at, free[b].at), free[a].end, free[b].end});
        };
        for (std::size_t a = 0; a < free.size(); ++a) {
            const int64_t bucket = free[a].bucket;
            std::size_t b = a + 1;
            for (; b < free.size() && free[b].bucket <= bucket + 1; ++b) {
                if (near(a, b)) consider(a, b);
            }
            b = static_cast<std::size_t>(
                std::lower_bound(free.begin() + static_cast<std::ptrdiff_t>(b), free.end(), bucket + kBucketRow - 1,
                                 [](const FreeEnd& e, int64_t key) { return e.bucket < key; }) -
                free.begin());
            for (; b < free.size() && free[b].bucket <= bucket + kBucketRow + 1; ++b) {
                if (near(a, b)) consider(a, b);
            }
        }
        std::sort(pairs.begin(), pairs.end(), [](const Pair& p, const Pair& q) { return p.gap < q.gap; });
        for (const Pair& pair : pairs) {
            if (partner[pair.a] != kNone || partner[pair.b] != kNone) continue;
            // The two ends of one polyline close a ring only around a real
            // loop, not across a short hook.
            if (pair.a / 2 == pair.b / 2 && lengths[pair.a / 2] < 4.0 * pair.gap + 4.0) continue;
            partner[pair.a] = pair.b;
            partner[pair.b] = pair.a;
        }
    }
};

// Keeps the vertices that hold the chain within kVertexTolerance of its
// original course; chain[from] and chain[to] stay.
void simplify(const std::vector<Point>& chain, std::vector<uint8_t>& keep) {
    keep.assign(chain.size(), 0);
    if (chain.empty()) return;
    keep.front() = keep.back() = 1;
    std::vector<std::pair<std::size_t, std::size_t>> spans{{0, chain.size() - 1}};
    while (!spans.empty()) {
        const auto [from, to] = spans.back();
        spans.pop_back();
        double worst = kVertexTolerance;
        // Points clearly within `worst` skip the root; the margin is far
        // wider than its rounding, so the same vertex wins.
        double clearlyWithin = worst * worst * (1.0 - 1e-9);
        std::size_t at = 0;
        for (std::size_t k = from + 1; k < to; ++k) {
            const double squared = segmentDistanceSquared(chain[k], chain[from], chain[to]);
            if (squared <= clearlyWithin) continue;
            const double e = std::sqrt(squared);
            if (e > worst) worst = e, at = k, clearlyWithin = worst * worst * (1.0 - 1e-9);
        }
        if (at == 0) continue;
        keep[at] = 1;
        spans.push_back({from, at});
        spans.push_back({at, to});
    }
}

// Moves the points of a chain across thick ink to the middle between its
// edges. Squares fill a thick stroke from its edges, so on a curve their
// centres drift to the inside; measured across the line, the ink says where
// the middle is. The chain is first given a point every kRecentreStep.
// Points stay where they are on thin ink (the trace is exact there), where
// the ink reaches much further on one side (a junction, a corner, a blob)
// and at the chain's ends.
void recentre(const PackedBitmap& bitmap, std::vector<Point>& chain, std::vector<Point>& dense,
              std::vector<uint8_t>& movable, const std::vector<Point>& junctions) {
    // Ink less than kThickInk across at a point: both probes that far
    // apart across the line cannot be ink.
    const auto isThickAt = [&](const Point& p, const Point& n) {
        const double h = kThickInk / 2;
        const double x0 = std::floor(p.x + h * n.x), y0 = std::floor(p.y + h * n.y);
        const double x1 = std::floor(p.x - h * n.x), y1 = std::floor(p.y - h * n.y);
        const auto inside = [&](double x, double y) {
            return x >= 0 && y >= 0 && x < bitmap.Width() && y < bitmap.Height();
        };
        return inside(x0, y0) && inside(x1, y1) && bitmap.IsInk(static_cast<int32_t>(x0), static_cast<int32_t>(y0)) &&
               bitmap.IsInk(static_cast<int32_t>(x1), static_cast<int32_t>(y1));
    };
    dense.clear();
    movable.clear();
    bool anyThick = false;
    for (std::size_t k = 0; k + 1 < chain.size(); ++k) {
        const double d = distance(chain[k], chain[k + 1]);
        // Thin ink keeps its segments whole: nothing there to move.
        const Point middle{(chain[k].x + chain[k + 1].x) / 2, (chain[k].y + chain[k + 1].y) / 2};
        const Point normal =
            d > 0.0 ? Point{-(chain[k + 1].y - chain[k].y) / d, (chain[k + 1].x - chain[k].x) / d} : Point{};
        bool thick = d > 0.0 && isThickAt(middle, normal);
        // A segment already in the middle of its ink (most straight strokes)
        // is left whole.
        if (thick) {
            const double a = inkExtent(bitmap, middle, normal, kRecentreReach);
            const double b = inkExtent(bitmap, middle, {-normal.x, -normal.y}, kRecentreReach);
            thick = std::abs(a - b) > kCentred;
        }
        anyThick = anyThick || thick;
        // A segment of a trace lies on the image; the bound only keeps a
        // damaged file's count of steps in range.
        const double longest = static_cast<double>(bitmap.Width()) + bitmap.Height();
        const int steps = thick ? std::max(1, static_cast<int>(std::min(d, longest) / kRecentreStep)) : 1;
        // Both ends of an off-centre segment may move, and the points
        // inserted along it.
        if (thick && !movable.empty()) movable.back() = 1;
        dense.push_back(chain[k]);
        movable.push_back(thick);
        for (int s = 1; s < steps; ++s) {
            const double t = static_cast<double>(s) / steps;
            dense.push_back(
                {chain[k].x + (chain[k + 1].x - chain[k].x) * t, chain[k].y + (chain[k + 1].y - chain[k].y) * t});
            movable.push_back(1);
        }
    }
    if (!anyThick) return;
    dense.push_back(chain.back());
    movable.push_back(0);
    chain = dense;
    for (std::size_t k = 1; k + 1 < dense.size(); ++k) {
        if (!movable[k]) continue;
        const double d = distance(dense[k - 1], dense[k + 1]);
        if (d < 1e-9) continue;
        const Point n{-(dense[k + 1].y - dense[k - 1].y) / d, (dense[k + 1].x - dense[k - 1].x) / d};
        if (!isThickAt(dense[k], n)) continue;
        const double a = inkExtent(bitmap, dense[k], n, kRecentreReach);
        if (a >= kRecentreReach) continue;  // a blob, not a stroke
        const double b = inkExtent(bitmap, dense[k], {-n.x, -n.y}, kRecentreReach);
        if (b >= kRecentreReach) continue;
        if (a + b < kThickInk || std::max(a, b) > kMaxImbalance * std::min(a, b) + 1.0) continue;
        // Near a junction the other lines' ink is measured too.
        bool nearJunction = false;
        for (const Point& j : junctions) nearJunction = nearJunction || distance(j, dense[k]) < a + b + 1.0;
        if (nearJunction) continue;
        const double shift = (a - b) / 2;
        chain[k] = {dense[k].x + shift * n.x, dense[k].y + shift * n.y};
    }
}

// Where thick ink turns a corner, the trace cuts across it with one or two
// short segments. When the segments before and after are at least twice as
// long and their lines meet on the ink near the cut, the cut is replaced by
// that corner.
void sharpenCorners(const PackedBitmap& bitmap, std::vector<Point>& line) {
    std::size_t i = 1;
    while (i + 2 < line.size()) {
        bool sharpened = false;
        for (std::size_t j = i + 1; j <= i + 2 && j + 1 < line.size() && !sharpened; ++j) {
            const Point& a = line[i - 1];
            const Point& b = line[i];
            const Point& c = line[j];
            const Point& d = line[j + 1];
            const double cut = distance(b, c);
            const double before = distance(a, b), after = distance(c, d);
            if (before < 2.0 * cut || after < 2.0 * cut || cut < 1e-9) continue;
            // The lines a-b and c-d; their crossing x = b + t (b - a).
            const Point u{(b.x - a.x) / before, (b.y - a.y) / before};
            const Point v{(d.x - c.x) / after, (d.y - c.y) / after};
            const double sine = u.x * v.y - u.y * v.x;
            if (std::abs(sine) < kCornerSine) continue;
            const Point middle{(b.x + c.x) / 2, (b.y + c.y) / 2};
            const double radius = inkRadius(bitmap, middle);
            if (radius * 2.0 < kThickInk || cut > kCornerCut * radius + 1.0) continue;
            const double t = ((c.x - b.x) * v.y - (c.y - b.y) * v.x) / sine;
            const Point x{b.x + t * u.x, b.y + t * u.y};
            const double back = (c.x - x.x) * v.x + (c.y - x.y) * v.y;  // x lies before c on c-d
            if (t < 0.0 || back < 0.0 || t > kCornerCut * radius + 1.0 || inkRadius(bitmap, x) <= 0.0) continue;
            line[i] = x;
            line.erase(line.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                       line.begin() + static_cast<std::ptrdiff_t>(j) + 1);
            sharpened = true;
        }
        if (!sharpened) ++i;
    }
}

class ChainWriter {
public:
    ChainWriter(RecordWriter& writer, const PackedBitmap& bitmap, int32_t& polylines, int32_t& vertices)
        : m_writer(writer), m_bitmap(bitmap), m_polylines(polylines), m_vertices(vertices) {}

    // Writes the chain simplified, in pieces of at most kMaxJoinedPoints
    // that share their boundary points.
    // `junctions`: the chain's ends that lie where three or more lines meet.
    void Write(const std::vector<Point>& chain, const std::vector<Point>& junctions = {}) {
        if (chain.size() < 2) return;
        m_chain = chain;
        recentre(m_bitmap, m_chain, m_dense, m_movable, junctions);
        simplify(m_chain, m_keep);
        m_kept.clear();
        for (std::size_t k = 0; k < m_chain.size(); ++k) {
            if (m_keep[k]) m_kept.push_back(m_chain[k]);
        }
        sharpenCorners(m_bitmap, m_kept);
        for (std::size_t start = 0; start + 1 < m_kept.size();) {
            const std::size_t count = std::min(TVemotrace_join::kMaxJoinedPoints, m_kept.size() - start);
            if (m_vertices > INT32_MAX - static_cast<int32_t>(count)) {
                throw FileError(m_writer.Path(), "more points than the file can count");
            }
            m_writer.PutInt32(static_cast<int32_t>(count));
            for (std::size_t k = start; k < start + count; ++k) {
                m_writer.PutDouble(m_kept[k].x);
                m_writer.PutDouble(m_kept[k].y);
            }
            ++m_polylines;
            m_vertices += static_cast<int32_t>(count);
            start += count - 1;
        }
    }

private:
    RecordWriter& m_writer;
    const PackedBitmap& m_bitmap;
    int32_t& m_polylines;
    int32_t& m_vertices;
    std::vector<uint8_t> m_keep;
    std::vector<Point> m_chain;
    std::vector<Point> m_dense;
    std::vector<uint8_t> m_movable;
    std::vector<Point> m_kept;
};

// Appends polyline i to the chain, entered at `end`, without repeating the
// point where it meets the chain.
void appendPolyline(const Polylines& lines, int32_t end, std::vector<Point>& chain) {
    const int32_t i = end / 2;
    const std::size_t count = lines.size(i);
    for (std::size_t k = 0; k < count; ++k) {
        const Point& p = lines.points[end % 2 == 0 ? lines.begin[i] + k : lines.begin[i + 1] - 1 - k];
        if (k == 0 && !chain.empty() && chain.back() == p) continue;
        chain.push_back(p);
    }
}

// True when the ink under p is a lone speck of at most kSpeckPixels pixels
// (touching at sides or corners), not a piece of a stroke the trace lost.
bool isSpeck(const PackedBitmap& bitmap, const Point& p) {
    const auto isInk = [&](int64_t x, int64_t y) {
        return x >= 0 && y >= 0 && x < bitmap.Width() && y < bitmap.Height() &&
               bitmap.IsInk(static_cast<int32_t>(x), static_cast<int32_t>(y));
    };
    std::vector<std::pair<int64_t, int64_t>> found{{pixelOf(p.x), pixelOf(p.y)}};
    if (!isInk(found[0].first, found[0].second)) return true;
    for (std::size_t k = 0; k < found.size(); ++k) {
        for (int64_t dy = -1; dy <= 1; ++dy) {
            for (int64_t dx = -1; dx <= 1; ++dx) {
                const std::pair<int64_t, int64_t> q{found[k].first + dx, found[k].second + dy};
                if (!isInk(q.first, q.second) || std::find(found.begin(), found.end(), q) != found.end()) continue;
                if (found.size() == kSpeckPixels) return false;
                found.push_back(q);
            }
        }
    }
    return true;
}

double chainLength(const std::vector<Point>& chain) {
    double length = 0.0;
    for (std::size_t k = 1; k < chain.size(); ++k) length += distance(chain[k - 1], chain[k]);
    return length;
}

}  // namespace

PackedBitmap TVemotrace_join::InkFromSquares(const std::string& squaresPath, int32_t squareCount, int32_t width,
                                             int32_t height) {
    PackedBitmap ink(width, height);
    if (squareCount <= 0 || ink.IsEmpty()) return ink;
    RecordReader reader(squaresPath);
    std::vector<uint8_t> chunk;
    for (int32_t done = 0; done < squareCount;) {
        const int32_t count = std::min(squareCount - done, kReadChunkPoints);
        chunk.resize(static_cast<std::size_t>(count) * records::kSquareRecordSize);
        reader.ReadExact(chunk.data(), chunk.size());
        for (int32_t k = 0; k < count; ++k) {
            const uint8_t* record = chunk.data() + static_cast<std::size_t>(k) * records::kSquareRecordSize;
            const int32_t x = records::GetInt32(record + 4);
            const int32_t y = records::GetInt32(record + 8);
            const int32_t size = records::GetInt32(record + 12);
            if (x < 0 || y < 0 || size < 1 || size > width - x || size > height - y) {
                throw FileError(squaresPath, "a square outside the image");
            }
            for (int32_t row = y; row < y + size; ++row) {
                uint64_t* words = ink.Row(row);
                for (int32_t c = x; c < x + size;) {
                    // Whole words at a time where the square spans them.
                    const int32_t bit = c % 64;
                    const int32_t span = std::min(64 - bit, x + size - c);
                    const uint64_t mask = (span == 64 ? ~uint64_t{0} : ((uint64_t{1} << span) - 1)) << bit;
                    words[c / 64] |= mask;
                    c += span;
                }
                ink.MarkInk(row);
            }
        }
        done += count;
    }
    return ink;
}

TVemotrace_join::TVemotrace_join(std::string linesPath, const PackedBitmap& bitmap)
    : m_linesPath(std::move(linesPath)), m_bitmap(bitmap) {}

void TVemotrace_join::JoinLines() {
    Polylines lines = readPolylines(m_linesPath);
    addDiagonalRuns(lines, m_bitmap);
    Joiner joiner(lines, m_bitmap);
    joiner.pairMeetingEnds();
    joiner.bridgeGaps();
    joiner.removeSpurs();
    // Thick free ends reach their gaps only once moved on.
    joiner.extendFreeEnds();
    joiner.bridgeGaps(true);

    m_polylineCount = 0;
    m_vertexCount = 0;
    RecordWriter writer(m_linesPath);
    writer.Open();
    ChainWriter out(writer, m_bitmap, m_polylineCount, m_vertexCount);
    std::vector<uint8_t> visited(static_cast<std::size_t>(lines.count()), 0);
    std::vector<Point> chain, junctions;
    // Follows partners from `end`, the first end of the chain; returns the
    // chain's last end.
    const auto follow = [&](int32_t end) {
        chain.clear();
        int32_t last = end;
        while (end != kNone && !visited[end / 2]) {
            visited[end / 2] = 1;
            appendPolyline(lines, end, chain);
            last = end ^ 1;
            end = joiner.partner[last];
        }
        return last;
    };
    // Open chains first, from an end that nothing continues; what is left
    // is rings, which are closed on their first point.
    for (int32_t end = 0; end < 2 * lines.count(); ++end) {
        if (joiner.removed[end / 2] || visited[end / 2] || joiner.partner[end] != kNone) continue;
        const int32_t last = follow(end);
        if (joiner.isFree(end) && joiner.isFree(last) && chainLength(chain) < kSpeckLength &&
            isSpeck(m_bitmap, chain.front())) {
            continue;
        }
        junctions.clear();
        if (joiner.isJunction(end)) junctions.push_back(lines.endPoint(end));
        if (joiner.isJunction(last)) junctions.push_back(lines.endPoint(last));
        out.Write(chain, junctions);
    }
    for (int32_t i = 0; i < lines.count(); ++i) {
        if (joiner.removed[i] || visited[i]) continue;
        follow(2 * i);
        if (!(chain.back() == chain.front())) chain.push_back(chain.front());
        out.Write(chain);
    }
    writer.Close();
}
