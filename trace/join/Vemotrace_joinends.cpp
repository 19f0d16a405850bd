// Vemotrace_joinends: the rules on nodes and free ends: spurs, the forks
// and hooks at flat ends of thick ink, the legs of sharp thick corners led
// on to their tip, hooks on to edge noise, and thin strokes cut at a sharp
// corner (Joiner, see Vemotrace_joiner.h).
#include <algorithm>
#include <cmath>

#include "trace/join/Vemotrace_joiner.h"
#include "trace/join/Vemotrace_joinshape.h"

namespace join {

namespace ends {

// A spur is at most kSpurFactor times the ink's half width at its junction
// plus kSpurSlack pixels long: squares at a corner or a bump reach out by
// about that much. Longer limits take the ends of real strokes that stop a
// pixel or two past a junction.
constexpr double kSpurSlack = 1.0;
constexpr double kSpurFactor = 1.0;
// Where a thick stroke ends flat (cut across by a break, or drawn with a
// square pen), its squares fork towards the end's two corners: branches of
// up to kForkFactor times the ink's half width plus kSpurSlack, which is as
// far as a corner lies from the middle of the last square. Only where all
// lines at a node but one are that short does the node count as such an end.
constexpr double kForkFactor = 2.0;
// Thinner strokes fork no further than a spur reaches; there such short
// lines are the strokes of small letters.
constexpr double kForkHalfWidth = 2.5;
// Forks and hooks are looked for as if the ink were at most this thick
// (half width, pixels): a 1 mm pen at 600 dpi, whose squares fork and loop
// to the corners of its end as far as 25 pixels; a longer branch at the
// end of a wider pen is a stroke of its own more often than a fork.
constexpr double kMostForkRadius = 12.0;
// Near a break the squares put a fork off the stroke's middle, and the
// stroke bends into it: its direction there may be some 14 degrees off, so
// the bounds on a branch's end along and across it widen by kForkSlant
// times the other.
constexpr double kForkSlant = 0.25;
// A stroke's end that turns by more than this (cosine of 30 degrees) within
// a fork's reach of its tip hooks off to a corner.
constexpr double kHookCosine = 0.866;

// A tip line left in a sharp thick corner is at most kTipFactor times the
// ink's half width at its knot plus kTipSlack pixels long, and the corner
// restored lies within kTipReach half widths (plus a pixel) of its end,
// the larger of the knot's and the corner's.
constexpr double kTipFactor = 3.0;
constexpr double kTipSlack = 2.0;
constexpr double kTipReach = 1.5;
// The legs of such a corner meet at less than 100 degrees (cosine), and the
// tip line runs within 30 degrees of the middle between them.
constexpr double kTipCornerCosine = -0.17;
constexpr double kTipAimCosine = 0.866;
// A free end's last step of at most kNoiseHookLength pixels that turns
// aside by more than 60 degrees (cosine kNoiseHookCosine) is a hook on to
// edge noise.
constexpr double kNoiseHookLength = 1.5;
constexpr double kNoiseHookCosine = 0.5;
// Two free ends on thin ink within kNeighbourDistance of each other and
// with no other free end within kLoneDistance meet at a corner.
constexpr double kLoneDistance = 3.0;
// Ink counts as thin up to this half width: three pixels across at most.
constexpr double kThinRadius = 2.0;
// Squares round a bump on the edge of thick ink can leave a small loop
// that leaves a junction and comes back to it, round no paper: at most
// kKnotLoopFactor times the ink's half width long (a circle of that
// radius), on ink at least kKnotLoopInk wide. A loop round paper is a hole
// in the ink, which may be drawn; where thinner strokes cross, a loop may
// be the way of one of them.
constexpr double kKnotLoopFactor = 2.0 * 3.14159;
constexpr double kKnotLoopInk = 8.0;

// Where a thick stroke's edge has a notch or a bump, the squares may run a
// line from a junction out to it: a branch of up to kEdgeSpurFactor half
// widths (plus kSpurSlack) whose free end lies within kEdgeSpurReach of the
// paper, at a junction of four or more lines on ink at least kEdgeSpurInk
// wide. A stroke's own end lies about a half width inside its ink.
constexpr double kEdgeSpurFactor = 2.0;
constexpr double kEdgeSpurReach = 1.5;
constexpr double kEdgeSpurInk = 12.0;

}  // namespace ends

using namespace ends;
using shape::kCornerSine;

void Joiner::removeSpurs() {
    struct Spur {
        int32_t end;  // at the junction
        double length;
    };
    std::vector<Spur> spurs;
    const auto nodeCount = static_cast<int32_t>(degree.size());
    // The ink at every junction, which this step and the junctions'
    // straightening need, measured two at a time.
    inTwoThreads(degree.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t v = first; v < last; ++v) {
            if (degree[v] >= 3) radiusAt(static_cast<int32_t>(v));
        }
    });
    for (int32_t v = 0; v < nodeCount; ++v) {
        if (degree[v] < 3) continue;
        const double radius = radiusAt(v);
        if (2.0 * radius >= kThickInk && removeEndFork(v, radius)) continue;
        const double limit = kSpurSlack + kSpurFactor * radius;
        spurs.clear();
        for (int32_t k = nodes.first[v]; k < nodes.first[v + 1]; ++k) {
            const int32_t end = nodes.order[k];
            if (removed[end / 2]) continue;
            if (isLoop(end, v)) {
                if (isKnotLoop(end, v, radius)) spurs.push_back({end, 0.0});
                continue;
            }
            const double length = spurLength(end, limit);
            if (length <= limit) spurs.push_back({end, length});
        }
        std::sort(spurs.begin(), spurs.end(), [](const Spur& a, const Spur& b) { return a.length < b.length; });
        const std::size_t keep = spurs.size() == static_cast<std::size_t>(degree[v]) ? 2 : 0;
        for (std::size_t k = 0; k + keep < spurs.size(); ++k) removeChain(spurs[k].end);
        removeEdgeSpurs(v, radius);
        if (degree[v] == 2) pairAt(v);
    }
}

