// Vemotrace_joinjunctions: junctions on thick ink moved on to their arms'
// straight continuations, and the knots the trace makes there undone.
#pragma once

#include "trace/join/Vemotrace_joiner.h"

namespace join::junctions {

// After the other steps: moves junctions on thick ink onto their arms'
// continuations (see Arm). The nodes of a group become one: every end
// there is given the first node's number and the degree is summed; from
// here on only nodeOf and degree tell the nodes.
void straightenJunctions(Joiner& joiner);

}  // namespace join::junctions
