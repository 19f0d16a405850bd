// Vemotrace_joiner: the state the join step's rules share (which polylines
// are still there, how many live ends each node has, the partner of each
// end) and the rules that change it. Each step works on the "partner" of an
// end: the end of another polyline (or of the same one, for a ring) that
// continues it. The chains of partners are written out as the new
// polylines.
//
// The rules are defined by family: nodes, free ends, spurs, forks, hooks
// and thin corners in Vemotrace_joinends.cpp; bridging gaps in
// Vemotrace_joingaps.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "trace/Vemotrace_packed.h"
#include "trace/join/Vemotrace_joingaps.h"

namespace join {

using namespace join::gaps;

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
    // Ends led on to a sharp corner's tip (restoreTips), sorted before the
    // chains are shaped: the shaping leaves the corner where the legs' lines
    // meet (isTipCorner).
    std::vector<int32_t> tipCorners;

    Joiner(Polylines& l, const PackedBitmap& b) : Joiner(l, b, findNodes(l)) {}
    // `n`: findNodes(l), found already.
    Joiner(Polylines& l, const PackedBitmap& b, Nodes n) : lines(l), bitmap(b), nodes(std::move(n)) {
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
    void removeSpurs();

    // At node v, where four or more lines meet on thick ink, removes the
    // branches that run out to a notch or bump on the ink's edge (see
    // kEdgeSpurFactor), while more than three lines are left.
    void removeEdgeSpurs(int32_t v, double radius);

    // At node v, the end of a thick stroke whose squares fork towards the
    // corners of a flat end (see kForkFactor): the branches, short chains
    // that end free or come back to v as a small loop, are removed, so the
    // stroke ends free at v and can be moved on and bridged across a break.
    // True when it did so.
    // `radius`: the ink's half width at v.
    bool removeEndFork(int32_t v, double radius);

    // True when `end` was led on to a sharp corner's tip. Ink measured
    // across a leg there takes in the other leg's: re-centred, the corner
    // would slide off the crossing of the legs' lines.
    bool isTipCorner(int32_t end) const {
        return !tipCorners.empty() && std::binary_search(tipCorners.begin(), tipCorners.end(), end);
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
    double spurLength(int32_t end, double limit, int32_t home = kNone) const;

    // True when the chain that starts with `end` at node v is a small loop
    // back to v round no paper (see kKnotLoopFactor); `radius`: the ink's
    // half width at v.
    bool isKnotLoop(int32_t end, int32_t v, double radius) const;

    void removeChain(int32_t end);

    // Pairs the two live ends at node v.
    void pairAt(int32_t v);

    // Where thick ink turns a sharp corner, the squares leave a knot inside
    // the corner: the two legs bend into a three-way point short of the
    // corner, and a short third line runs on from there into the tip. When
    // the legs' straight courses meet near the end of that tip line, the
    // tip line goes and the legs are led straight on to where they meet.
    void restoreTips();

    // The legs ending at `a` and `b` are straight beyond the knot; where
    // their lines cross must lie on the ink near the tip line's far end.
    // If so, each leg's points within the knot are laid on the straight way
    // to the crossing, which both legs then end on.
    bool leadLegsToTip(int32_t a, int32_t b, const Point& tipEnd, double tipLength, double radius);

    // Moves the points of polyline end/2 that lie within `knot` of `end`
    // on to the way from `from` (at `knot`) to `to` (the new end), in order.
    void layStraight(int32_t end, double knot, const Point& from, const Point& to);

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
    std::vector<Hook> layBackHooks();

    void restoreHooks(const std::vector<Hook>& hooks);

    // A thin stroke that turns a sharp corner is often cut there: the two
    // legs end on pixels that touch, pointing apart, or on either side of a
    // scrap of line left at the tip. Two free ends close together on thin
    // ink, with no third free end near, are such a corner whichever way
    // they point; so are a scrap with both ends free and the two other free
    // ends near it, which the scrap then links.
    void joinThinCorners();

    // Where exactly two live ends meet, each continues the other.
    void pairMeetingEnds();

    // The outward direction of a free end, over kDirectionLength or the
    // ink's thickness, whichever is longer (unit vector; zero if unknown).
    Point direction(int32_t end, double reach) const;

    // A free end on thick ink stops short of where the stroke ends: the
    // squares fill it from its edges. It is moved on along its direction
    // to the ink's end less the ink's half width, which is where a stroke
    // drawn with a round pen ends; at a flat end (a break cut across the
    // stroke) less a quarter of its width.
    void extendFreeEnds();

    // At a flat end of thick ink the trace may turn off to one of the end's
    // corners rather than fork to both. Such a hook, no longer than a fork's
    // branch, is cut off where it turns away (its points are moved there),
    // so the end points along the stroke again. True when it did so.
    // With `trim` false it only tells whether it would, and changes nothing.
    bool trimEndHook(int32_t end, bool trim = true);

    // The trace leaves out a piece of thick ink that one square covers,
    // such as the end of a stroke beyond a break. Where the ink along `aim`
    // from `tip` ends `toEnd` on, and after a break goes on with a piece
    // that no polyline ends in, the distance from `tip` to that piece's
    // far end; zero otherwise.
    double untracedInkBeyond(const Point& tip, const Point& aim, double toEnd, double across);

    // True when a polyline that is still there ends within `radius` of p.
    // The ends are put in cells of kEndCell pixels square on the first call
    // (ends off the image in the cells at its edge).
    bool anyEndNear(const Point& p, double radius);

    // What bridging needs to know of a free end, measured once.
    FreeEnd measure(int32_t end) const {
        const Point& at = lines.endPoint(end);
        const double radius = inkRadius(bitmap, at);
        return {end, at, direction(end, std::max(kDirectionLength, 2.0 * radius)), radius};
    }

    // Makes room for `more` entries in `measured` within the room reserved
    // for it: the entries of ends measured again since are dropped first
    // (see Vemotrace_joinwork.cpp). Growing it would copy every entry.
    void makeRoomToMeasure(std::size_t more);

    const FreeEnd& freeEnd(int32_t end) {
        if (known[end] == kNone) {
            makeRoomToMeasure(1);
            known[end] = static_cast<int32_t>(measured.size());
            measured.push_back(measure(end));
        }
        return measured[known[end]];
    }

    // Gives back what only the rules read (the measured ends, the lengths,
    // the cells of ends): the chains are shaped after them, and on noise
    // their arrays would take as much again (see Vemotrace_joinwork.cpp).
    void dropRuleState();

    // Gives back the part of it that only the rules on free ends read (the
    // measured ends, the cells of ends), before the junctions are
    // straightened: on a board of thick ink every corner is a junction, and
    // their arms would come on top of it.
    void dropEndState();

    // Free ends that lie within a gap and point at each other, nearest
    // pairs first.
    // With `movedOnly`, only pairs with an end moved by extendFreeEnds are
    // new: the others were weighed before.
    void bridgeGaps(bool movedOnly = false);
};

}  // namespace join