void Joiner::removeEdgeSpurs(int32_t v, double radius) {
    if (degree[v] < 4 || 2.0 * radius < kEdgeSpurInk) return;
    const double limit = kSpurSlack + kEdgeSpurFactor * radius;
    for (int32_t k = nodes.first[v]; k < nodes.first[v + 1] && degree[v] > 3; ++k) {
        const int32_t end = nodes.order[k];
        if (removed[end / 2] || isLoop(end, v)) continue;
        if (!(spurLength(end, limit) <= limit)) continue;
        if (inkRadius(bitmap, lines.endPoint(chainEnd(end))) > kEdgeSpurReach) continue;
        removeChain(end);
    }
}

bool Joiner::removeEndFork(int32_t v, double radius) {
    // First with the limit of the thickest ink measured, to find the
    // one long line (the longest; a short piece of a stroke between two
    // breaks may be no longer than that limit); then with the limit of the
    // ink across it, which the stroke must pass and no branch.
    constexpr double kMostBranch = kSpurSlack + kForkFactor * kMostForkRadius;
    int32_t stroke = kNone;
    double strokeLength = 0.0;
    double longestBranch = 0.0;
    for (int32_t k = nodes.first[v]; k < nodes.first[v + 1]; ++k) {
        const int32_t end = nodes.order[k];
        if (removed[end / 2]) continue;
        // A loop runs to both corners and back: it counts half.
        const double length = spurLength(end, 2.0 * kMostBranch, v);
        const double branch = isLoop(end, v) ? length / 2.0 : length;
        if (branch > kMostBranch && strokeLength > kMostBranch) return false;
        if (branch > strokeLength) {
            if (stroke != kNone) longestBranch = std::max(longestBranch, strokeLength);
            stroke = end;
            strokeLength = branch;
        } else {
            longestBranch = std::max(longestBranch, branch);
        }
    }
    if (stroke == kNone) return false;
    // The stroke's direction into v, and its half width a little before
    // v: at v other lines' ink may widen it.
    const double reach = std::max(kDirectionLength, 2.0 * radius);
    const Point aim = direction(stroke, reach);
    if (aim.x == 0.0 && aim.y == 0.0) return false;
    const Point& tip = lines.endPoint(stroke);
    const double back = std::min(reach, lengths[stroke / 2]) / 2;
    const Point at{tip.x - back * aim.x, tip.y - back * aim.y};
    const double across = (inkExtent(bitmap, at, {-aim.y, aim.x}) + inkExtent(bitmap, at, {aim.y, -aim.x})) / 2;
    const double branchLimit = kSpurSlack + kForkFactor * across;
    if (across < kForkHalfWidth || longestBranch > branchLimit || strokeLength <= branchLimit) return false;
    // The branches end on the stroke's own ink ahead of v, where it
    // ends: a short stroke that crosses there leaves it. A branch may also
    // run back beside the stroke inside its ink (the squares of a wide
    // pen's end step back along its edge); a stroke that leaves there
    // ends off the ink or beyond its half width.
    const double ahead = inkExtent(bitmap, tip, aim, kMostBranch) + 0.5;
    for (int32_t k = nodes.first[v]; k < nodes.first[v + 1]; ++k) {
        const int32_t end = nodes.order[k];
        if (end == stroke || removed[end / 2]) continue;
        const Point& far = lines.endPoint(chainEnd(end));
        const double along = (far.x - tip.x) * aim.x + (far.y - tip.y) * aim.y;
        const double aside = std::abs((far.x - tip.x) * aim.y - (far.y - tip.y) * aim.x);
        if (along > ahead + kForkSlant * aside || aside > across + 0.5 + kForkSlant * std::abs(along)) return false;
        if (along < -1.0 && (aside > across || !isInkAt(bitmap, far))) return false;
    }
    for (int32_t k = nodes.first[v]; k < nodes.first[v + 1]; ++k) {
        const int32_t end = nodes.order[k];
        if (end != stroke && !removed[end / 2]) removeChain(end);
    }
    // A free end that the first bridging has not weighed.
    movedEnd[stroke] = 1;
    return true;
}

