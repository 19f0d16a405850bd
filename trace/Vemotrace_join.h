// Vemotrace_join: the optional clean-up of the final polylines for CAD use.
//
// The trace follows the ink exactly but hands out a drawn stroke in pieces:
// a polyline ends wherever the point graph branches, at every break in the
// ink and where a chain reaches its point limit, and thick strokes grow
// short spurs at corners and bumps. This step, run after stage 5 and before
// the writers when the user asks for it, makes one polyline of each stroke
// where the drawing allows:
//  - removes spurs: a short polyline with one free end that hangs off a
//    point where three or more polylines meet, no longer than the ink is
//    thick there;
//  - removes the fork, loop or hook by which a thick stroke's trace runs
//    to the corners of a flat end (a break cut across it), so the stroke
//    ends free there;
//  - joins two polylines whose ends lie within a small gap (a break in the
//    ink of up to about two pixels, plus the thickness of the stroke), or
//    whose way to each other crosses no more paper than that break, and
//    point towards each other; a free end of thick ink reaches on across
//    such a break into a stroke's end that the trace left without a line;
//  - follows chains through points where exactly two polylines meet, so a
//    closed ring comes out as one closed polyline (last point = first);
//    it never continues across a point where three or more lines meet;
//  - joins thin strokes cut beside a pixel of edge noise (a hooked end)
//    or at a sharp corner (two lone ends that touch, or a scrap of line at
//    the tip between them);
//  - leads the legs of a sharp thick corner on to their tip, and puts back
//    a corner that the trace cuts across, where the legs' lines meet;
//  - moves a junction on thick ink, and the knot of two three-way points
//    the trace makes there, to the point nearest its arms' straight
//    courses, and re-centres points across thick ink;
//  - drops dots: a lone polyline shorter than kDotLength; before the
//    trace (TraceAndJoin), fills pinholes of a few pixels in thick ink;
//  - drops vertices that lie within half a pixel of the line through their
//    neighbours;
//  - where lines crowd beyond any drawing (dither, noise, a board of small
//    squares), writes them first as the trace gave them, and drops lone
//    specks of dust that crowd, before the rules (see join/Vemotrace_joinwork.h).
// The bitmap tells how thick the ink is around a point (spur and gap
// limits) and that a free end may reach further along the ink.
//
// Reads   temp.lix in its polyline form (stage 5): per polyline an int32
//         n >= 2, then n times (double x, double y) in image pixels.
// Writes  temp.lix anew in the same form; a polyline holds at most
//         kMaxJoinedPoints points, a longer chain is split there.
// Returns PolylineCount and VertexCount after JoinLines.
//
// JoinLines throws FileError when the lines file cannot be read or written,
// or ends inside a record; the file is left as it was when it cannot be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "trace/Vemotrace_compv.h"
#include "trace/Vemotrace_packed.h"
#include "trace/Vemotrace_types.h"

class TVemotrace_join {
public:
    // As many points as stage 5 puts into one polyline, so every reader and
    // writer sees polylines of the sizes it already handles.
    static constexpr std::size_t kMaxJoinedPoints = 2000;
    // A lone polyline shorter than this (pixels), on a lone dot of ink of
    // a few pixels, is a dot of dirt.
    static constexpr double kDotLength = 2.5;

    // Polylines through the pixel centres of one-pixel strokes near 45
    // degrees, which the trace leaves out: polyline k from points[begin[k]]
    // up to points[begin[k + 1]]. Found in the bitmap alone, so they can be
    // looked for before the lines are there.
    struct DiagonalRuns {
        std::vector<Point> points;
        std::vector<std::size_t> begin{0};
    };
    static DiagonalRuns FindDiagonalRuns(const PackedBitmap& bitmap);

    // The bitmap must be the one that was traced; it is only read, and the
    // caller keeps it (and `runs`) alive until JoinLines returns. `runs`:
    // FindDiagonalRuns of the bitmap, found beforehand; without them
    // JoinLines looks for them itself.
    TVemotrace_join(std::string linesPath, const PackedBitmap& bitmap, const DiagonalRuns* runs = nullptr);

    // The whole trace of `bitmap` by `pipeline` with the join step after
    // it, as the trace job runs them: pinholes in thick ink are filled
    // first (the plain trace keeps them), the ink is painted again from the
    // squares, and its diagonal runs found, on a second core while stage 5
    // runs. `afterJoin`, when given, is called with that ink once the lines
    // are joined (the fitting step measures its widths there). Throws what
    // either throws.
    static void TraceAndJoin(TVemotrace_compV& pipeline, PackedBitmap bitmap,
                             const std::function<void(const PackedBitmap& ink)>& afterJoin = {});

    // The ink of the traced bitmap, painted again from the squares of
    // stage 1 (temp.sqr, `squareCount` 16-byte records), which cover every
    // ink pixel and no paper: the trace job has let the scan go by the time
    // the join step runs. Throws FileError when the file cannot be read or a
    // square does not lie on a width x height image.
    static PackedBitmap InkFromSquares(const std::string& squaresPath, int32_t squareCount, int32_t width,
                                       int32_t height);

    void JoinLines();  // once
    int32_t PolylineCount() const { return m_polylineCount; }
    int32_t VertexCount() const { return m_vertexCount; }

private:
    std::string m_linesPath;
    const PackedBitmap& m_bitmap;
    const DiagonalRuns* m_runs;
    int32_t m_polylineCount = 0;
    int32_t m_vertexCount = 0;
};
