// Vemotrace_joinink: what the join step reads of the ink: whether a point
// lies on it, how thick it is there, how far it reaches along a ray, the
// one-pixel diagonal runs the trace leaves out, and dots of dirt.
// The bitmap is the traced one (PackedBitmap, one bit per pixel).
#pragma once

#include <cstdint>
#include <span>

#include "trace/Vemotrace_packed.h"
#include "trace/join/Vemotrace_joinlines.h"

namespace join::ink {

using namespace join::lines;

// The ink's thickness is looked for this far; thicker ink counts as this
// (strokes up to 32 pixels wide are measured: a 1 mm pen at 600 dpi is 24,
// and the bumps on a scanned edge widen it by a pixel or two; thicker ink
// is a blob). The probe's window of 2 x 16 + 1 columns fits a word.
constexpr int32_t kMaxInkRadius = 16;
// Ink at least this wide (pixels) counts as thick: the trace follows
// thinner ink exactly.
constexpr double kThickInk = 3.0;
// A point lies near a corner of the ink (a hook's tip, the side of an
// untraced piece) when paper is this near (pixels).
constexpr double kCornerInk = 3.0;
// Rays across the ink are probed in steps of this (pixels).
constexpr double kRayStep = 0.25;

// True when p lies on an ink pixel of the image.
inline bool isInkAt(const PackedBitmap& bitmap, const Point& p) {
    // On the image a coordinate is not negative, and there the cast cuts
    // the fraction as floor does; the image's size is whole.
    if (!(p.x >= 0.0 && p.y >= 0.0 && p.x < bitmap.Width() && p.y < bitmap.Height())) return false;
    const auto column = static_cast<uint32_t>(p.x);
    return (bitmap.Row(static_cast<int32_t>(p.y))[column / 64] >> (column % 64)) & 1;
}

// Distance from p to the nearest paper pixel centre, or to the image's
// edge, up to kMaxInkRadius: about half the ink's thickness at p.
inline double inkRadius(const PackedBitmap& bitmap, const Point& p) {
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

// The distance from p along the unit vector u to the first paper, to a
// quarter of a pixel; `reach` when there is none that near. Probes every
// half pixel, then once more between the last ink and the first paper.
inline double inkExtent(const PackedBitmap& bitmap, const Point& p, const Point& u, double reach = kMaxInkRadius) {
    const auto isPaper = [&](double t) { return !isInkAt(bitmap, {p.x + t * u.x, p.y + t * u.y}); };
    for (double t = 2 * kRayStep; t < reach; t += 2 * kRayStep) {
        if (isPaper(t)) return isPaper(t - kRayStep) ? t - 1.5 * kRayStep : t - 0.5 * kRayStep;
    }
    return reach;
}

// True when every point of the segment a-b, every half pixel, is on ink.
inline bool onInk(const PackedBitmap& bitmap, const Point& a, const Point& b) {
    const double length = distance(a, b);
    const int steps = static_cast<int>(std::min(length, 4.0 * kMaxInkRadius) * 2.0) + 1;
    for (int s = 0; s <= steps; ++s) {
        const double t = static_cast<double>(s) / steps;
        if (!isInkAt(bitmap, {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t})) return false;
    }
    return true;
}

Polylines diagonalRuns(const PackedBitmap& bitmap);

// True when the ink under p is a lone dot of at most kDotPixels pixels
// (touching at sides or corners), not a piece of a stroke the trace lost.
bool isDot(const PackedBitmap& bitmap, const Point& p);

// True when the centre of a paper pixel of the image lies inside the closed
// polyline `ring` (even-odd rule; its last point joins its first).
bool enclosesPaper(const PackedBitmap& bitmap, std::span<const Point> ring);

// A lone polyline no longer than kDustLength (pixels) may lie on a dot of
// dust (up to 0.2 mm across, five pixels at 600 dpi), which the trace
// turns into a short line, or on dots that the gaps between them let the
// join step string together. True when the ink under the chain's middle
// is such a dot: a lone piece of at most kDustPixels pixels (touching at
// sides or corners) with no line-like extent, its longest axis at most
// kDustElongation times its shortest (a dash drawn with any pen is longer
// than that); or when every point of the chain lies on a dot.
constexpr double kDustLength = 6.0;
bool isDust(const PackedBitmap& bitmap, std::span<const Point> chain);

// A pinhole in thick ink (paper of at most kPinholePixels pixels, touching
// at sides or corners, with ink at least two pixels deep all round) is
// filled: the squares would ring it, and the trace then runs two lines
// round a dot of paper where one runs down the stroke. Thin ink keeps
// its holes: there they may be drawn. Returns the number of holes filled.
int32_t fillPinholes(PackedBitmap& bitmap);

}  // namespace join::ink
