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
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <future>
#include <numeric>
#include <span>
#include <thread>
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
// The chain's course at a point is taken over this much of it (pixels)
// either side.
constexpr double kRecentreSpan = 3.0;
constexpr double kThickInk = 3.0;
constexpr double kRayStep = 0.25;
// Strokes up to 24 pixels wide (2 mm at 300 dpi) are re-centred;
// beyond is a blob.
constexpr double kRecentreReach = 12.0;
constexpr double kMaxImbalance = 2.0;
// A point is as far across as the stroke usually is when it measures at
// most kWidthSlack times that (plus a pixel); it is moved however far off
// the middle it lies.
constexpr double kWidthSlack = 1.2;
// Edges this close to equally far on both sides (pixels) mean the middle.
constexpr double kCentred = 0.5;
// A corner cut is at most kCornerCutSegments segments and kCornerCut times
// the ink's half width (plus a pixel) long, over the sine of half the
// corner's angle (at least kSharpestHalfSine), and so is the way from the
// cut to the restored corner; the lines must meet at more than kCornerSine
// (the sine of 30 degrees). The legs before and after are at least
// kCornerLegs times as long as the cut, kEndCornerLegs where a leg ends
// the line.
constexpr double kCornerCut = 2.0;
constexpr double kCornerSine = 0.5;
constexpr std::size_t kCornerCutSegments = 4;
constexpr double kCornerLegs = 1.0;
constexpr double kEndCornerLegs = 2.0;
constexpr double kSharpestHalfSine = 0.25;
// With legs shorter than twice the cut the corner lies at least this many
// half widths off the cut.
constexpr double kShortLegCornerOff = 0.5;
// A tip line left in a sharp thick corner is at most kTipFactor times the
// ink's half width at its knot plus kTipSlack pixels long, and the corner
// restored lies within kTipReach half widths (plus a pixel) of its end.
constexpr double kTipFactor = 3.0;
constexpr double kTipSlack = 2.0;
constexpr double kTipReach = 1.5;
// The legs of such a corner meet at less than 100 degrees (cosine), and the
// tip line runs within 30 degrees of the middle between them.
constexpr double kTipCornerCosine = -0.17;
constexpr double kTipAimCosine = 0.866;
// A free end's last step of at most kNoiseHookLength pixels that turns
// aside by more than 60 degrees (cosine kNoiseHookCosine) is a hook on to
// edge noise.
constexpr double kNoiseHookLength = 1.5;
constexpr double kNoiseHookCosine = 0.5;
// Two free ends on thin ink within kNeighbourDistance of each other and
// with no other free end within kLoneDistance meet at a corner.
constexpr double kLoneDistance = 3.0;
// Ink counts as thin up to this half width: three pixels across at most.
constexpr double kThinRadius = 2.0;

// Junctions on ink this wide (pixels, measured at the junction) or wider
// are moved; on thinner ink the trace's junction is within a pixel anyway,
// and only knots (on ink kThickInk wide or more) are undone.
constexpr double kKnotInk = 5.0;
// A junction's short link (a knot) is at most kKnotLink times the ink's
// half width there (plus a pixel) long. An arm's straight part strays at
// most kArmStraightness pixels from its line, and the arms' lines must
// spread at least kMinSpread (the smallest eigenvalue of the sum of their
// normals' outer products: 1 - cos of the angle for two lines).
constexpr double kKnotLink = 2.0;
constexpr double kArmStraightness = 1.0;
constexpr double kMinSpread = 0.1;

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

// distance(a, b) < limit (limit > 0) as the root tells it, mostly without
// the root: a square clearly on one side of limit squared decides alone,
// the margin being far wider than the rounding of either.
bool closerThan(const Point& a, const Point& b, double limit) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double squared = dx * dx + dy * dy, bound = limit * limit;
    if (squared < bound * (1.0 - 1e-9)) return true;
    if (squared > bound * (1.0 + 1e-9)) return false;
    return std::sqrt(squared) < limit;
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
    // Point k of polyline end / 2, counted from its end `end` (0: that end).
    const Point& fromEnd(int32_t end, std::size_t k) const {
        return points[end % 2 == 0 ? begin[end / 2] + k : begin[end / 2 + 1] - 1 - k];
    }
    Point& fromEnd(int32_t end, std::size_t k) {
        return points[end % 2 == 0 ? begin[end / 2] + k : begin[end / 2 + 1] - 1 - k];
    }
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

// A file's bytes through a buffer of its own, handed out in place: one
// read for many records rather than one or two for each.
class BufferedBytes {
public:
    static constexpr std::size_t kSize = std::size_t{1} << 17;

    explicit BufferedBytes(RecordReader& reader) : m_reader(reader), m_buffer(kSize) {}

    // The next `bytes` bytes (at most kSize), or nullptr when the file
    // holds fewer.
    const uint8_t* take(std::size_t bytes) {
        if (m_end - m_at < bytes) {
            std::memmove(m_buffer.data(), m_buffer.data() + m_at, m_end - m_at);
            m_end -= m_at;
            m_at = 0;
            while (m_end < bytes) {
                const std::size_t got = m_reader.ReadUpTo(m_buffer.data() + m_end, m_buffer.size() - m_end);
                if (got == 0) return nullptr;
                m_end += got;
            }
        }
        const uint8_t* at = m_buffer.data() + m_at;
        m_at += bytes;
        return at;
    }

private:
    RecordReader& m_reader;
    std::vector<uint8_t> m_buffer;
    std::size_t m_at = 0;
    std::size_t m_end = 0;
};