bool Joiner::isKnotLoop(int32_t end, int32_t v, double radius) const {
    if (2.0 * radius < kKnotLoopInk) return false;
    const double limit = kKnotLoopFactor * radius;
    if (!(spurLength(end, limit, v) <= limit)) return false;  // a damaged file's NaN too
    std::vector<Point> ring;
    for (int32_t at = end, steps = 0; at != kNone && steps < lines.count(); at = partner[at ^ 1], ++steps) {
        appendPolyline(lines, at, ring);
        if (nodes.nodeOf[at ^ 1] == v) break;
    }
    return !enclosesPaper(bitmap, ring);
}

double Joiner::spurLength(int32_t end, double limit, int32_t home) const {
    double length = 0.0;
    for (int32_t steps = 0; steps < lines.count(); ++steps) {
        const int32_t far = end ^ 1;
        length += lengths[end / 2];
        if (length > limit) break;
        const int32_t next = partner[far];
        if (next == kNone) return isFree(far) || nodes.nodeOf[far] == home ? length : limit + 1.0;
        length += distance(lines.endPoint(far), lines.endPoint(next));
        end = next;
    }
    return limit + 1.0;
}

void Joiner::removeChain(int32_t end) {
    while (end != kNone && !removed[end / 2]) {
        remove(end / 2);
        const int32_t next = partner[end ^ 1];
        partner[end] = partner[end ^ 1] = kNone;
        if (next != kNone) partner[next] = kNone;
        end = next;
    }
}

void Joiner::pairAt(int32_t v) {
    int32_t found[2] = {kNone, kNone};
    int32_t n = 0;
    for (int32_t k = nodes.first[v]; k < nodes.first[v + 1] && n < 2; ++k) {
        if (!removed[nodes.order[k] / 2]) found[n++] = nodes.order[k];
    }
    partner[found[0]] = found[1];
    partner[found[1]] = found[0];
}

void Joiner::restoreTips() {
    const auto nodeCount = static_cast<int32_t>(degree.size());
    for (int32_t v = 0; v < nodeCount; ++v) {
        if (degree[v] != 3) continue;
        int32_t ends[3];
        int32_t n = 0;
        for (int32_t k = nodes.first[v]; k < nodes.first[v + 1] && n < 3; ++k) {
            if (!removed[nodes.order[k] / 2]) ends[n++] = nodes.order[k];
        }
        if (n != 3) continue;
        // Most junctions have no short line with a free end: they are
        // passed over before the ink is read.
        const auto isTipLine = [&](int32_t end, double radius) {
            return lengths[end / 2] <= kTipFactor * radius + kTipSlack && partner[end] == kNone &&
                   partner[end ^ 1] == kNone && isFree(end ^ 1);
        };
        if (!isTipLine(ends[0], kMaxInkRadius) && !isTipLine(ends[1], kMaxInkRadius) &&
            !isTipLine(ends[2], kMaxInkRadius)) {
            continue;
        }
        const double radius = radiusAt(v);
        if (2.0 * radius < kThickInk) continue;
        for (int t = 0; t < 3; ++t) {
            const int32_t tip = ends[t];
            const double tipLength = lengths[tip / 2];
            if (!isTipLine(tip, radius)) continue;
            if (leadLegsToTip(ends[(t + 1) % 3], ends[(t + 2) % 3], lines.endPoint(tip ^ 1), tipLength, radius)) {
                remove(tip / 2);
                pairAt(v);
                break;
            }
        }
    }
}

