// Vemotrace_fitgaps: pieces of one stroke joined across a break. On a
// noisy scan the join step leaves a drawn line or arc in pieces where it
// could not tell that two free ends point at each other (their last few
// pixels wander). Two free ends, of different chains, that are each
// other's nearest free end and lie within the join step's bridging
// distance (a break of join::gaps::kGapWidth and the ink's half width on
// either side) are joined when the pieces together, the bridge included,
// are one LINE or one ARC within the tolerance (as the fitting makes them:
// from end to end, or the best fit whose free ends move by no more than
// the tolerance); ends that are no such stroke stay apart.
#pragma once

#include <functional>
#include <span>

#include "trace/Vemotrace_packed.h"
#include "trace/fit/Vemotrace_fitpens.h"
#include "trace/join/Vemotrace_joinlines.h"

namespace fit::gaps {

// `isFree`: a chain's end point that touches nothing else. `toleranceOf`:
// the tolerance the fitting will use for a chain of these points, never
// more than `largestTolerance`. The ink's widths at ends are kept in
// `widths`.
join::lines::Polylines joinAcrossBreaks(const join::lines::Polylines& chains,
                                        const std::function<bool(const Point&)>& isFree, pens::InkWidths& widths,
                                        const std::function<double(std::span<const Point>)>& toleranceOf,
                                        double largestTolerance);

}  // namespace fit::gaps
