// quality_entities: the entity view of bench/quality (`quality --entities`):
// how the fitting step's LINE, ARC and CIRCLE entities match the strokes
// that were drawn. Per drawing, after the join step, it fits the joined
// lines (the lines file is only read), and per group it prints:
//   ent/prm  entities per drawn primitive (stroke)
//   line1    share of drawn straight lines that come out as one LINE (a
//            single LINE within 1.5 px of at least 90 % of the line)
//   arc1     the same for open circular arcs and ARC ("-": none drawn)
//   circ1    the same for circles and CIRCLE
//   maxd     largest distance from an entity on a stroke to the drawn
//            strokes' centre lines, px (an entity is on a stroke when half
//            of it lies within 1.5 px of one; the ink is no part of it)
//   joind    the same for the joined polylines the fitting starts from:
//            the join step's own largest distance
//   fitd     what the fitting adds: the most by which a point of an entity
//            on a stroke lies further from the drawn strokes than the
//            nearest point of the joined polylines does
//   fitm     fitd without the points within the entity's ink width of its
//            ends (where a thick pen's free end may lie up to the width off)
//   tol      the largest tolerance used
//   gaps     joined polylines' ends that no chain keeps exactly (must be 0)
//   dxf%     size of the entities' DXF against the joined polylines' DXF
//   cover, prec  coverage and precision of the entities as the DXF holds
//            them (arcs and circles as chords within 0.05 px), as quality
//            measures the polylines
//   flatc, flatp the same for the lines file's points (arcs and circles as
//            points within the tolerance, so their chords cut inside)
//   fit ms   time of the fitting step alone
// The table has a row per group of the drawings quality runs, its own
// "rounded" ones included (RoundedFigure).
// Drawn primitives are told apart by their geometry alone: two points are a
// line; a closed stroke whose points lie on one circle a circle; an open
// one an arc; anything else (corners, ellipses, letters) counts only in
// ent/prm.
#pragma once

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "trace/Vemotrace_packed.h"
#include "trace/Vemotrace_types.h"

namespace quality {

// The figures of the "rounded" drawings, on a cell of 1 x 1 (x right, y
// down), as the strokes they are drawn with: in even cells an open circular
// arc of 0.3 to 1.6 half turns, in odd ones a rounded corner, a line, the
// arc that turns from it tangentially and a line again (three strokes that
// meet end to end, so the join step makes them one polyline).
std::vector<std::vector<Point>> RoundedFigure(int cell, std::mt19937& random);

// Lengths as quality's own measure gives them for a set of lines.
struct Shares {
    double covered = 0, drawn = 0, precise = 0, traced = 0;
};
using MeasureLines = std::function<Shares(const std::vector<std::vector<Point>>& lines)>;

class EntityView {
public:
    // One drawing of `group` after the join step. `folder` is free for the
    // two DXF files.
    void Add(const std::string& group, const std::vector<std::vector<Point>>& strokes, int32_t size,
             const PackedBitmap& ink, const std::string& linesPath, const std::string& folder,
             const MeasureLines& measure);
    // The table, one row per group in the order they came, and "all".
    void Print() const;

    struct Figures {
        double primitives = 0, entities = 0;
        double lines = 0, linesAsOne = 0, arcs = 0, arcsAsOne = 0, circles = 0, circlesAsOne = 0;
        double largestDistance = 0, joinDistance = 0, fittingDistance = 0, middleDistance = 0, tolerance = 0, gaps = 0;
        double dxfBytes = 0, polylineDxfBytes = 0, seconds = 0;
        Shares shares;
        Shares flatShares;  // the lines file's points
        void Add(const Figures& other);
    };

private:
    std::vector<std::pair<std::string, Figures>> m_groups;
};

}  // namespace quality