bool Joiner::leadLegsToTip(int32_t a, int32_t b, const Point& tipEnd, double tipLength, double radius) {
    const double knot = tipLength + radius;  // how far the legs bend
    // The legs' courses are taken over 2 half widths past the knot, or
    // as much of that as a short leg (the sides of an A) has.
    const double reach = knot + std::max(2.0 * radius, kDirectionLength);
    const double reachA = std::min(reach, lengths[a / 2]), reachB = std::min(reach, lengths[b / 2]);
    if (reachA < knot + kDirectionLength || reachB < knot + kDirectionLength) return false;
    std::size_t vertex = 0;
    const Point a0 = pointAlong(lines, a, knot, vertex), a1 = pointAlong(lines, a, reachA, vertex);
    const Point b0 = pointAlong(lines, b, knot, vertex), b1 = pointAlong(lines, b, reachB, vertex);
    const Point u{a0.x - a1.x, a0.y - a1.y}, w{b0.x - b1.x, b0.y - b1.y};
    const double lu = std::hypot(u.x, u.y), lw = std::hypot(w.x, w.y);
    if (lu < 1e-9 || lw < 1e-9) return false;
    const double sine = (u.x * w.y - u.y * w.x) / (lu * lw);
    if (std::abs(sine) < kCornerSine) return false;
    // Only a sharp corner leaves a tip line, and it runs into the corner
    // between the legs.
    if ((u.x * w.x + u.y * w.y) / (lu * lw) < kTipCornerCosine) return false;
    const Point middle{u.x / lu + w.x / lw, u.y / lu + w.y / lw};
    const Point& knotAt = lines.endPoint(a);
    const double tipWay = distance(knotAt, tipEnd), middleLength = std::hypot(middle.x, middle.y);
    if (tipWay < 1e-9 || middleLength < 1e-9 ||
        ((tipEnd.x - knotAt.x) * middle.x + (tipEnd.y - knotAt.y) * middle.y) / (tipWay * middleLength) <
            kTipAimCosine) {
        return false;
    }
    // a0 + s u = b0 + r w
    const double s = ((b0.x - a0.x) * w.y - (b0.y - a0.y) * w.x) / (u.x * w.y - u.y * w.x);
    const double r = ((b0.x - a0.x) * u.y - (b0.y - a0.y) * u.x) / (u.x * w.y - u.y * w.x);
    if (s <= 0.0 || r <= 0.0) return false;
    const Point x{a0.x + s * u.x, a0.y + s * u.y};
    if (!std::isfinite(x.x) || !std::isfinite(x.y)) return false;
    // The knot may lie on the inner side of the corner, where the ink is
    // thinner than at the corner itself: the larger half width counts.
    const double atCorner = inkRadius(bitmap, x);
    if (atCorner <= 0.0 || distance(x, tipEnd) > kTipReach * std::max(radius, atCorner) + 1.0) return false;
    layStraight(a, knot, a0, x);
    layStraight(b, knot, b0, x);
    tipCorners.push_back(a);
    tipCorners.push_back(b);
    return true;
}

void Joiner::layStraight(int32_t end, double knot, const Point& from, const Point& to) {
    const int32_t i = end / 2;
    const std::size_t count = lines.size(i);
    const auto point = [&](std::size_t k) -> Point& {
        return lines.fromEnd(end, k);
    };
    double walked = 0.0;
    Point previous = point(0);
    point(0) = to;
    for (std::size_t k = 1; k < count; ++k) {
        walked += distance(previous, point(k));
        if (walked >= knot) break;
        previous = point(k);
        const double f = walked / knot;
        point(k) = {to.x + (from.x - to.x) * f, to.y + (from.y - to.y) * f};
    }
    lengths[i] = polylineLength(lines, i);
}

