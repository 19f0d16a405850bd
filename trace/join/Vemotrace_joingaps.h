// Vemotrace_joingaps: bridging gaps. Two free ends join across a break in
// the ink when they lie within a small gap and point at each other, or when
// the way between them crosses no more paper than such a break. The rules
// themselves are Joiner's (bridgeGaps, extendFreeEnds, trimEndHook), in
// Vemotrace_joingaps.cpp; here are the limits and the pair tests.
#pragma once

#include <cstdint>

#include "trace/Vemotrace_packed.h"
#include "trace/join/Vemotrace_joinink.h"

namespace join::gaps {

using namespace join::ink;

// A break in the ink this wide (pixels, between the ink on either side) is
// bridged; with the ink's thickness at both ends added, it is the largest
// distance between two joined ends. A five-pixel break stays open.
constexpr double kGapWidth = 2.5;
// Ink counts as at most this thick (half width, pixels) for a gap: pens are
// rarely wider than 24 pixels (1 mm at 600 dpi), and blobs are not to be
// joined.
constexpr double kMaxGapRadius = 12.0;
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

// A free end waiting for a partner: where it is, which way it points
// (unit vector, zero when unknown), how thick the ink is there.
struct FreeEnd {
    int32_t end;
    Point at;
    Point aim;
    double radius;
};

// Buckets of thin corners are numbered row by row; a row of them spans
// more than any image's width.
inline constexpr int64_t kBucketRow = int64_t{1} << 32;

bool bridgeable(const FreeEnd& a, const FreeEnd& b);

// Two ends that point at each other further apart than bridgeable allows,
// because the trace stops short of where thick ink ends, are joined when
// the way between them crosses no more paper than a break.
bool bridgeableOverInk(const PackedBitmap& bitmap, const FreeEnd& a, const FreeEnd& b);

// True when the ink of the free end at `tip` (pointing along the unit
// vector `aim`, its half width `across`) ends flat `toEnd` ahead: cut
// across by a break rather than drawn round. Such an end stops a quarter
// of the width short of the ink's end, a round one half the width.
bool endsFlat(const PackedBitmap& bitmap, const Point& tip, const Point& aim, double toEnd, double across);

// True when ink comes again ahead of `tip` along the unit vector `aim`
// within a break's length (kBreakAlongBridge) past the ink's end `toEnd`
// ahead: the stroke runs on across a break there.
bool inkAgainPastBreak(const PackedBitmap& bitmap, const Point& tip, const Point& aim, double toEnd);

}  // namespace join::gaps