Polylines readPolylines(const std::string& path) {
    Polylines lines;
    RecordReader reader(path);
    // Room for as many points as the file can hold, so the array is not
    // copied as it grows; the diagonal runs may add a few.
    std::error_code error;
    const std::uintmax_t bytes = std::filesystem::file_size(path, error);
    if (!error) lines.points.reserve(static_cast<std::size_t>(bytes / records::kVertexSize));
    BufferedBytes file(reader);
    // A few bytes after the last polyline, too few for a count, are no
    // record.
    while (const uint8_t* head = file.take(sizeof(int32_t))) {
        const int32_t n = records::GetInt32(head);
        if (n < 0) throw FileError(path, "a polyline with a negative point count");
        // In chunks, so a damaged count cannot ask for more memory than
        // the file holds.
        for (int32_t done = 0; done < n;) {
            const int32_t count = std::min(n - done, kReadChunkPoints);
            const uint8_t* record = file.take(static_cast<std::size_t>(count) * records::kVertexSize);
            if (record == nullptr) throw FileError(path, "the file ends early");
            for (int32_t k = 0; k < count; ++k) {
                const uint8_t* at = record + static_cast<std::size_t>(k) * records::kVertexSize;
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

// The point at `length` pixels along polyline `end / 2` from `end`, and the
// index (counted from `end`) of the vertex at or before it.
Point pointAlong(const Polylines& lines, int32_t end, double length, std::size_t& vertex) {
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

// True when p lies on an ink pixel of the image.
bool isInkAt(const PackedBitmap& bitmap, const Point& p) {
    // On the image a coordinate is not negative, and there the cast cuts
    // the fraction as floor does; the image's size is whole.
    if (!(p.x >= 0.0 && p.y >= 0.0 && p.x < bitmap.Width() && p.y < bitmap.Height())) return false;
    const auto column = static_cast<uint32_t>(p.x);
    return (bitmap.Row(static_cast<int32_t>(p.y))[column / 64] >> (column % 64)) & 1;
}

// Distance from p to the nearest paper pixel centre, or to the image's
// edge, up to kMaxInkRadius: about half the ink's thickness at p.
double inkRadius(const PackedBitmap& bitmap, const Point& p) {
    const int32_t cx = pixelOf(p.x);
    const int32_t cy = pixelOf(p.y);
    if (!isInkAt(bitmap, p)) return 0.0;
    // Row by row outwards: in a row the nearest paper is the paper column
    // nearest cx on either side, and every pixel of row cy +- d lies at
    // least d - 0.5 from p. The nearest is found by its squared distance
    // and rooted once: the root keeps the order.
    constexpr int32_t kSpan = 2 * kMaxInkRadius + 1;
    constexpr uint64_t kWindow = (uint64_t{1} << kSpan) - 1;
    const bool inside = cx >= kMaxInkRadius && cx + kMaxInkRadius < bitmap.Width();
    const auto first = static_cast<uint32_t>(cx - kMaxInkRadius);
    const std::size_t word = first / 64;
    const uint32_t shift = first % 64;
    const bool twoWords = shift + kSpan > 64;
    double bestSquared = double{kMaxInkRadius} * kMaxInkRadius;
    // Rows cy, cy - 1, cy + 1, cy - 2, ...
    for (int32_t k = 0; k < kSpan; ++k) {
        const int32_t d = (k + 1) / 2;
        if (k % 2 == 1 && !((d - 0.5) * (d - 0.5) < bestSquared)) break;
        const int32_t y = k % 2 == 1 ? cy - d : cy + d;
        // Bit k: column cx - kMaxInkRadius + k is paper (off the image is);
        // a row without ink reads as zeros.
        uint64_t paper = kWindow;
        if (y >= 0 && y < bitmap.Height()) {
            const uint64_t* row = bitmap.Row(y);
            if (inside) {
                uint64_t ink = row[word] >> shift;
                if (twoWords) ink |= row[word + 1] << (64 - shift);
                paper = ~ink & kWindow;
            } else {
                for (int32_t c = 0; c < kSpan; ++c) {
                    const int32_t x = cx - kMaxInkRadius + c;
                    if (x >= 0 && x < bitmap.Width() && bitmap.IsInk(x, y)) paper &= ~(uint64_t{1} << c);
                }
            }
        }
        const uint64_t left = paper & ((uint64_t{1} << (kMaxInkRadius + 1)) - 1);
        const uint64_t right = paper >> kMaxInkRadius;
        const double ey = y + 0.5 - p.y;
        if (left != 0) {
            const double ex = cx + (63 - std::countl_zero(left) - kMaxInkRadius) + 0.5 - p.x;
            bestSquared = std::min(bestSquared, ex * ex + ey * ey);
        }
        if (right != 0) {
            const double ex = cx + std::countr_zero(right) + 0.5 - p.x;
            bestSquared = std::min(bestSquared, ex * ex + ey * ey);
        }
    }
    return std::sqrt(bestSquared);
}

// The diagonal runs of one-pixel strokes that the trace leaves out: a
// pixel whose four side neighbours are all paper forms a group of its own
// that touches others only at corners, and such groups are never linked,
// so a stroke near 45 degrees loses those pixels. Each chain of such pixels,
// touching corner to corner, becomes a polyline through the pixel centres
// (a lone pixel is no line); the gap rules then join it to the traced
// pieces it continues.
Polylines diagonalRuns(const PackedBitmap& bitmap) {
    Polylines lines;
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
    return lines;
}

// The distance from p along the unit vector u to the first paper, to a
// quarter of a pixel; `reach` when there is none that near. Probes every
// half pixel, then once more between the last ink and the first paper.
double inkExtent(const PackedBitmap& bitmap, const Point& p, const Point& u, double reach = kMaxInkRadius) {
    const auto isPaper = [&](double t) { return !isInkAt(bitmap, {p.x + t * u.x, p.y + t * u.y}); };
    for (double t = 2 * kRayStep; t < reach; t += 2 * kRayStep) {
        if (isPaper(t)) return isPaper(t - kRayStep) ? t - 1.5 * kRayStep : t - 0.5 * kRayStep;
    }
    return reach;
}

// Calls work(first, last) for blocks of kThreadBlock items of [0, count)
// (the last may be shorter), on this thread and on a second one where the
// machine has another core and a thread can be had. The blocks are handed
// out in turn, so neither thread waits while the other has a slow block.
// `work` may only write what belongs to its block.
constexpr std::size_t kThreadBlock = 256;
template <typename Work>
void inTwoThreads(std::size_t count, const Work& work) {
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

// `cellOf(item)`: its cell, below `cells`, worked out once per item and two
// at a time.
template <typename CellOf>
Cells dealToCells(const std::vector<int32_t>& items, std::size_t cells, const CellOf& cellOf) {
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
    for (std::size_t k = items.size(); k-- > 0;) dealt.items[--dealt.first[cellOfItem[k]]] = items[k];
    return dealt;
}

// Groups the ends that lie on the same point: nodeOf[end] is the node, and
// the ends of node v are order[first[v]] up to order[first[v + 1]].
struct Nodes {
    std::vector<int32_t> nodeOf;
    std::vector<int32_t> order;
    std::vector<int32_t> first;
};

// Columns counted out one by one before sorting; ends further right share
// the last.
constexpr double kMostColumns = 1 << 20;

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
    // Dealt out by pixel column first, then each column sorted: the same
    // order as one sort of all ends (column numbers rise with x), in a
    // fraction of its time.
    double rightmost = 0.0;
    for (int32_t end = 0; end < ends; ++end) rightmost = std::max(rightmost, lines.endPoint(end).x);
    const auto columns = static_cast<std::size_t>(std::min(rightmost, kMostColumns)) + 1;
    std::vector<int32_t> all(static_cast<std::size_t>(ends));
    std::iota(all.begin(), all.end(), 0);
    const Cells byColumn = dealToCells(all, columns, [&](int32_t end) {
        const double x = lines.endPoint(end).x;
        return x < 0.0 ? 0 : static_cast<std::size_t>(std::min(x, static_cast<double>(columns - 1)));
    });
    std::vector<Place> places(static_cast<std::size_t>(ends));
    for (std::size_t k = 0; k < places.size(); ++k) {
        const int32_t end = byColumn.items[k];
        const Point& at = lines.endPoint(end);
        places[k] = {orderKey(at.x), orderKey(at.y), end};
    }
    inTwoThreads(columns, [&](std::size_t first, std::size_t last) {
        for (std::size_t c = first; c < last; ++c) {
            std::sort(places.begin() + byColumn.first[c], places.begin() + byColumn.first[c + 1],
                      [](const Place& p, const Place& q) {
                          return p.x != q.x ? p.x < q.x : p.y != q.y ? p.y < q.y : p.end < q.end;
                      });
        }
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
    int64_t bucket;  // where joinThinCorners sorts it
};

// Cells for bridging, as wide as the longest bridge.
constexpr double kGapCell = kGapWidth + 2.0 * kMaxGapRadius;
// Buckets of thin corners are numbered row by row; a row of them spans
// more than any image's width.
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
    std::vector<double> nodeRadius;  // per node: inkRadius there, measured once (-1: not yet)
    Cells endCells;  // see anyEndNear

    Joiner(Polylines& l, const PackedBitmap& b) : lines(l), bitmap(b), nodes(findNodes(l)) {
        removed.assign(static_cast<std::size_t>(lines.count()), 0);
        partner.assign(static_cast<std::size_t>(2 * lines.count()), kNone);
        known.assign(static_cast<std::size_t>(2 * lines.count()), kNone);
        nodeRadius.assign(nodes.first.size() - 1, -1.0);
        movedEnd.assign(static_cast<std::size_t>(2 * lines.count()), 0);
        // Room for every end at once: growing it would copy what is there.
        measured.reserve(static_cast<std::size_t>(2 * lines.count()));
        lengths.resize(static_cast<std::size_t>(lines.count()));
        inTwoThreads(lengths.size(), [&](std::size_t first, std::size_t last) {
            for (std::size_t i = first; i < last; ++i) lengths[i] = polylineLength(lines, static_cast<int32_t>(i));
        });
        degree.assign(nodes.first.size() - 1, 0);
        for (int32_t end = 0; end < 2 * lines.count(); ++end) {
            if (!removed[end / 2]) ++degree[nodes.nodeOf[end]];
        }
    }

    int32_t otherEnd(int32_t end) const { return end ^ 1; }
    bool isFree(int32_t end) const { return degree[nodes.nodeOf[end]] == 1; }
    bool isJunction(int32_t end) const { return degree[nodes.nodeOf[end]] >= 3; }

    // The ink's half width at node v (inkRadius), measured once: several
    // steps look at the same junctions.
    double radiusAt(int32_t v) {
        if (nodeRadius[v] < 0.0) nodeRadius[v] = inkRadius(bitmap, lines.endPoint(nodes.order[nodes.first[v]]));
        return nodeRadius[v];
    }

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
        // The ink at every junction, which this step and the junctions'
        // straightening need, measured two at a time.
        inTwoThreads(degree.size(), [&](std::size_t first, std::size_t last) {
            for (std::size_t v = first; v < last; ++v) {
                if (degree[v] >= 3) radiusAt(static_cast<int32_t>(v));
            }
        });
        for (int32_t v = 0; v < nodeCount; ++v) {
            if (degree[v] < 3) continue;
            const double radius = radiusAt(v);
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

    // Where thick ink turns a sharp corner, the squares leave a knot inside
    // the corner: the two legs bend into a three-way point short of the
    // corner, and a short third line runs on from there into the tip. When
    // the legs' straight courses meet near the end of that tip line, the
    // tip line goes and the legs are led straight on to where they meet.
    void restoreTips() {
        const auto nodeCount = static_cast<int32_t>(degree.size());
        for (int32_t v = 0; v < nodeCount; ++v) {
            if (degree[v] != 3) continue;
            int32_t ends[3];
            int32_t n = 0;
            for (int32_t k = nodes.first[v]; k < nodes.first[v + 1] && n < 3; ++k) {
                if (!removed[nodes.order[k] / 2]) ends[n++] = nodes.order[k];
            }
            if (n != 3) continue;
            // Most junctions have no short line with a free end: they are
            // passed over before the ink is read.
            const auto isTipLine = [&](int32_t end, double radius) {
                return lengths[end / 2] <= kTipFactor * radius + kTipSlack && partner[end] == kNone &&
                       partner[end ^ 1] == kNone && isFree(end ^ 1);
            };
            if (!isTipLine(ends[0], kMaxInkRadius) && !isTipLine(ends[1], kMaxInkRadius) &&
                !isTipLine(ends[2], kMaxInkRadius)) {
                continue;
            }
            const double radius = radiusAt(v);
            if (2.0 * radius < kThickInk) continue;
            for (int t = 0; t < 3; ++t) {
                const int32_t tip = ends[t];
                const double tipLength = lengths[tip / 2];
                if (!isTipLine(tip, radius)) continue;
                if (leadLegsToTip(ends[(t + 1) % 3], ends[(t + 2) % 3], lines.endPoint(tip ^ 1), tipLength, radius)) {
                    remove(tip / 2);
                    pairAt(v);
                    break;
                }
            }
        }
    }

    // The legs ending at `a` and `b` are straight beyond the knot; where
    // their lines cross must lie on the ink near the tip line's far end.
    // If so, each leg's points within the knot are laid on the straight way
    // to the crossing, which both legs then end on.
    bool leadLegsToTip(int32_t a, int32_t b, const Point& tipEnd, double tipLength, double radius) {
        const double knot = tipLength + radius;  // how far the legs bend
        // The legs' courses are taken over 2 half widths past the knot, or
        // as much of that as a short leg (the sides of an A) has.
        const double reach = knot + std::max(2.0 * radius, kDirectionLength);
        const double reachA = std::min(reach, lengths[a / 2]), reachB = std::min(reach, lengths[b / 2]);
        if (reachA < knot + kDirectionLength || reachB < knot + kDirectionLength) return false;
        std::size_t vertex = 0;
        const Point a0 = pointAlong(lines, a, knot, vertex), a1 = pointAlong(lines, a, reachA, vertex);
        const Point b0 = pointAlong(lines, b, knot, vertex), b1 = pointAlong(lines, b, reachB, vertex);
        const Point u{a0.x - a1.x, a0.y - a1.y}, w{b0.x - b1.x, b0.y - b1.y};
        const double lu = std::hypot(u.x, u.y), lw = std::hypot(w.x, w.y);
        if (lu < 1e-9 || lw < 1e-9) return false;
        const double sine = (u.x * w.y - u.y * w.x) / (lu * lw);
        if (std::abs(sine) < kCornerSine) return false;
        // Only a sharp corner leaves a tip line, and it runs into the corner
        // between the legs.
        if ((u.x * w.x + u.y * w.y) / (lu * lw) < kTipCornerCosine) return false;
        const Point middle{u.x / lu + w.x / lw, u.y / lu + w.y / lw};
        const Point& knotAt = lines.endPoint(a);
        const double tipWay = distance(knotAt, tipEnd), middleLength = std::hypot(middle.x, middle.y);
        if (tipWay < 1e-9 || middleLength < 1e-9 ||
            ((tipEnd.x - knotAt.x) * middle.x + (tipEnd.y - knotAt.y) * middle.y) / (tipWay * middleLength) <
                kTipAimCosine) {
            return false;
        }
        // a0 + s u = b0 + r w
        const double s = ((b0.x - a0.x) * w.y - (b0.y - a0.y) * w.x) / (u.x * w.y - u.y * w.x);
        const double r = ((b0.x - a0.x) * u.y - (b0.y - a0.y) * u.x) / (u.x * w.y - u.y * w.x);
        if (s <= 0.0 || r <= 0.0) return false;
        const Point x{a0.x + s * u.x, a0.y + s * u.y};
        if (!std::isfinite(x.x) || !std::isfinite(x.y) || distance(x, tipEnd) > kTipReach * radius + 1.0 ||
            inkRadius(bitmap, x) <= 0.0) {
            return false;
        }
        layStraight(a, knot, a0, x);
        layStraight(b, knot, b0, x);
        return true;
    }

    // Moves the points of polyline end/2 that lie within `knot` of `end`
    // on to the way from `from` (at `knot`) to `to` (the new end), in order.
    void layStraight(int32_t end, double knot, const Point& from, const Point& to) {
        const int32_t i = end / 2;
        const std::size_t count = lines.size(i);
        const auto point = [&](std::size_t k) -> Point& {
            return lines.fromEnd(end, k);
        };
        double walked = 0.0;
        Point previous = point(0);
        point(0) = to;
        for (std::size_t k = 1; k < count; ++k) {
            walked += distance(previous, point(k));
            if (walked >= knot) break;
            previous = point(k);
            const double f = walked / knot;
            point(k) = {to.x + (from.x - to.x) * f, to.y + (from.y - to.y) * f};
        }
        lengths[i] = polylineLength(lines, i);
    }

    // A pixel of edge noise beside a thin stroke can be where the trace
    // ends it: the polyline's last step turns aside on to the bump, and the
    // free end then points away from the piece that continues the stroke.
    // Free ends still without a partner are laid back from such a hook on
    // to the point before it, to be weighed for a gap once more (as moved
    // ends); restoreHooks gives the hook back to an end that found no
    // partner there (the one-pixel steps of a clean thin stroke look the
    // same).
    struct Hook {
        int32_t end;
        Point was;
    };
    std::vector<Hook> layBackHooks() {
        std::vector<Hook> hooks;
        for (int32_t end = 0; end < 2 * lines.count(); ++end) {
            const int32_t i = end / 2;
            if (removed[i] || lines.size(i) < 3 || partner[end] != kNone || !isFree(end)) continue;
            Point& p = lines.fromEnd(end, 0);
            const Point& q = lines.fromEnd(end, 1);
            const Point& r = lines.fromEnd(end, 2);
            const double hook = distance(p, q), leg = distance(q, r);
            if (hook > kNoiseHookLength || hook < 1e-9 || leg < 1e-9) continue;
            const double turn = ((p.x - q.x) * (q.x - r.x) + (p.y - q.y) * (q.y - r.y)) / (hook * leg);
            if (turn > kNoiseHookCosine || inkRadius(bitmap, q) > 1.0) continue;
            hooks.push_back({end, p});
            p = q;
            known[end] = kNone;
            movedEnd[end] = 1;
        }
        return hooks;
    }

    void restoreHooks(const std::vector<Hook>& hooks) {
        for (const Hook& h : hooks) {
            if (partner[h.end] == kNone) {
                lines.fromEnd(h.end, 0) = h.was;
                known[h.end] = kNone;
            } else {
                lengths[h.end / 2] = polylineLength(lines, h.end / 2);
            }
        }
    }

    // A thin stroke that turns a sharp corner is often cut there: the two
    // legs end on pixels that touch, pointing apart, or on either side of a
    // scrap of line left at the tip. Two free ends close together on thin
    // ink, with no third free end near, are such a corner whichever way
    // they point; so are a scrap with both ends free and the two other free
    // ends near it, which the scrap then links.
    void joinThinCorners() {
        const auto cellOf = [](double v) { return static_cast<int64_t>(pixelOf(v / kLoneDistance)); };
        // Sorted by bucket through small stand-ins, which take the places
        // the ends themselves would.
        std::vector<std::pair<int64_t, int32_t>> byBucket;
        for (int32_t end = 0; end < 2 * lines.count(); ++end) {
            if (removed[end / 2] || partner[end] != kNone || !isFree(end)) continue;
            const FreeEnd& e = freeEnd(end);
            if (e.radius > kThinRadius) continue;
            byBucket.push_back({cellOf(e.at.y) * kBucketRow + cellOf(e.at.x), end});
        }
        std::sort(byBucket.begin(), byBucket.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<FreeEnd> free(byBucket.size());
        for (std::size_t k = 0; k < byBucket.size(); ++k) {
            free[k] = measured[known[byBucket[k].second]];
            free[k].bucket = byBucket[k].first;
        }
        // The free ends within kLoneDistance of free[a], other than itself.
        // For the ends in their order (`inOrder`) the three rows of buckets
        // around free[a] begin at or after from[0..2], which only grow;
        // other ends are looked up.
        std::vector<std::size_t> near;
        std::size_t from[3] = {0, 0, 0};
        const auto findNear = [&](std::size_t a, bool inOrder) {
            near.clear();
            for (int row = 0; row < 3; ++row) {
                const int64_t key = free[a].bucket + (row - 1) * kBucketRow - 1;
                std::size_t b = 0;
                if (inOrder) {
                    while (from[row] < free.size() && free[from[row]].bucket < key) ++from[row];
                    b = from[row];
                } else {
                    b = static_cast<std::size_t>(
                        std::lower_bound(free.begin(), free.end(), key,
                                         [](const FreeEnd& e, int64_t k) { return e.bucket < k; }) -
                        free.begin());
                }
                for (; b < free.size() && free[b].bucket <= key + 2; ++b) {
                    const double dx = free[b].at.x - free[a].at.x, dy = free[b].at.y - free[a].at.y;
                    if (b != a && dx * dx + dy * dy <= kLoneDistance * kLoneDistance) near.push_back(b);
                }
            }
        };
        const auto link = [&](int32_t ea, int32_t eb) {
            partner[ea] = eb;
            partner[eb] = ea;
        };
        const auto open = [&](std::size_t k) { return partner[free[k].end] == kNone; };
        // free[a] is the first end of a scrap; `near` holds the ends near it.
        std::vector<std::size_t> others;
        const auto linkScrap = [&](std::size_t a) {
            const int32_t ea = free[a].end;
            others.clear();
            std::size_t scrapEnd = a;
            for (std::size_t k : near) {
                if (free[k].end == (ea ^ 1)) {
                    scrapEnd = k;
                } else {
                    others.push_back(k);
                }
            }
            if (scrapEnd == a || !open(scrapEnd)) return;
            findNear(scrapEnd, false);
            for (std::size_t k : near) {
                if (k != a && std::find(others.begin(), others.end(), k) == others.end()) others.push_back(k);
            }
            if (others.size() != 2 || !open(others[0]) || !open(others[1]) ||
                free[others[0]].end / 2 == free[others[1]].end / 2) {
                return;
            }
            const FreeEnd& p = free[others[0]];
            const FreeEnd& q = free[others[1]];
            const bool straight = distance(p.at, free[a].at) + distance(q.at, free[scrapEnd].at) <=
                                  distance(p.at, free[scrapEnd].at) + distance(q.at, free[a].at);
            link(p.end, straight ? ea : ea ^ 1);
            link(q.end, straight ? ea ^ 1 : ea);
        };
        for (std::size_t a = 0; a < free.size(); ++a) {
            if (!open(a)) continue;
            findNear(a, true);
            const int32_t ea = free[a].end;
            if (ea % 2 == 0 && lengths[ea / 2] <= kLoneDistance) {
                linkScrap(a);
                continue;
            }
            if (near.size() != 1) continue;
            const std::size_t b = near[0];
            const int32_t eb = free[b].end;
            if (!open(b) || ea / 2 == eb / 2 || distance(free[a].at, free[b].at) > kNeighbourDistance) continue;
            findNear(b, false);
            if (near.size() == 1) link(ea, eb);
        }
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
            from = lines.fromEnd(end, k);
            if (!closerThan(from, tip, reach)) break;
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
        const int32_t ends = 2 * lines.count();
        const auto isOpen = [&](int32_t end) { return !removed[end / 2] && partner[end] == kNone && isFree(end); };
        // The hooked ends are found first, two at a time, on the lines as
        // they are. A hook lies in its own polyline, which only the
        // polyline's other end changes here: once that end has been cut or
        // moved, this one is looked at again in its turn.
        std::vector<uint8_t> hooked(static_cast<std::size_t>(ends), 0);
        inTwoThreads(hooked.size(), [&](std::size_t first, std::size_t last) {
            for (std::size_t k = first; k < last; ++k) {
                const auto end = static_cast<int32_t>(k);
                hooked[k] = isOpen(end) && trimEndHook(end, false);
            }
        });
        std::vector<uint8_t> changed(static_cast<std::size_t>(lines.count()), 0);
        for (int32_t end = 0; end < ends; ++end) {
            if (!isOpen(end)) continue;
            if ((hooked[end] || changed[end / 2]) && trimEndHook(end)) {
                known[end] = kNone;
                changed[end / 2] = 1;
            }
            const FreeEnd& info = freeEnd(end);
            // Ink two pixels wide or less has its trace on the pixel centres.
            if (info.radius <= 1.0 || (info.aim.x == 0.0 && info.aim.y == 0.0)) continue;
            const Point aim = info.aim;
            Point& tip = lines.fromEnd(end, 0);
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
            changed[end / 2] = 1;
        }
    }

    // At a flat end of thick ink the trace may turn off to one of the end's
    // corners rather than fork to both. Such a hook, no longer than a fork's
    // branch, is cut off where it turns away (its points are moved there),
    // so the end points along the stroke again. True when it did so.
    // With `trim` false it only tells whether it would, and changes nothing.
    bool trimEndHook(int32_t end, bool trim = true) {
        const int32_t i = end / 2;
        const std::size_t count = lines.size(i);
        const auto point = [&](std::size_t k) -> Point& {
            return lines.fromEnd(end, k);
        };
        constexpr double kMostHook = kSpurSlack + kForkFactor * kMaxInkRadius;
        double hook = 0.0;
        for (std::size_t k = 1; k + 1 < count; ++k) {
            hook += distance(point(k - 1), point(k));
            if (hook > kMostHook) return false;
            // The stroke's direction up to point k, over kDirectionLength.
            const Point& bend = point(k);
            std::size_t j = k + 1;
            while (j + 1 < count && closerThan(point(j), bend, kDirectionLength)) ++j;
            const double before = distance(point(j), bend);
            if (before < kDirectionLength) return false;
            const Point u{(bend.x - point(j).x) / before, (bend.y - point(j).y) / before};
            const Point& tip = point(0);
            const double off = distance(bend, tip);
            if ((tip.x - bend.x) * u.x + (tip.y - bend.y) * u.y >= kHookCosine * off) continue;
            // Thin ink is passed over on two pixels before it is measured.
            const double h = kForkHalfWidth - 0.5;
            if (!isInkAt(bitmap, {bend.x - h * u.y, bend.y + h * u.x}) ||
                !isInkAt(bitmap, {bend.x + h * u.y, bend.y - h * u.x})) {
                continue;
            }
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
            if (trim) {
                for (std::size_t h = 0; h < k; ++h) point(h) = bend;
                lengths[i] -= hook;
            }
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
        const auto isInk = [&](double t) { return isInkAt(bitmap, {tip.x + t * aim.x, tip.y + t * aim.y}); };
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
        if (endCells.first.empty()) {
            std::vector<int32_t> live;
            for (int32_t end = 0; end < 2 * lines.count(); ++end) {
                if (!removed[end / 2]) live.push_back(end);
            }
            endCells = dealToCells(live, static_cast<std::size_t>(across) * down,
                                   [&](int32_t end) { return cellAt(lines.endPoint(end)); });
        }
        for (int32_t cy = cellOf(p.y - radius, down); cy <= cellOf(p.y + radius, down); ++cy) {
            for (int32_t cx = cellOf(p.x - radius, across); cx <= cellOf(p.x + radius, across); ++cx) {
                const std::size_t cell = static_cast<std::size_t>(cy) * across + cx;
                for (int32_t k = endCells.first[cell]; k < endCells.first[cell + 1]; ++k) {
                    const int32_t end = endCells.items[k];
                    if (!removed[end / 2] && distance(lines.endPoint(end), p) <= radius) return true;
                }
            }
        }
        return false;
    }

    // What bridging needs to know of a free end, measured once.
    FreeEnd measure(int32_t end) const {
        const Point& at = lines.endPoint(end);
        const double radius = inkRadius(bitmap, at);
        return {end, at, direction(end, std::max(kDirectionLength, 2.0 * radius)), radius, 0};
    }

    const FreeEnd& freeEnd(int32_t end) {
        if (known[end] == kNone) {
            known[end] = static_cast<int32_t>(measured.size());
            measured.push_back(measure(end));
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
        if (ends.size() < 2) return;

        // Cells of kGapCell pixels square, the ends counted out to them row
        // by row: both ends of a bridgeable pair lie in the same or in
        // neighbouring cells. Ends off the image (a damaged file) count to
        // the nearest cell on it.
        const int32_t across = static_cast<int32_t>(bitmap.Width() / kGapCell) + 1;
        const int32_t down = static_cast<int32_t>(bitmap.Height() / kGapCell) + 1;
        const auto cellAt = [&](const Point& p) {
            const auto cellOf = [](double v, int32_t cells) { return std::clamp(pixelOf(v / kGapCell), 0, cells - 1); };
            return static_cast<std::size_t>(cellOf(p.y, down)) * across + cellOf(p.x, across);
        };
        const std::size_t cells = static_cast<std::size_t>(across) * down;
        const Cells inCells = dealToCells(ends, cells, [&](int32_t end) { return cellAt(lines.endPoint(end)); });
        // The ends not measured yet are measured in the cells' order, where
        // ends near each other read the same rows of the bitmap, two at a
        // time.
        std::vector<int32_t> unknown;
        for (const int32_t end : inCells.items) {
            if (known[end] == kNone) unknown.push_back(end);
        }
        const std::size_t before = measured.size();
        measured.resize(before + unknown.size());
        inTwoThreads(unknown.size(), [&](std::size_t first, std::size_t last) {
            for (std::size_t k = first; k < last; ++k) measured[before + k] = measure(unknown[k]);
        });
        for (std::size_t k = 0; k < unknown.size(); ++k) known[unknown[k]] = static_cast<int32_t>(before + k);
        std::vector<const FreeEnd*> byCell(inCells.items.size());
        for (std::size_t k = 0; k < byCell.size(); ++k) byCell[k] = &measured[known[inCells.items[k]]];
        struct Pair {
            double gap;
            int32_t a;
            int32_t b;
        };
        // Most ends met in the cells lie further apart than any bridge
        // reaches; they are passed over before the full test. A pair is
        // weighed from its lower end and the pairs are sorted on all they
        // hold, so neither the cells' order nor the threads matter.
        constexpr double kLongestBridge = kGapWidth + 2.0 * kMaxGapRadius;
        const auto consider = [&](const FreeEnd& a, const FreeEnd& b, std::vector<Pair>& found) {
            const double dx = b.at.x - a.at.x, dy = b.at.y - a.at.y;
            const double squared = dx * dx + dy * dy;
            if (squared > kLongestBridge * kLongestBridge) return;
            if (movedOnly && !movedEnd[a.end] && !movedEnd[b.end]) return;
            // Only thick ink stops short of where it ends. Two thin ends
            // bridge no more than a gap and their half widths, as
            // bridgeable tells first: most pairs met are passed over here.
            const bool thick = 2.0 * std::max(a.radius, b.radius) >= kThickInk;
            const double thinReach = kGapWidth + a.radius + b.radius;
            if (!thick && squared > thinReach * thinReach) return;
            if (bridgeable(a, b) || (thick && bridgeableOverInk(bitmap, a, b))) {
                found.push_back({distance(a.at, b.at), a.end, b.end});
            }
        };
        // Weighed from the lower end.
        const auto weigh = [&](const FreeEnd& a, const FreeEnd& b, std::vector<Pair>& found) {
            if (a.end < b.end) {
                consider(a, b, found);
            } else {
                consider(b, a, found);
            }
        };
        // The ends after a that can pair with it lie in its own cell, the
        // next one, and three cells of the next row; the cells before were
        // searched from there. With `movedOnly` the pairs are searched from
        // the moved ends only, in all nine cells around, a pair of two moved
        // ends from its lower one.
        std::vector<std::vector<Pair>> found((cells + kThreadBlock - 1) / kThreadBlock);
        const auto rowLength = static_cast<std::size_t>(across);
        const auto firstIn = [&](std::size_t cell) { return static_cast<std::size_t>(inCells.first[cell]); };
        inTwoThreads(cells, [&](std::size_t firstCell, std::size_t lastCell) {
            std::vector<Pair>& mine = found[firstCell / kThreadBlock];
            for (std::size_t cell = firstCell; cell < lastCell; ++cell) {
                const std::size_t x = cell % rowLength;
                const std::size_t left = x > 0 ? 1 : 0, right = x + 1 < rowLength ? 2 : 1;
                for (std::size_t a = firstIn(cell); a < firstIn(cell + 1); ++a) {
                    const FreeEnd& end = *byCell[a];
                    if (!movedOnly) {
                        for (std::size_t b = a + 1; b < firstIn(cell + right); ++b) weigh(end, *byCell[b], mine);
                        if (cell + rowLength < cells) {
                            const std::size_t below = cell + rowLength;
                            for (std::size_t b = firstIn(below - left); b < firstIn(below + right); ++b) {
                                weigh(end, *byCell[b], mine);
                            }
                        }
                        continue;
                    }
                    if (!movedEnd[end.end]) continue;
                    const std::size_t row = cell - x;
                    for (std::size_t at = row < rowLength ? row : row - rowLength; at <= row + rowLength && at < cells;
                         at += rowLength) {
                        for (std::size_t b = firstIn(at + x - left); b < firstIn(at + x + right); ++b) {
                            const FreeEnd& other = *byCell[b];
                            if (b == a || (movedEnd[other.end] && other.end < end.end)) continue;
                            weigh(end, other, mine);
                        }
                    }
                }
            }
        });
        std::vector<Pair> pairs;
        for (const std::vector<Pair>& block : found) pairs.insert(pairs.end(), block.begin(), block.end());
        // Each half sorted on a core of its own, then the two merged.
        const auto nearer = [](const Pair& p, const Pair& q) {
            return p.gap != q.gap ? p.gap < q.gap : p.a != q.a ? p.a < q.a : p.b < q.b;
        };
        const auto half = pairs.begin() + static_cast<std::ptrdiff_t>(pairs.size() / 2);
        auto firstHalf = std::async(std::launch::async | std::launch::deferred,
                                    [&] { std::sort(pairs.begin(), half, nearer); });
        std::sort(half, pairs.end(), nearer);
        firstHalf.get();
        std::inplace_merge(pairs.begin(), half, pairs.end(), nearer);
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

// Where thick strokes cross or meet, the squares that cover the ink place
// the junction off the strokes' centre lines, often as two three-way points
// with a short link between them (a knot), and the arms bend towards it for
// about a stroke width. Each junction on thick ink, with the junctions its
// short links reach, is moved to the point nearest to the straight
// continuations of its arms (least squares), the links go, and each arm
// runs straight from there to where it leaves the junction's ink.
//
// One arm, seen from the junction: polyline end `end` and how far its
// straight part begins (`cut`, pixels along it).
struct Arm {
    int32_t end;
    double cut;
    double half;              // half the stroke's width
    std::size_t firstSample;  // its samples (see sampleArm) among the group's
    std::size_t sampleCount;
};

// The points of polyline `end / 2` every pixel along it from `end`:
// samples[s] lies s pixels along, up to `reach` or the polyline's far end.
void sampleArm(const Polylines& lines, int32_t end, double reach, std::vector<Point>& samples) {
    const int32_t i = end / 2;
    const std::size_t count = lines.size(i);
    const auto at = [&](std::size_t k) -> const Point& {
        return lines.fromEnd(end, k);
    };
    samples.push_back(at(0));
    double done = 0.0;  // how far along at(k) lies
    double next = 1.0;
    for (std::size_t k = 0; k + 1 < count && next <= reach; ++k) {
        const double step = distance(at(k), at(k + 1));
        for (; next <= done + step && next <= reach; next += 1.0) {
            const double t = (next - done) / step;
            samples.push_back({at(k).x + (at(k + 1).x - at(k).x) * t, at(k).y + (at(k + 1).y - at(k).y) * t});
        }
        done += step;
    }
}

// The ink's width across the arm at samples[at], each side measured up to
// `reach` (and one side only when it reaches that far).
double widthAcross(const PackedBitmap& bitmap, std::span<const Point> samples, std::size_t at,
                   double reach = kRecentreReach) {
    const Point& before = samples[at > 0 ? at - 1 : 0];
    const Point& after = samples[std::min(at + 1, samples.size() - 1)];
    const double d = distance(before, after);
    if (!(d > 0.0)) return 0.0;
    const Point n{-(after.y - before.y) / d, (after.x - before.x) / d};
    const double a = inkExtent(bitmap, samples[at], n, reach);
    if (a >= reach) return a;  // as wide as asked about already
    return a + inkExtent(bitmap, samples[at], {-n.x, -n.y}, reach);
}

// The line through the arm's samples from `from` to `to` pixels along it: a
// point on it and its unit direction. False when the samples stray more
// than kArmStraightness from it (a curve or a corner).
bool fitArm(std::span<const Point> samples, double from, double to, Point& centre, Point& along) {
    const auto first = static_cast<std::size_t>(std::ceil(from));
    const std::size_t last = std::min(static_cast<std::size_t>(to), samples.size() - 1);
    if (last < first + 2) return false;
    const auto count = static_cast<double>(last - first + 1);
    Point mean{};
    for (std::size_t k = first; k <= last; ++k) mean.x += samples[k].x, mean.y += samples[k].y;
    mean.x /= count;
    mean.y /= count;
    double xx = 0.0, xy = 0.0, yy = 0.0;
    for (std::size_t k = first; k <= last; ++k) {
        const double dx = samples[k].x - mean.x, dy = samples[k].y - mean.y;
        xx += dx * dx, xy += dx * dy, yy += dy * dy;
    }
    const double angle = 0.5 * std::atan2(2.0 * xy, xx - yy);
    const Point u{std::cos(angle), std::sin(angle)};
    for (std::size_t k = first; k <= last; ++k) {
        if (std::abs((samples[k].x - mean.x) * u.y - (samples[k].y - mean.y) * u.x) > kArmStraightness) return false;
    }
    centre = mean;
    along = u;
    return true;
}

// Whether arm `arm` may run straight from `centre` to its cut: the
// straight piece lies on the ink, and the course it replaces lies within
// the stroke's half width (and a pixel) of it.
bool straightArmFits(const Polylines& lines, const PackedBitmap& bitmap, const Arm& arm,
                     std::span<const Point> samples, const Point& centre) {
    std::size_t vertex = 0;
    const Point cut = pointAlong(lines, arm.end, arm.cut, vertex);
    const double length = distance(centre, cut);
    for (double s = 0.5; s < length; s += 1.0) {
        const double t = s / length;
        if (!isInkAt(bitmap, {centre.x + (cut.x - centre.x) * t, centre.y + (cut.y - centre.y) * t})) return false;
    }
    const double tolerance = arm.half + 1.0;
    for (std::size_t s = 0; s < samples.size() && static_cast<double>(s) < arm.cut; ++s) {
        if (segmentDistance(samples[s], centre, cut) > tolerance) return false;
    }
    return true;
}

// How one group of junctions is straightened: the arms and, when the
// group moves, the point they meet at.
struct JunctionPlan {
    std::vector<Arm> arms;
    bool moves = false;
    Point centre;
};

// The arms of a group: every end at its nodes but the links' and the
// removed polylines'.
void findArms(const Joiner& joiner, std::span<const std::pair<int32_t, int32_t>> members,
              const std::vector<int32_t>& links, std::vector<Arm>& arms) {
    const Nodes& nodes = joiner.nodes;
    arms.clear();
    for (const auto& [root, v] : members) {
        for (int32_t e = nodes.first[v]; e < nodes.first[v + 1]; ++e) {
            const int32_t end = nodes.order[e];
            if (!joiner.removed[end / 2] && !std::binary_search(links.begin(), links.end(), end / 2)) {
                arms.push_back({end, 0.0, 0.0, 0, 0});
            }
        }
    }
}

// Plans the group, whose arms `plan` holds, on the lines as they are:
// every arm's fit is read from its polyline and the bitmap, nothing is
// changed. The nodes' radii were measured when the groups were found.
void planJunction(const Joiner& joiner, std::span<const std::pair<int32_t, int32_t>> members, JunctionPlan& plan,
                  std::vector<Point>& samples) {
    const Polylines& lines = joiner.lines;
    const PackedBitmap& bitmap = joiner.bitmap;
    const Nodes& nodes = joiner.nodes;
    plan.moves = false;
    samples.clear();
    Point old{};
    double reach = 0.0;
    for (const auto& [root, v] : members) {
        const Point& at = lines.endPoint(nodes.order[nodes.first[v]]);
        old.x += at.x, old.y += at.y;
        reach = std::max(reach, joiner.nodeRadius[v]);
    }
    old.x /= static_cast<double>(members.size());
    old.y /= static_cast<double>(members.size());
    // Least squares: the point p that minimises the sum of squared
    // distances to the arms' lines solves A p = b.
    double axx = 0.0, axy = 0.0, ayy = 0.0, bx = 0.0, by = 0.0;
    int fitted = 0;
    for (Arm& arm : plan.arms) {
        const double length = joiner.lengths[arm.end / 2];
        // The other lines' ink widens the arm's near the junction; its
        // straight part begins half a stroke width past where the ink
        // is again as wide as further out.
        const double probe = std::min(0.5 * length, 3.0 * reach + 2.0);
        arm.firstSample = samples.size();
        sampleArm(lines, arm.end, probe + 1.0, samples);
        arm.sampleCount = samples.size() - arm.firstSample;
        std::span<const Point> mine(samples.data() + arm.firstSample, arm.sampleCount);
        const auto probeAt = std::min(static_cast<std::size_t>(probe), mine.size() - 1);
        const double width = widthAcross(bitmap, mine, probeAt);
        // Looked for two pixels at a time, then a pixel back; neither
        // side needs measuring further than the whole width.
        const auto isClear = [&](std::size_t at) {
            return widthAcross(bitmap, mine, at, width + 2.0) <= width + 1.0;
        };
        double clear = static_cast<double>(probeAt);
        for (std::size_t at = 2; at < probeAt; at += 2) {
            if (isClear(at)) {
                clear = static_cast<double>(isClear(at - 1) ? at - 1 : at);
                break;
            }
        }
        const double half = width / 2;
        const double from = clear + half + 1.0;
        // A long stretch evens out the trace's steps; where the arm
        // curves, a shorter one may still be straight.
        const double to = from + std::max(4.0, 6.0 * half);
        const double shortTo = from + std::max(4.0, 3.0 * half);
        arm.cut = std::min(from, 0.5 * length);
        arm.half = half;
        samples.resize(arm.firstSample);
        sampleArm(lines, arm.end, std::max(probe + 1.0, to), samples);
        arm.sampleCount = samples.size() - arm.firstSample;
        mine = {samples.data() + arm.firstSample, arm.sampleCount};
        if (length < from + std::max(3.0, 2.0 * half)) continue;
        Point c, u;
        if (!fitArm(mine, from, std::min(to, length - 1.0), c, u) &&
            (shortTo >= std::min(to, length - 1.0) || !fitArm(mine, from, std::min(shortTo, length - 1.0), c, u))) {
            continue;
        }
        const double nx = -u.y, ny = u.x;
        axx += nx * nx, axy += nx * ny, ayy += ny * ny;
        const double along = nx * c.x + ny * c.y;
        bx += nx * along, by += ny * along;
        ++fitted;
    }
    if (fitted < 2) return;
    const double det = axx * ayy - axy * axy;
    const double trace = axx + ayy;
    const double smallest = (trace - std::sqrt(std::max(0.0, trace * trace - 4.0 * det))) / 2;
    if (smallest < kMinSpread) return;
    const Point centre{(ayy * bx - axy * by) / det, (axx * by - axy * bx) / det};
    if (!std::isfinite(centre.x) || !std::isfinite(centre.y) || distance(centre, old) > 2.0 * reach ||
        inkRadius(bitmap, centre) <= 0.0) {
        return;
    }
    // The straight arms must keep to the ink and to the course they
    // replace; a junction of curves or of many lines close together
    // stays as it is.
    for (const Arm& arm : plan.arms) {
        const std::span<const Point> mine(samples.data() + arm.firstSample, arm.sampleCount);
        if (!straightArmFits(lines, bitmap, arm, mine, centre)) return;
    }
    plan.moves = true;
    plan.centre = centre;
}

// Moves the group's junction to the plan's centre and lays its arms
// straight on to it; its links go and its nodes become the first one.
void straighten(Joiner& joiner, const JunctionPlan& plan, std::span<const std::pair<int32_t, int32_t>> members,
                const std::vector<std::pair<int32_t, int32_t>>& linksByGroup) {
    Polylines& lines = joiner.lines;
    Nodes& nodes = joiner.nodes;
    const Point centre = plan.centre;
    for (const Arm& arm : plan.arms) {
        const int32_t i = arm.end / 2;
        const auto at = [&](std::size_t k) -> Point& { return lines.fromEnd(arm.end, k); };
        std::size_t vertex = 0;
        const Point cut = pointAlong(lines, arm.end, arm.cut, vertex);
        if (vertex > 0) {
            at(vertex) = cut;
            const double dx = cut.x - centre.x, dy = cut.y - centre.y;
            const double squared = dx * dx + dy * dy;
            for (std::size_t k = 1; k < vertex; ++k) {
                Point& p = at(k);
                const double t =
                    squared > 0.0 ? std::clamp(((p.x - centre.x) * dx + (p.y - centre.y) * dy) / squared, 0.0, 1.0)
                                  : 0.0;
                p = {centre.x + t * dx, centre.y + t * dy};
            }
        }
        at(0) = centre;
        joiner.lengths[i] = polylineLength(lines, i);
    }
    const int32_t root = members.front().first;
    for (auto k = std::lower_bound(linksByGroup.begin(), linksByGroup.end(), std::pair{root, int32_t{0}});
         k != linksByGroup.end() && k->first == root; ++k) {
        joiner.remove(k->second);
    }
    const int32_t node = members.front().second;
    for (const auto& [group, v] : members.subspan(1)) {
        for (int32_t e = nodes.first[v]; e < nodes.first[v + 1]; ++e) nodes.nodeOf[nodes.order[e]] = node;
        joiner.degree[node] += joiner.degree[v];
        joiner.degree[v] = 0;
    }
}

// After the other steps: moves junctions on thick ink onto their arms'
// continuations (see Arm). The nodes of a group become one: every end
// there is given the first node's number and the degree is summed; from
// here on only nodeOf and degree tell the nodes.
void straightenJunctions(Joiner& joiner) {
    Polylines& lines = joiner.lines;
    Nodes& nodes = joiner.nodes;
    const auto nodeCount = static_cast<int32_t>(joiner.degree.size());
    std::vector<int32_t> group(static_cast<std::size_t>(nodeCount));
    std::iota(group.begin(), group.end(), 0);
    const auto find = [&](int32_t v) {
        while (group[v] != v) v = group[v] = group[group[v]];
        return v;
    };
    // The junctions on thick ink, and those that a short link joins.
    std::vector<int32_t> members;
    for (int32_t v = 0; v < nodeCount; ++v) {
        if (joiner.degree[v] >= 3 && 2.0 * joiner.radiusAt(v) >= kKnotInk) members.push_back(v);
    }
    // The links by polyline, and then by group: they go only with a
    // junction that finds its place, else the knot would fall apart.
    std::vector<int32_t> links;
    for (int32_t i = 0; i < lines.count(); ++i) {
        if (joiner.removed[i]) continue;
        const int32_t a = nodes.nodeOf[2 * i], b = nodes.nodeOf[2 * i + 1];
        if (joiner.degree[a] < 3 || joiner.degree[b] < 3) continue;
        const double r = std::max(joiner.radiusAt(a), joiner.radiusAt(b));
        if (2.0 * r < kThickInk || joiner.lengths[i] > kKnotLink * r + 1.0) continue;
        links.push_back(i);
        group[find(a)] = find(b);
        members.push_back(a);
        members.push_back(b);
    }
    std::vector<std::pair<int32_t, int32_t>> linksByGroup;
    linksByGroup.reserve(links.size());
    for (const int32_t i : links) linksByGroup.push_back({find(nodes.nodeOf[2 * i]), i});
    std::sort(linksByGroup.begin(), linksByGroup.end());
    std::vector<std::pair<int32_t, int32_t>> byGroup;
    byGroup.reserve(members.size());
    for (const int32_t v : members) byGroup.push_back({find(v), v});
    std::sort(byGroup.begin(), byGroup.end());
    byGroup.erase(std::unique(byGroup.begin(), byGroup.end()), byGroup.end());
    // Group g: byGroup[groupFirst[g]] up to byGroup[groupFirst[g + 1]].
    std::vector<std::size_t> groupFirst;
    for (std::size_t k = 0; k < byGroup.size(); ++k) {
        if (k == 0 || byGroup[k].first != byGroup[k - 1].first) groupFirst.push_back(k);
    }
    groupFirst.push_back(byGroup.size());
    const std::size_t groups = groupFirst.size() - 1;
    const auto membersOf = [&](std::size_t g) {
        return std::span(byGroup.data() + groupFirst[g], groupFirst[g + 1] - groupFirst[g]);
    };

    // Each group's arms are found once: straightening moves arms and
    // removes links, never an arm. A group reads and moves only its arms,
    // so groups that share no arm go their own ways: the groups that do
    // (through a polyline between them) are taken one after another in
    // their order, and such bundles two at a time.
    std::vector<std::size_t> bundle(groups);
    std::iota(bundle.begin(), bundle.end(), std::size_t{0});
    const auto bundleOf = [&](std::size_t g) {
        while (bundle[g] != g) g = bundle[g] = bundle[bundle[g]];
        return g;
    };
    std::vector<JunctionPlan> plans(groups);
    {
        std::vector<std::size_t> armOf(static_cast<std::size_t>(lines.count()), groups);
        for (std::size_t g = 0; g < groups; ++g) {
            findArms(joiner, membersOf(g), links, plans[g].arms);
            for (const Arm& arm : plans[g].arms) {
                std::size_t& seen = armOf[arm.end / 2];
                if (seen == groups) {
                    seen = g;
                } else {
                    bundle[bundleOf(g)] = bundleOf(seen);
                }
            }
        }
    }
    std::vector<std::size_t> byBundle(groups);
    std::iota(byBundle.begin(), byBundle.end(), std::size_t{0});
    std::stable_sort(byBundle.begin(), byBundle.end(),
                     [&](std::size_t f, std::size_t g) { return bundleOf(f) < bundleOf(g); });
    std::vector<std::size_t> bundleFirst;
    for (std::size_t k = 0; k < groups; ++k) {
        if (k == 0 || bundleOf(byBundle[k]) != bundleOf(byBundle[k - 1])) bundleFirst.push_back(k);
    }
    bundleFirst.push_back(groups);
    inTwoThreads(bundleFirst.size() - 1, [&](std::size_t first, std::size_t last) {
        std::vector<Point> samples;
        for (std::size_t b = first; b < last; ++b) {
            for (std::size_t k = bundleFirst[b]; k < bundleFirst[b + 1]; ++k) {
                const std::size_t g = byBundle[k];
                planJunction(joiner, membersOf(g), plans[g], samples);
                if (plans[g].moves) straighten(joiner, plans[g], membersOf(g), linksByGroup);
            }
        }
    });
}

// The unit direction of a chain around its stretch from chain[from] to
// chain[to], taken from kRecentreSpan pixels before to as far after it:
// the steps and small loops that squares leave on thick ink do not turn it
// as they turn a single segment. Zero when the chain does not move there.
Point directionAround(const std::vector<Point>& chain, std::size_t from, std::size_t to) {
    std::size_t j = from, l = to;
    for (double s = 0.0; j > 0 && s < kRecentreSpan; --j) s += distance(chain[j - 1], chain[j]);
    for (double s = 0.0; l + 1 < chain.size() && s < kRecentreSpan; ++l) s += distance(chain[l], chain[l + 1]);
    const double d = distance(chain[j], chain[l]);
    if (!(d > 1e-9)) return {};
    return {(chain[l].x - chain[j].x) / d, (chain[l].y - chain[j].y) / d};
}

// The ink across a chain at one of its points: how far it reaches along
// the unit normal n and against it.
struct Across {
    double a = 0.0;
    double b = 0.0;
    Point n;
};

// Moves the points of a chain across thick ink to the middle between its
// edges. Squares fill a thick stroke from its edges, so on a curve their
// centres drift to the inside; measured across the line, the ink says where
// the middle is. The chain is first given a point every kRecentreStep.
// Points stay where they are on thin ink (the trace is exact there), where
// the ink is wider than the stroke usually is and reaches much further on
// one side (a junction, a corner, a blob), near the chain's junctions and
// at an open chain's ends.

void recentre(const PackedBitmap& bitmap, std::vector<Point>& chain, std::vector<Point>& dense,
              std::vector<uint8_t>& movable, std::vector<Across>& shifts, std::vector<double>& widths,
              std::span<const Point> junctions) {
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
        // is left whole. Across is measured across the chain's course, which
        // a short step of it may not follow.
        if (thick) {
            const Point u = directionAround(chain, k, k + 1);
            const Point across = u.x == 0.0 && u.y == 0.0 ? normal : Point{-u.y, u.x};
            const double a = inkExtent(bitmap, middle, across, kRecentreReach);
            const double b = inkExtent(bitmap, middle, {-across.x, -across.y}, kRecentreReach);
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
    movable.push_back(0);  // an open chain's end stays; a ring's is its first point
    chain = dense;
    // The ink on either side of each movable point, measured across the
    // chain's course (a and b; none where that is not known).
    shifts.assign(dense.size(), {});
    widths.clear();
    // A ring has no ends: its first point (which is its last) moves too.
    const bool ring = dense.size() > 3 && dense.front() == dense.back();
    const std::size_t last = dense.size() - 2;
    for (std::size_t k = ring ? 0 : 1; k + 1 < dense.size(); ++k) {
        if (!movable[k] && !(k == 0 && movable[last])) continue;
        Point u = directionAround(dense, k, k);
        if (k == 0) {
            const double d = distance(dense[last], dense[1]);
            u = d > 1e-9 ? Point{(dense[1].x - dense[last].x) / d, (dense[1].y - dense[last].y) / d} : Point{};
        }
        if (u.x == 0.0 && u.y == 0.0) continue;
        // The segment was found thick; the point itself may lie close to
        // one edge, which is where it most needs moving.
        const Point n{-u.y, u.x};
        const double a = inkExtent(bitmap, dense[k], n, kRecentreReach);
        if (a >= kRecentreReach) continue;  // a blob, not a stroke
        const double b = inkExtent(bitmap, dense[k], {-n.x, -n.y}, kRecentreReach);
        if (b >= kRecentreReach) continue;
        shifts[k] = {a, b, n};
        widths.push_back(a + b);
    }
    if (widths.empty()) return;
    // The stroke's usual width along the chain: a point far off the middle
    // of a curve still measures about that across, where one at a
    // junction or a corner measures the other lines' ink as well.
    const auto middle = widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2);
    std::nth_element(widths.begin(), middle, widths.end());
    const double usual = *middle;
    for (std::size_t k = ring ? 0 : 1; k + 1 < dense.size(); ++k) {
        const auto [a, b, n] = shifts[k];
        if (a + b < kThickInk) continue;
        const bool likeTheStroke = a + b <= kWidthSlack * usual + 1.0;
        if (!likeTheStroke && std::max(a, b) > kMaxImbalance * std::min(a, b) + 1.0) continue;
        // Near a junction the other lines' ink is measured too.
        bool nearJunction = false;
        for (const Point& j : junctions) nearJunction = nearJunction || distance(j, dense[k]) < a + b + 1.0;
        if (nearJunction) continue;
        const double shift = (a - b) / 2;
        chain[k] = {dense[k].x + shift * n.x, dense[k].y + shift * n.y};
    }
    if (ring) chain.back() = chain.front();
}

// True when every point of the segment a-b, every half pixel, is on ink.
bool onInk(const PackedBitmap& bitmap, const Point& a, const Point& b) {
    const double length = distance(a, b);
    const int steps = static_cast<int>(std::min(length, 4.0 * kMaxInkRadius) * 2.0) + 1;
    for (int s = 0; s <= steps; ++s) {
        const double t = static_cast<double>(s) / steps;
        if (!isInkAt(bitmap, {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t})) return false;
    }
    return true;
}

// Where thick ink turns a corner, the trace cuts across it with up to
// kCornerCutSegments short segments. When the segments before and after are at least twice as
// long and their lines meet on the ink near the cut, the cut is replaced by
// that corner.
void sharpenCorners(const PackedBitmap& bitmap, std::vector<Point>& line) {
    std::size_t i = 1;
    while (i + 2 < line.size()) {
        bool sharpened = false;
        for (std::size_t j = i + 1; j <= i + kCornerCutSegments && j + 1 < line.size() && !sharpened; ++j) {
            const Point& a = line[i - 1];
            const Point& b = line[i];
            const Point& c = line[j];
            const Point& d = line[j + 1];
            const double cut = distance(b, c);
            const double before = distance(a, b), after = distance(c, d);
            // A leg that ends the line is where a thick stroke ends, and
            // bends there: it must be longer to tell a corner.
            const double legsBefore = i == 1 ? kEndCornerLegs : kCornerLegs;
            const double legsAfter = j + 2 == line.size() ? kEndCornerLegs : kCornerLegs;
            if (before < legsBefore * cut || after < legsAfter * cut || cut < 1e-9) continue;
            // The lines a-b and c-d; their crossing x = b + t (b - a).
            const Point u{(b.x - a.x) / before, (b.y - a.y) / before};
            const Point v{(d.x - c.x) / after, (d.y - c.y) / after};
            const double sine = u.x * v.y - u.y * v.x;
            if (std::abs(sine) < kCornerSine) continue;
            // The cut runs near the inner side of the corner; the legs tell
            // how thick the stroke is.
            const double radius = std::max(inkRadius(bitmap, b), inkRadius(bitmap, c));
            // The sharper the corner, the longer the cut and the further the
            // tip beyond it: the stroke's half width over the sine of half
            // the corner's angle.
            const double halfAngleSine = std::sqrt(std::max(0.0, (1.0 + u.x * v.x + u.y * v.y) / 2.0));
            const double limit = (kCornerCut * radius + 1.0) / std::max(halfAngleSine, kSharpestHalfSine);
            if (radius * 2.0 < kThickInk || cut > limit) continue;
            const double t = ((c.x - b.x) * v.y - (c.y - b.y) * v.x) / sine;
            const Point x{b.x + t * u.x, b.y + t * u.y};
            const double back = (c.x - x.x) * v.x + (c.y - x.y) * v.y;  // x lies before c on c-d
            if (t < 0.0 || back < 0.0 || t > limit || !onInk(bitmap, b, x) || !onInk(bitmap, x, c)) continue;
            // The cut must be the corner's, not a way across other ink.
            bool nearCorner = true;
            for (std::size_t k = i + 1; k < j && nearCorner; ++k) {
                nearCorner = std::min(segmentDistance(line[k], b, x), segmentDistance(line[k], x, c)) <= radius + 1.0;
            }
            if (!nearCorner) continue;
            // Legs shorter than twice the cut are also what a thick curve
            // is made of: there the corner must lie clearly off the cut.
            if (before < 2.0 * cut || after < 2.0 * cut) {
                double off = distance(x, c);
                for (std::size_t k = i; k < j; ++k) off = std::min(off, segmentDistance(x, line[k], line[k + 1]));
                if (off < kShortLegCornerOff * radius) continue;
            }
            line[i] = x;
            line.erase(line.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                       line.begin() + static_cast<std::ptrdiff_t>(j) + 1);
            sharpened = true;
        }
        if (!sharpened) ++i;
    }
}

// Shapes a chain for writing: re-centred across thick ink, simplified,
// corners sharpened. Keeps its scratch vectors from chain to chain; one
// per thread.
class ChainShaper {
public:
    explicit ChainShaper(const PackedBitmap& bitmap) : m_bitmap(bitmap) {}

    // `junctions`: the chain's ends that lie where three or more lines meet.
    void Shape(std::span<const Point> chain, std::span<const Point> junctions, std::vector<Point>& kept) {
        kept.clear();
        if (chain.size() < 2) return;
        m_chain.assign(chain.begin(), chain.end());
        recentre(m_bitmap, m_chain, m_dense, m_movable, m_shifts, m_widths, junctions);
        simplify(m_chain, m_keep);
        for (std::size_t k = 0; k < m_chain.size(); ++k) {
            if (m_keep[k]) kept.push_back(m_chain[k]);
        }
        sharpenCorners(m_bitmap, kept);
    }

private:
    const PackedBitmap& m_bitmap;
    std::vector<uint8_t> m_keep;
    std::vector<Point> m_chain;
    std::vector<Point> m_dense;
    std::vector<uint8_t> m_movable;
    std::vector<Across> m_shifts;
    std::vector<double> m_widths;
};

// Appends polyline i to the chain, entered at `end`, without repeating the
// point where it meets the chain.
void appendPolyline(const Polylines& lines, int32_t end, std::vector<Point>& chain) {
    const int32_t i = end / 2;
    const std::size_t count = lines.size(i);
    for (std::size_t k = 0; k < count; ++k) {
        const Point& p = lines.fromEnd(end, k);
        if (k == 0 && !chain.empty() && chain.back() == p) continue;
        chain.push_back(p);
    }
}

// Writes the polylines in pieces of at most kMaxJoinedPoints that share
// their boundary points.
void writePolylines(const Polylines& shaped, RecordWriter& writer, int32_t& polylines, int32_t& vertices) {
    for (int32_t i = 0; i < shaped.count(); ++i) {
        const std::span<const Point> kept(shaped.points.data() + shaped.begin[i], shaped.size(i));
        for (std::size_t start = 0; start + 1 < kept.size();) {
            const std::size_t count = std::min(TVemotrace_join::kMaxJoinedPoints, kept.size() - start);
            if (vertices > INT32_MAX - static_cast<int32_t>(count)) {
                throw FileError(writer.Path(), "more points than the file can count");
            }
            writer.PutInt32(static_cast<int32_t>(count));
            for (std::size_t k = start; k < start + count; ++k) {
                writer.PutDouble(kept[k].x);
                writer.PutDouble(kept[k].y);
            }
            ++polylines;
            vertices += static_cast<int32_t>(count);
            start += count - 1;
        }
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
            // Most squares lie within one word of a row: its mask serves
            // every row.
            if (x % 64 + size <= 64) {
                const uint64_t mask = (size == 64 ? ~uint64_t{0} : (uint64_t{1} << size) - 1) << (x % 64);
                for (int32_t row = y; row < y + size; ++row) {
                    ink.Row(row)[x / 64] |= mask;
                    ink.MarkInk(row);
                }
                continue;
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

TVemotrace_join::TVemotrace_join(std::string linesPath, const PackedBitmap& bitmap, const DiagonalRuns* runs)
    : m_linesPath(std::move(linesPath)), m_bitmap(bitmap), m_runs(runs) {}

TVemotrace_join::DiagonalRuns TVemotrace_join::FindDiagonalRuns(const PackedBitmap& bitmap) {
    const Polylines found = diagonalRuns(bitmap);
    DiagonalRuns runs;
    runs.xy.reserve(2 * found.points.size());
    for (const Point& p : found.points) {
        runs.xy.push_back(p.x);
        runs.xy.push_back(p.y);
    }
    runs.begin = found.begin;
    return runs;
}

void TVemotrace_join::TraceAndJoin(TVemotrace_compV& pipeline, PackedBitmap bitmap) {
    struct Ink {
        PackedBitmap bitmap;
        DiagonalRuns runs;
    };
    std::future<Ink> ink;
    // Its own thread when one can be had, else when it is asked for.
    const auto paint = [&] {
        ink = std::async(std::launch::async | std::launch::deferred, [traced = pipeline.CollectResults()] {
            Ink painted{InkFromSquares(traced.squaresPath, traced.squareCount, traced.imageWidth, traced.imageHeight),
                        {}};
            painted.runs = FindDiagonalRuns(painted.bitmap);
            return painted;
        });
    };
    // Handed over: the first stage frees the scan before the others need
    // their memory, and the ink is painted once they have freed theirs.
    pipeline.RunTrace(std::move(bitmap), paint);
    const Ink painted = ink.get();
    TVemotrace_join(pipeline.CollectResults().linesPath, painted.bitmap, &painted.runs).JoinLines();
}

void TVemotrace_join::JoinLines() {
    // Runs not found beforehand are looked for while the lines are read.
    std::future<DiagonalRuns> looking;
    if (m_runs == nullptr) {
        looking = std::async(std::launch::async | std::launch::deferred, [this] { return FindDiagonalRuns(m_bitmap); });
    }
    Polylines lines = readPolylines(m_linesPath);
    DiagonalRuns found;
    if (m_runs == nullptr) found = looking.get();
    const DiagonalRuns& runs = m_runs != nullptr ? *m_runs : found;
    for (std::size_t k = 1; k < runs.begin.size(); ++k) {
        for (std::size_t i = runs.begin[k - 1]; i < runs.begin[k]; ++i) {
            lines.points.push_back({runs.xy[2 * i], runs.xy[2 * i + 1]});
        }
        lines.begin.push_back(lines.points.size());
    }
    Joiner joiner(lines, m_bitmap);
    joiner.pairMeetingEnds();
    joiner.bridgeGaps();
    joiner.removeSpurs();
    joiner.restoreTips();
    // Thick free ends reach their gaps only once moved on.
    joiner.extendFreeEnds();
    const auto hooks = joiner.layBackHooks();
    joiner.bridgeGaps(true);
    joiner.restoreHooks(hooks);
    joiner.joinThinCorners();
    straightenJunctions(joiner);

    // The chains, open ones first, each from the lower of its free ends,
    // and then the rings, which close on their first point. An open chain
    // is found from either end alone, so the ends are taken two at a time,
    // and each block of them shapes its chains into an array of its own.
    std::vector<uint8_t> visited(static_cast<std::size_t>(lines.count()), 0);
    const std::size_t ends = 2 * static_cast<std::size_t>(lines.count());
    std::vector<Polylines> shaped((ends + kThreadBlock - 1) / kThreadBlock + 1);
    inTwoThreads(ends, [&](std::size_t first, std::size_t last) {
        Polylines& out = shaped[first / kThreadBlock];
        ChainShaper shaper(m_bitmap);
        std::vector<Point> chain, kept, junctions;
        for (std::size_t k = first; k < last; ++k) {
            const auto end = static_cast<int32_t>(k);
            if (joiner.removed[end / 2] || joiner.partner[end] != kNone) continue;
            const int32_t other = joiner.chainEnd(end);
            if (other < end) continue;  // the chain is taken from there
            chain.clear();
            for (int32_t at = end;; at = joiner.partner[at ^ 1]) {
                visited[at / 2] = 1;
                appendPolyline(lines, at, chain);
                if ((at ^ 1) == other) break;
            }
            if (joiner.isFree(end) && joiner.isFree(other) && chainLength(chain) < kSpeckLength &&
                isSpeck(m_bitmap, chain.front())) {
                continue;
            }
            junctions.clear();
            if (joiner.isJunction(end)) junctions.push_back(lines.endPoint(end));
            if (joiner.isJunction(other)) junctions.push_back(lines.endPoint(other));
            shaper.Shape(chain, junctions, kept);
            out.points.insert(out.points.end(), kept.begin(), kept.end());
            out.begin.push_back(out.points.size());
        }
    });
    {
        Polylines& rings = shaped.back();
        ChainShaper shaper(m_bitmap);
        std::vector<Point> chain, kept;
        for (int32_t i = 0; i < lines.count(); ++i) {
            if (joiner.removed[i] || visited[i]) continue;
            chain.clear();
            for (int32_t at = 2 * i; at != kNone && !visited[at / 2]; at = joiner.partner[at ^ 1]) {
                visited[at / 2] = 1;
                appendPolyline(lines, at, chain);
            }
            if (!(chain.back() == chain.front())) chain.push_back(chain.front());
            shaper.Shape(chain, {}, kept);
            rings.points.insert(rings.points.end(), kept.begin(), kept.end());
            rings.begin.push_back(rings.points.size());
        }
    }

    m_polylineCount = 0;
    m_vertexCount = 0;
    RecordWriter writer(m_linesPath);
    writer.Open();
    for (const Polylines& block : shaped) writePolylines(block, writer, m_polylineCount, m_vertexCount);
    writer.Close();
}