std::vector<Joiner::Hook> Joiner::layBackHooks() {
    std::vector<Hook> hooks;
    for (int32_t end = 0; end < 2 * lines.count(); ++end) {
        const int32_t i = end / 2;
        if (removed[i] || lines.size(i) < 3 || partner[end] != kNone || !isFree(end)) continue;
        Point& p = lines.fromEnd(end, 0);
        const Point& q = lines.fromEnd(end, 1);
        const Point& r = lines.fromEnd(end, 2);
        const double hook = distance(p, q), leg = distance(q, r);
        if (hook > kNoiseHookLength || hook < 1e-9 || leg < 1e-9) continue;
        const double turn = ((p.x - q.x) * (q.x - r.x) + (p.y - q.y) * (q.y - r.y)) / (hook * leg);
        if (turn > kNoiseHookCosine || inkRadius(bitmap, q) > 1.0) continue;
        hooks.push_back({end, p});
        p = q;
        known[end] = kNone;
        movedEnd[end] = 1;
    }
    return hooks;
}

void Joiner::restoreHooks(const std::vector<Hook>& hooks) {
    for (const Hook& h : hooks) {
        if (partner[h.end] == kNone) {
            lines.fromEnd(h.end, 0) = h.was;
            known[h.end] = kNone;
        } else {
            lengths[h.end / 2] = polylineLength(lines, h.end / 2);
        }
    }
}

void Joiner::joinThinCorners() {
    const auto cellOf = [](double v) { return static_cast<int64_t>(pixelOf(v / kLoneDistance)); };
    // Sorted by bucket. Each holds only what the search reads: on noise
    // nearly every end is thin and free, and these live beside `measured`.
    // An end not measured yet is not kept measured (no rule reads it after
    // this one): its place and its ink's half width are all it needs.
    struct ThinEnd {
        int64_t bucket;
        Point at;
        int32_t end;
    };
    std::vector<ThinEnd> free;
    std::size_t candidates = 0;
    for (int32_t end = 0; end < 2 * lines.count(); ++end) {
        candidates += !removed[end / 2] && partner[end] == kNone && isFree(end) ? 1 : 0;
    }
    // Reserved, not grown: growing the array would hold it twice over.
    free.reserve(candidates);
    for (int32_t end = 0; end < 2 * lines.count(); ++end) {
        if (removed[end / 2] || partner[end] != kNone || !isFree(end)) continue;
        const bool isKnown = known[end] != kNone;
        const Point at = isKnown ? measured[known[end]].at : lines.endPoint(end);
        if ((isKnown ? measured[known[end]].radius : inkRadius(bitmap, at)) > kThinRadius) continue;
        free.push_back({cellOf(at.y) * kBucketRow + cellOf(at.x), at, end});
    }
    std::sort(free.begin(), free.end(), [](const ThinEnd& a, const ThinEnd& b) { return a.bucket < b.bucket; });
    // The free ends within kLoneDistance of free[a], other than itself.
    // For the ends in their order (`inOrder`) the three rows of buckets
    // around free[a] begin at or after from[0..2], which only grow;
    // other ends are looked up. No rule here acts on an end with more
    // than kMostNear near it, so the search stops at one more: in dither
    // and noise every bucket holds ends.
    constexpr std::size_t kMostNear = 3;
    std::vector<std::size_t> near;
    std::size_t from[3] = {0, 0, 0};
    const auto findNear = [&](std::size_t a, bool inOrder) {
        near.clear();
        for (int row = 0; row < 3 && near.size() <= kMostNear; ++row) {
            const int64_t key = free[a].bucket + (row - 1) * kBucketRow - 1;
            std::size_t b = 0;
            if (inOrder) {
                while (from[row] < free.size() && free[from[row]].bucket < key) ++from[row];
                b = from[row];
            } else {
                b = static_cast<std::size_t>(
                    std::lower_bound(free.begin(), free.end(), key,
                                     [](const ThinEnd& e, int64_t k) { return e.bucket < k; }) -
                    free.begin());
            }
            for (; b < free.size() && free[b].bucket <= key + 2 && near.size() <= kMostNear; ++b) {
                const double dx = free[b].at.x - free[a].at.x, dy = free[b].at.y - free[a].at.y;
                if (b != a && dx * dx + dy * dy <= kLoneDistance * kLoneDistance) near.push_back(b);
            }
        }
    };
    const auto link = [&](int32_t ea, int32_t eb) {
        partner[ea] = eb;
        partner[eb] = ea;
    };
    const auto open = [&](std::size_t k) { return partner[free[k].end] == kNone; };
    // free[a] is the first end of a scrap; `near` holds the ends near it.
    std::vector<std::size_t> others;
    const auto linkScrap = [&](std::size_t a) {
        const int32_t ea = free[a].end;
        others.clear();
        std::size_t scrapEnd = a;
        for (std::size_t k : near) {
            if (free[k].end == (ea ^ 1)) {
                scrapEnd = k;
            } else {
                others.push_back(k);
            }
        }
        if (scrapEnd == a || !open(scrapEnd)) return;
        findNear(scrapEnd, false);
        for (std::size_t k : near) {
            if (k != a && std::find(others.begin(), others.end(), k) == others.end()) others.push_back(k);
        }
        if (others.size() != 2 || !open(others[0]) || !open(others[1]) ||
            free[others[0]].end / 2 == free[others[1]].end / 2) {
            return;
        }
        const ThinEnd& p = free[others[0]];
        const ThinEnd& q = free[others[1]];
        const bool straight = distance(p.at, free[a].at) + distance(q.at, free[scrapEnd].at) <=
                              distance(p.at, free[scrapEnd].at) + distance(q.at, free[a].at);
        link(p.end, straight ? ea : ea ^ 1);
        link(q.end, straight ? ea ^ 1 : ea);
    };
    for (std::size_t a = 0; a < free.size(); ++a) {
        if (!open(a)) continue;
        findNear(a, true);
        const int32_t ea = free[a].end;
        if (ea % 2 == 0 && lengths[ea / 2] <= kLoneDistance) {
            linkScrap(a);
            continue;
        }
        if (near.size() != 1) continue;
        const std::size_t b = near[0];
        const int32_t eb = free[b].end;
        if (!open(b) || ea / 2 == eb / 2 || distance(free[a].at, free[b].at) > kNeighbourDistance) continue;
        findNear(b, false);
        if (near.size() == 1) link(ea, eb);
    }
}

