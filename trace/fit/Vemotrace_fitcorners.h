// Vemotrace_fitcorners: rounded corners for the fitting step. A drawn
// corner rounded with an arc, fitted entity by entity from one end, tends
// to come out as a long flat arc that takes in the straight leg and a
// second one for the rest of the bend. Where a run of entities holds an
// arc and both its ends are straight, it is fitted again as a LINE, an ARC
// tangent to it and a LINE tangent to the arc, and kept when that follows
// the points within the tolerance.
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "trace/Vemotrace_fit.h"

namespace fit::corners {

// A leg of a rounded corner is at least this many tolerances long: a
// shorter one is no straight the tolerance could tell from the arc.
inline constexpr double kMinLegTolerances = 3.0;

// One chain's entities and their spans (first and last point index into
// `points`), changed in place: every run of three entities that holds an
// arc, and every two arcs in a row, whose points a LINE-ARC-LINE with
// tangent joins follows within `tolerance` (vertices; segments within
// tolerance + shapes::kChordSlack) becomes that. So do three lines, and an
// arc beside a line (an arc that took in the straight leg after the bend),
// where the corner follows the points more closely than they did. The
// run's first and last points stay its ends.
void roundCorners(std::span<const Point> points, double tolerance, std::vector<FitEntity>& entities,
                  std::vector<std::pair<std::size_t, std::size_t>>& spans);

}  // namespace fit::corners
