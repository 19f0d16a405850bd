// Vemotrace_fit: the optional fitting of the joined polylines into CAD
// entities, run after the join step when the user asks for it.
//
// With the step's own tolerance the dirt of noisy scans is first taken
// away (trace/fit/Vemotrace_fitdirt.h: spurs, pinholes' bubbles, loops at
// junctions, rings walked out and back). Polylines that meet end to end
// where no third one ends are then joined into one (a stroke the join step
// left in pieces), and pieces whose free ends face each other across a
// break are joined where together they are one LINE or ARC
// (trace/fit/Vemotrace_fitgaps.h). Each polyline so chained becomes a
// chain of entities:
//  - a closed ring that is round, and touches no other polyline, one CIRCLE;
//  - otherwise, from its first point on, the longest stretch that one LINE
//    or one ARC follows within the tolerance, again and again to its end;
//    three or more one-segment LINEs in a row stay one POLYLINE (a stretch
//    that neither fits).
// An entity's ends are vertices of its polyline, so the entities of a
// chain meet end to end exactly and a junction, where polylines meet at
// their ends, stays one point. Three exceptions, none at a junction: a
// rounded corner's tangent points (trace/fit/Vemotrace_fitcorners.h); a
// stroke with a free end that the stretches above cut in more than one
// entity, made the one LINE its points follow best (with two free ends and
// no straight stretch, the one ARC), its free ends moved onto it by no
// more than the tolerance; and,
// with the step's own tolerance, a free end of a thick pen's stroke: a
// hook into a corner of the pen's round cap dropped, and the end of its
// LINE or ARC moved to the cap's centre (the traced line runs on into the cap, or
// stops short of it), so there the polyline's points may lie up to the
// pen's width from the entities.
// An open polyline whose ends touch nothing and lie close becomes one
// CIRCLE where it and the chord across the gap are round (a drawn circle
// the join step left open). A closed ring that is no circle starts at
// its sharpest corner, so a rectangle gives four LINEs.
//
// Each entity carries the width of its ink, measured across the stroke in
// the bitmap; the widths are grouped into a few pens.
//
// Reads   temp.lix in its polyline form (after the join step).
// Writes  temp.lix anew: per chain one polyline through the entities' ends,
//         an arc or circle as points within the tolerance, so the formats
//         that know only polylines (and the viewer) show the entities.
// Returns the entities (Result), in image pixels, y downward.
//
// Throws FileError when the lines file cannot be read or written, or ends
// inside a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "trace/Vemotrace_packed.h"
#include "trace/Vemotrace_types.h"

enum class EntityKind : uint8_t { Line, Arc, Circle, Polyline };

struct FitEntity {
    EntityKind kind = EntityKind::Line;
    // Line, Arc, Polyline: the first and last point. Circle: both the
    // ring's first point.
    Point start;
    Point end;
    // Arc, Circle: centre and radius. An arc runs from start to end with
    // the angle atan2(y - centre.y, x - centre.x) increasing (clockwise on
    // the y-downward image) when `increasing`, else decreasing.
    Point centre;
    double radius = 0.0;
    bool increasing = true;
    std::vector<Point> points;  // Polyline: every point, start to end
    double width = 0.0;         // measured ink width, pixels
    int32_t pen = 0;            // index into FitResult::penWidths
};

struct FitResult {
    std::vector<FitEntity> entities;
    // Chain k holds entities[chainBegin[k]] up to entities[chainBegin[k + 1]].
    std::vector<std::size_t> chainBegin{0};
    // Pen i's width in pixels, ascending; every entity names one.
    std::vector<double> penWidths;
    double tolerance = 0.0;  // largest tolerance used, pixels

    std::size_t ChainCount() const { return chainBegin.size() - 1; }
};

struct FitOptions {
    // The largest distance of a polyline's point from its entities, pixels;
    // 0: per polyline, half the ink's width within kMinTolerance and
    // kMaxTolerance.
    double tolerance = 0.0;
    // Lines within kSnapDegrees of horizontal or vertical are made exactly
    // so; the points they share with other entities move with them.
    bool snapAngles = false;
};

// A circle's or arc's points, start to end (both included), no further than
// `tolerance` from the curve: what the polyline formats get of it.
std::vector<Point> FlattenCurve(const FitEntity& entity, double tolerance);
// The point of an arc at `fraction` (0: start, 1: end) of its sweep; of a
// circle, of the turn from its start.
Point PointOnCurve(const FitEntity& entity, double fraction);

class TVemotrace_fit {
public:
    // Half a pixel would follow the pixel steps of a one-pixel line; 0.75
    // lets a straight stroke of any angle be one line while still keeping
    // two parallel strokes a pixel apart from being taken for one.
    static constexpr double kMinTolerance = 1.0;
    // The chosen tolerance grows with the ink (its centre line is no surer
    // than half its width) but no further than this: more would cut the
    // corners off a plan's small details, and the join step keeps centre
    // lines within about a pixel of a thick stroke's middle.
    static constexpr double kMaxTolerance = 1.25;
    static constexpr double kSnapDegrees = 0.5;
    // At most this many pens; widths closer than kPenStep (ratio) share one.
    static constexpr std::size_t kMaxPens = 8;
    static constexpr double kPenStep = 1.3;

    // The bitmap is the traced ink (the join step paints it from the
    // squares); it is only read, and the caller keeps it alive.
    TVemotrace_fit(std::string linesPath, const PackedBitmap& ink, FitOptions options);
    TVemotrace_fit(std::string linesPath, PackedBitmap&& ink, FitOptions options) = delete;  // kept, not copied

    // The polylines given in memory instead (fuzz targets, tests): polyline
    // k runs from points[begin[k]] up to points[begin[k + 1]]. The chains
    // of the result are the polylines after the joining above, so fewer.
    static FitResult FitPolylines(const std::vector<Point>& points, const std::vector<std::size_t>& begin,
                                  const PackedBitmap& ink, const FitOptions& options);

    void FitLines();  // once: reads, fits, writes temp.lix anew
    const FitResult& Result() const { return m_result; }
    FitResult TakeResult() { return std::move(m_result); }

private:
    std::string m_linesPath;
    const PackedBitmap& m_ink;
    FitOptions m_options;
    FitResult m_result;
};
