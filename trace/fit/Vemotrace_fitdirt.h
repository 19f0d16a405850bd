// Vemotrace_fitdirt: dirt the trace leaves at junctions and at the ends of
// strokes on noisy scans, taken away before the joined polylines are
// fitted. Each bit of dirt cuts a drawn line or circle into pieces that no
// one entity follows:
//  - a spur: a polyline from a junction to a free end no longer than the
//    other arms' ink is wide (plus kSpurSlack), a speck or a bump on the
//    stroke's edge; where it points out of the sharp corner its
//    junction's two other arms make, it is the corner's tip, and the arms
//    are led on to its end;
//  - a bubble: two polylines between the same two junctions, lying within
//    half the ink's width (plus kBubbleSlack) of the straight way between
//    them, where the trace went round a pinhole in the stroke: they become
//    that straight way;
//  - a loop at a junction: a ring that starts and ends there, within the
//    ink's width (plus kLoopSlack) of it, is dropped; where the junction is
//    a stroke's end (one arm besides the loop), a thin loop, whose way out
//    and way back lie within the ink's width of each other, keeps only its
//    way out;
//  - a ring walked out and back: a ring that touches nothing and whose two
//    halves lie within kWalkedApart of each other (the trace went round a
//    stroke one pixel wide) becomes the open polyline it walks.
// The fitting step runs this only with its own tolerance: the points it
// drops lie further off than a tolerance the user gives allows.
//
// Every point of the result is a point of the input, so ends still meet
// where they met; polylines keep their order, dropped ones are left out.
#pragma once

#include <cstddef>
#include <vector>

#include "trace/Vemotrace_packed.h"
#include "trace/fit/Vemotrace_fitpens.h"
#include "trace/join/Vemotrace_joinlines.h"

namespace fit::dirt {

inline constexpr double kSpurSlack = 1.0;
inline constexpr double kBubbleSlack = 1.0;
inline constexpr double kLoopSlack = 1.0;
inline constexpr double kWalkedApart = 1.5;
// A spur that points out of the corner its junction's two other arms make,
// against each of them by at least this cosine (a corner of up to about
// 145 degrees), is the corner's tip: the arms are led on to its end instead.
inline constexpr double kCornerTipCosine = 0.3;
// ... and near the corner's bisector: its cosines against the two arms
// differ by no more than this (about 10 degrees off it on a right angle).
inline constexpr double kCornerTipSkew = 0.25;
// A ring walked out and back is at least this many times kWalkedApart
// long from turn to turn: a small round ring (a letter's eye) is no walk.
inline constexpr double kWalkedLengths = 4.0;
// Loops and bubbles with more points than this are drawn shapes, not dirt
// (and the halves' comparison costs the square of the points).
inline constexpr std::size_t kMaxDirtPoints = 256;

// The polylines with the dirt above taken away. Polyline k runs from
// points[begin[k]] up to points[begin[k + 1]]; the ink gives the widths
// (without a bitmap every stroke counts as one pixel wide).
join::lines::Polylines clean(const std::vector<Point>& points, const std::vector<std::size_t>& begin,
                             const PackedBitmap& ink);
// The same, keeping the widths it probes in `widths` for the steps after.
join::lines::Polylines clean(const std::vector<Point>& points, const std::vector<std::size_t>& begin,
                             pens::InkWidths& widths);

}  // namespace fit::dirt