void Joiner::pairMeetingEnds() {
    const auto nodeCount = static_cast<int32_t>(degree.size());
    for (int32_t v = 0; v < nodeCount; ++v) {
        if (degree[v] == 2) pairAt(v);
    }
}

bool Joiner::trimEndHook(int32_t end, bool trim) {
    const int32_t i = end / 2;
    const std::size_t count = lines.size(i);
    const auto point = [&](std::size_t k) -> Point& {
        return lines.fromEnd(end, k);
    };
    constexpr double kMostHook = kSpurSlack + kForkFactor * kMostForkRadius;
    double hook = 0.0;
    for (std::size_t k = 1; k + 1 < count; ++k) {
        hook += distance(point(k - 1), point(k));
        if (hook > kMostHook) return false;
        // The stroke's direction up to point k, over kDirectionLength.
        const Point& bend = point(k);
        std::size_t j = k + 1;
        while (j + 1 < count && closerThan(point(j), bend, kDirectionLength)) ++j;
        const double before = distance(point(j), bend);
        if (before < kDirectionLength) return false;
        const Point u{(bend.x - point(j).x) / before, (bend.y - point(j).y) / before};
        const Point& tip = point(0);
        const double off = distance(bend, tip);
        if ((tip.x - bend.x) * u.x + (tip.y - bend.y) * u.y >= kHookCosine * off) continue;
        // Thin ink is passed over on two pixels before it is measured.
        const double h = kForkHalfWidth - 0.5;
        if (!isInkAt(bitmap, {bend.x - h * u.y, bend.y + h * u.x}) ||
            !isInkAt(bitmap, {bend.x + h * u.y, bend.y - h * u.x})) {
            continue;
        }
        const double across = (inkExtent(bitmap, bend, {-u.y, u.x}) + inkExtent(bitmap, bend, {u.y, -u.x})) / 2;
        if (across < kForkHalfWidth || hook > kSpurSlack + kForkFactor * across) continue;
        // The tip must lie on the stroke's own ink, where it ends: a
        // short stroke that turns away leaves it.
        const double along = (tip.x - bend.x) * u.x + (tip.y - bend.y) * u.y;
        const double aside = std::abs((tip.x - bend.x) * u.y - (tip.y - bend.y) * u.x);
        if (aside < across / 2 || aside > across + 0.5) continue;
        if (along > inkExtent(bitmap, bend, u, kMostHook) + 0.5) continue;
        // A tip in the middle of the ink is the round end of a curve.
        if (inkRadius(bitmap, tip) > kCornerInk) continue;
        if (trim) {
            for (std::size_t h = 0; h < k; ++h) point(h) = bend;
            lengths[i] -= hook;
        }
        return true;
    }
    return false;
}

}  // namespace join
