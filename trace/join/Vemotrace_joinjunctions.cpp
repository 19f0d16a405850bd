// Vemotrace_joinjunctions: straightening junctions (see the header).
#include "trace/join/Vemotrace_joinjunctions.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "trace/join/Vemotrace_joinshape.h"

namespace join::junctions {

using namespace join::shape;

// Junctions on ink this wide (pixels, measured at the junction) or wider
// are moved; on thinner ink the trace's junction is within a pixel anyway,
// and only knots (on ink kThickInk wide or more) are undone.
constexpr double kKnotInk = 5.0;
// A junction's short link (a knot) is at most kKnotLink times the ink's
// half width there (plus a pixel) long. An arm's straight part strays at
// most kArmStraightness pixels from its line, and the arms' lines must
// spread at least kMinSpread (the smallest eigenvalue of the sum of their
// normals' outer products: 1 - cos of the angle for two lines).
constexpr double kKnotLink = 2.0;
constexpr double kArmStraightness = 1.0;
constexpr double kMinSpread = 0.1;
// At a lone three-way junction, within the junction's own ink (where the
// other lines widen the arm's), the course an arm's straight piece
// replaces lies within kArmCourse half widths (plus a pixel) of it: where
// a stroke meets another at a slant, the squares pull the junction and the
// arms into the acute side, up to about two and a half half widths off.
// Further out, and at other junctions, within one.
constexpr double kArmCourse = 2.5;
// An arm's straight part is looked for up to kArmFurther half widths
// further out than where the junction's ink ends, and no nearer the arm's
// far end than that.
constexpr double kArmFurther = 3.0;

// Where thick strokes cross or meet, the squares that cover the ink place
// the junction off the strokes' centre lines, often as two three-way points
// with a short link between them (a knot), and the arms bend towards it for
// about a stroke width. Each junction on thick ink, with the junctions its
// short links reach, is moved to the point nearest to the straight
// continuations of its arms (least squares), the links go, and each arm
// runs straight from there to where it leaves the junction's ink.
//
// One arm, seen from the junction: polyline end `end` and how far its
// straight part begins (`cut`, pixels along it).
struct Arm {
    int32_t end;
    double cut;
    double clear;             // where the other lines' ink no longer widens it
    double half;              // half the stroke's width
    std::size_t firstSample;  // its samples (see sampleArm) among the group's
    std::size_t sampleCount;
};

// The points of polyline `end / 2` every pixel along it from `end`:
// samples[s] lies s pixels along, up to `reach` or the polyline's far end.
void sampleArm(const Polylines& lines, int32_t end, double reach, std::vector<Point>& samples) {
    const int32_t i = end / 2;
    const std::size_t count = lines.size(i);
    const auto at = [&](std::size_t k) -> const Point& {
        return lines.fromEnd(end, k);
    };
    samples.push_back(at(0));
    double done = 0.0;  // how far along at(k) lies
    double next = 1.0;
    for (std::size_t k = 0; k + 1 < count && next <= reach; ++k) {
        const double step = distance(at(k), at(k + 1));
        for (; next <= done + step && next <= reach; next += 1.0) {
            const double t = (next - done) / step;
            samples.push_back({at(k).x + (at(k + 1).x - at(k).x) * t, at(k).y + (at(k + 1).y - at(k).y) * t});
        }
        done += step;
    }
}

// The ink's width across the arm at samples[at], each side measured up to
// `reach` (and one side only when it reaches that far).
double widthAcross(const PackedBitmap& bitmap, std::span<const Point> samples, std::size_t at,
                   double reach = kRecentreReach) {
    const Point& before = samples[at > 0 ? at - 1 : 0];
    const Point& after = samples[std::min(at + 1, samples.size() - 1)];
    const double d = distance(before, after);
    if (!(d > 0.0)) return 0.0;
    const Point n{-(after.y - before.y) / d, (after.x - before.x) / d};
    const double a = inkExtent(bitmap, samples[at], n, reach);
    if (a >= reach) return a;  // as wide as asked about already
    return a + inkExtent(bitmap, samples[at], {-n.x, -n.y}, reach);
}

// The line through the arm's samples from `from` to `to` pixels along it: a
// point on it and its unit direction. False when the samples stray more
// than kArmStraightness from it (a curve or a corner).
bool fitArm(std::span<const Point> samples, double from, double to, Point& centre, Point& along) {
    const auto first = static_cast<std::size_t>(std::ceil(from));
    const std::size_t last = std::min(static_cast<std::size_t>(to), samples.size() - 1);
    if (last < first + 2) return false;
    const auto count = static_cast<double>(last - first + 1);
    Point mean{};
    for (std::size_t k = first; k <= last; ++k) mean.x += samples[k].x, mean.y += samples[k].y;
    mean.x /= count;
    mean.y /= count;
    double xx = 0.0, xy = 0.0, yy = 0.0;
    for (std::size_t k = first; k <= last; ++k) {
        const double dx = samples[k].x - mean.x, dy = samples[k].y - mean.y;
        xx += dx * dx, xy += dx * dy, yy += dy * dy;
    }
    const double angle = 0.5 * std::atan2(2.0 * xy, xx - yy);
    const Point u{std::cos(angle), std::sin(angle)};
    for (std::size_t k = first; k <= last; ++k) {
        if (std::abs((samples[k].x - mean.x) * u.y - (samples[k].y - mean.y) * u.x) > kArmStraightness) return false;
    }
    centre = mean;
    along = u;
    return true;
}

// Whether arm `arm` may run straight from `centre` to its cut: the
// straight piece lies on the ink, and the course it replaces lies within
// the stroke's half width (and a pixel) of it, or within `course` half
// widths inside the junction's ink.
bool straightArmFits(const Polylines& lines, const PackedBitmap& bitmap, const Arm& arm,
                     std::span<const Point> samples, const Point& centre, double course) {
    std::size_t vertex = 0;
    const Point cut = pointAlong(lines, arm.end, arm.cut, vertex);
    const double length = distance(centre, cut);
    for (double s = 0.5; s < length; s += 1.0) {
        const double t = s / length;
        if (!isInkAt(bitmap, {centre.x + (cut.x - centre.x) * t, centre.y + (cut.y - centre.y) * t})) return false;
    }
    for (std::size_t s = 0; s < samples.size() && static_cast<double>(s) < arm.cut; ++s) {
        const double tolerance = (static_cast<double>(s) < arm.clear ? course : 1.0) * arm.half + 1.0;
        if (segmentDistance(samples[s], centre, cut) > tolerance) return false;
    }
    return true;
}

// How one group of junctions is straightened: the arms and, when the
// group moves, the point they meet at. One plan is reused group after
// group: a board of thick ink has a junction at every corner.
struct JunctionPlan {
    std::vector<Arm> arms;
    bool moves = false;
    Point centre;
};

// The arms of a group, appended to `ends`: every end at its nodes but the
// links' and the removed polylines'.
void findArms(const Joiner& joiner, std::span<const std::pair<int32_t, int32_t>> members,
              const std::vector<int32_t>& links, std::vector<int32_t>& ends) {
    const Nodes& nodes = joiner.nodes;
    for (const auto& [root, v] : members) {
        for (int32_t e = nodes.first[v]; e < nodes.first[v + 1]; ++e) {
            const int32_t end = nodes.order[e];
            if (!joiner.removed[end / 2] && !std::binary_search(links.begin(), links.end(), end / 2)) {
                ends.push_back(end);
            }
        }
    }
}

// Plans the group, whose arms `plan` holds, on the lines as they are:
// every arm's fit is read from its polyline and the bitmap, nothing is
// changed. The nodes' radii were measured when the groups were found.
void planJunction(const Joiner& joiner, std::span<const std::pair<int32_t, int32_t>> members, JunctionPlan& plan,
                  std::vector<Point>& samples) {
    const Polylines& lines = joiner.lines;
    const PackedBitmap& bitmap = joiner.bitmap;
    const Nodes& nodes = joiner.nodes;
    plan.moves = false;
    samples.clear();
    Point old{};
    double reach = 0.0;
    for (const auto& [root, v] : members) {
        const Point& at = lines.endPoint(nodes.order[nodes.first[v]]);
        old.x += at.x, old.y += at.y;
        reach = std::max(reach, joiner.nodeRadius[v]);
    }
    old.x /= static_cast<double>(members.size());
    old.y /= static_cast<double>(members.size());
    // The junction moves at most two half widths of the widest arm, or of
    // the ink at the junction: where a stroke meets another at a slant, the
    // squares pull the junction into the acute side, near the paper, where
    // the ink's half width is much less than the strokes'.
    double widest = reach;
    // Least squares: the point p that minimises the sum of squared
    // distances to the arms' lines solves A p = b.
    double axx = 0.0, axy = 0.0, ayy = 0.0, bx = 0.0, by = 0.0;
    int fitted = 0;
    for (Arm& arm : plan.arms) {
        const double length = joiner.lengths[arm.end / 2];
        // The other lines' ink widens the arm's near the junction; its
        // straight part begins half a stroke width past where the ink
        // is again as wide as further out.
        const double probe = std::min(0.5 * length, 3.0 * reach + 2.0);
        arm.firstSample = samples.size();
        sampleArm(lines, arm.end, probe + 1.0, samples);
        arm.sampleCount = samples.size() - arm.firstSample;
        std::span<const Point> mine(samples.data() + arm.firstSample, arm.sampleCount);
        const auto probeAt = std::min(static_cast<std::size_t>(probe), mine.size() - 1);
        const double width = widthAcross(bitmap, mine, probeAt);
        // Looked for two pixels at a time, then a pixel back; neither
        // side needs measuring further than the whole width.
        const auto isClear = [&](std::size_t at) {
            return widthAcross(bitmap, mine, at, width + 2.0) <= width + 1.0;
        };
        double clear = static_cast<double>(probeAt);
        for (std::size_t at = 2; at < probeAt; at += 2) {
            if (isClear(at)) {
                clear = static_cast<double>(isClear(at - 1) ? at - 1 : at);
                break;
            }
        }
        const double half = width / 2;
        const double from = clear + half + 1.0;
        // A long stretch evens out the trace's steps; where the arm
        // curves, a shorter one may still be straight.
        const double stretch = std::max(4.0, 6.0 * half), shortStretch = std::max(4.0, 3.0 * half);
        const double further = kArmFurther * half;
        arm.cut = std::min(from, 0.5 * length);
        arm.clear = clear;
        arm.half = half;
        widest = std::max(widest, half);
        // The arm's samples, up to `reach` along it (this arm's are the
        // group's last).
        const auto resample = [&](double reach) {
            samples.resize(arm.firstSample);
            sampleArm(lines, arm.end, std::max(probe + 1.0, reach), samples);
            arm.sampleCount = samples.size() - arm.firstSample;
            mine = {samples.data() + arm.firstSample, arm.sampleCount};
        };
        resample(from + stretch);
        if (length < from + std::max(3.0, 2.0 * half)) continue;
        // The straight part from `start`, ending no further than `last`.
        Point c, u;
        const auto fits = [&](double start, double last) {
            const double to = std::min(start + stretch, last), shortTo = std::min(start + shortStretch, last);
            return fitArm(mine, start, to, c, u) || (shortTo < to && fitArm(mine, start, shortTo, c, u));
        };
        bool found = fits(from, length - 1.0);
        // Where a stroke meets another at a slant, the arm bends on for
        // about a pen's width past the other's ink: its straight part is
        // looked for further out, a half width at a time, but never as
        // near its far end, where it may bend into the next junction.
        for (double start = from + half; !found && start <= from + further + 1e-9; start += half) {
            if (start + shortStretch > length - further) break;
            // Sampled that far only here: on a board of thick ink every
            // corner is a junction, and a group's samples are held at once.
            if (start == from + half) resample(from + further + stretch);
            found = fits(start, length - further);
            if (found) arm.cut = std::min(start, 0.5 * length);
        }
        if (!found) continue;
        const double nx = -u.y, ny = u.x;
        axx += nx * nx, axy += nx * ny, ayy += ny * ny;
        const double along = nx * c.x + ny * c.y;
        bx += nx * along, by += ny * along;
        ++fitted;
    }
    if (fitted < 2) return;
    const double det = axx * ayy - axy * axy;
    const double trace = axx + ayy;
    const double smallest = (trace - std::sqrt(std::max(0.0, trace * trace - 4.0 * det))) / 2;
    if (smallest < kMinSpread) return;
    const Point centre{(ayy * bx - axy * by) / det, (axx * by - axy * bx) / det};
    if (!std::isfinite(centre.x) || !std::isfinite(centre.y) || distance(centre, old) > 2.0 * widest ||
        inkRadius(bitmap, centre) <= 0.0) {
        return;
    }
    // The straight arms must keep to the ink and to the course they
    // replace; a junction of curves or of many lines close together
    // stays as it is.
    const double course = members.size() == 1 && plan.arms.size() == 3 ? kArmCourse : 1.0;
    for (const Arm& arm : plan.arms) {
        const std::span<const Point> mine(samples.data() + arm.firstSample, arm.sampleCount);
        if (!straightArmFits(lines, bitmap, arm, mine, centre, course)) return;
    }
    plan.moves = true;
    plan.centre = centre;
}

// Moves the group's junction to the plan's centre and lays its arms
// straight on to it; its links go and its nodes become the first one.
void straighten(Joiner& joiner, const JunctionPlan& plan, std::span<const std::pair<int32_t, int32_t>> members,
                const std::vector<std::pair<int32_t, int32_t>>& linksByGroup) {
    Polylines& lines = joiner.lines;
    Nodes& nodes = joiner.nodes;
    const Point centre = plan.centre;
    for (const Arm& arm : plan.arms) {
        const int32_t i = arm.end / 2;
        const auto at = [&](std::size_t k) -> Point& { return lines.fromEnd(arm.end, k); };
        std::size_t vertex = 0;
        const Point cut = pointAlong(lines, arm.end, arm.cut, vertex);
        if (vertex > 0) {
            at(vertex) = cut;
            const double dx = cut.x - centre.x, dy = cut.y - centre.y;
            const double squared = dx * dx + dy * dy;
            for (std::size_t k = 1; k < vertex; ++k) {
                Point& p = at(k);
                const double t =
                    squared > 0.0 ? std::clamp(((p.x - centre.x) * dx + (p.y - centre.y) * dy) / squared, 0.0, 1.0)
                                  : 0.0;
                p = {centre.x + t * dx, centre.y + t * dy};
            }
        }
        at(0) = centre;
        joiner.lengths[i] = polylineLength(lines, i);
    }
    const int32_t root = members.front().first;
    for (auto k = std::lower_bound(linksByGroup.begin(), linksByGroup.end(), std::pair{root, int32_t{0}});
         k != linksByGroup.end() && k->first == root; ++k) {
        joiner.remove(k->second);
    }
    const int32_t node = members.front().second;
    for (const auto& [group, v] : members.subspan(1)) {
        for (int32_t e = nodes.first[v]; e < nodes.first[v + 1]; ++e) nodes.nodeOf[nodes.order[e]] = node;
        joiner.degree[node] += joiner.degree[v];
        joiner.degree[v] = 0;
    }
}

// After the other steps: moves junctions on thick ink onto their arms'
// continuations (see Arm). The nodes of a group become one: every end
// there is given the first node's number and the degree is summed; from
// here on only nodeOf and degree tell the nodes.
void straightenJunctions(Joiner& joiner) {
    Polylines& lines = joiner.lines;
    Nodes& nodes = joiner.nodes;
    const auto nodeCount = static_cast<int32_t>(joiner.degree.size());
    std::vector<int32_t> group(static_cast<std::size_t>(nodeCount));
    std::iota(group.begin(), group.end(), 0);
    const auto find = [&](int32_t v) {
        while (group[v] != v) v = group[v] = group[group[v]];
        return v;
    };
    // The junctions on thick ink, and those that a short link joins: a
    // mark per node, as a node may have several links.
    std::vector<uint8_t> isMember(static_cast<std::size_t>(nodeCount), 0);
    for (int32_t v = 0; v < nodeCount; ++v) {
        if (joiner.degree[v] >= 3 && 2.0 * joiner.radiusAt(v) >= kKnotInk) isMember[v] = 1;
    }
    // The links by polyline, and then by group: they go only with a
    // junction that finds its place, else the knot would fall apart.
    std::vector<int32_t> links;
    for (int32_t i = 0; i < lines.count(); ++i) {
        if (joiner.removed[i]) continue;
        const int32_t a = nodes.nodeOf[2 * i], b = nodes.nodeOf[2 * i + 1];
        if (joiner.degree[a] < 3 || joiner.degree[b] < 3) continue;
        const double r = std::max(joiner.radiusAt(a), joiner.radiusAt(b));
        if (2.0 * r < kThickInk || joiner.lengths[i] > kKnotLink * r + 1.0) continue;
        links.push_back(i);
        group[find(a)] = find(b);
        isMember[a] = isMember[b] = 1;
    }
    std::vector<std::pair<int32_t, int32_t>> linksByGroup;
    linksByGroup.reserve(links.size());
    for (const int32_t i : links) linksByGroup.push_back({find(nodes.nodeOf[2 * i]), i});
    std::sort(linksByGroup.begin(), linksByGroup.end());
    std::vector<std::pair<int32_t, int32_t>> byGroup;
    byGroup.reserve(static_cast<std::size_t>(std::count(isMember.begin(), isMember.end(), 1)));
    for (int32_t v = 0; v < nodeCount; ++v) {
        if (isMember[v]) byGroup.push_back({find(v), v});
    }
    std::sort(byGroup.begin(), byGroup.end());
    std::vector<uint8_t>().swap(isMember);
    std::vector<int32_t>().swap(group);
    // Group g: byGroup[groupFirst[g]] up to byGroup[groupFirst[g + 1]].
    std::vector<std::size_t> groupFirst;
    for (std::size_t k = 0; k < byGroup.size(); ++k) {
        if (k == 0 || byGroup[k].first != byGroup[k - 1].first) groupFirst.push_back(k);
    }
    groupFirst.push_back(byGroup.size());
    const std::size_t groups = groupFirst.size() - 1;
    const auto membersOf = [&](std::size_t g) {
        return std::span(byGroup.data() + groupFirst[g], groupFirst[g + 1] - groupFirst[g]);
    };

    // Each group's arms are found once: straightening moves arms and
    // removes links, never an arm. A group reads and moves only its arms,
    // so groups that share no arm go their own ways: the groups that do
    // (through a polyline between them) are taken one after another in
    // their order, and such bundles two at a time.
    std::vector<std::size_t> bundle(groups);
    std::iota(bundle.begin(), bundle.end(), std::size_t{0});
    const auto bundleOf = [&](std::size_t g) {
        while (bundle[g] != g) g = bundle[g] = bundle[bundle[g]];
        return g;
    };
    // Group g's arms: armEnds[armFirst[g]] up to armEnds[armFirst[g + 1]].
    std::vector<int32_t> armEnds;
    std::vector<std::size_t> armFirst;
    armFirst.reserve(groups + 1);
    {
        std::vector<uint32_t> armOf(static_cast<std::size_t>(lines.count()), static_cast<uint32_t>(groups));
        for (std::size_t g = 0; g < groups; ++g) {
            armFirst.push_back(armEnds.size());
            findArms(joiner, membersOf(g), links, armEnds);
            for (std::size_t a = armFirst[g]; a < armEnds.size(); ++a) {
                uint32_t& seen = armOf[armEnds[a] / 2];
                if (seen == groups) {
                    seen = static_cast<uint32_t>(g);
                } else {
                    bundle[bundleOf(g)] = bundleOf(seen);
                }
            }
        }
        armFirst.push_back(armEnds.size());
    }
    std::vector<std::size_t> byBundle(groups);
    std::iota(byBundle.begin(), byBundle.end(), std::size_t{0});
    std::stable_sort(byBundle.begin(), byBundle.end(),
                     [&](std::size_t f, std::size_t g) { return bundleOf(f) < bundleOf(g); });
    std::vector<std::size_t> bundleFirst;
    for (std::size_t k = 0; k < groups; ++k) {
        if (k == 0 || bundleOf(byBundle[k]) != bundleOf(byBundle[k - 1])) bundleFirst.push_back(k);
    }
    bundleFirst.push_back(groups);
    inTwoThreads(bundleFirst.size() - 1, [&](std::size_t first, std::size_t last) {
        std::vector<Point> samples;
        JunctionPlan plan;
        for (std::size_t b = first; b < last; ++b) {
            for (std::size_t k = bundleFirst[b]; k < bundleFirst[b + 1]; ++k) {
                const std::size_t g = byBundle[k];
                plan.arms.clear();
                for (std::size_t a = armFirst[g]; a < armFirst[g + 1]; ++a) {
                    plan.arms.push_back({armEnds[a], 0.0, 0.0, 0.0, 0, 0});
                }
                planJunction(joiner, membersOf(g), plan, samples);
                if (plan.moves) straighten(joiner, plan, membersOf(g), linksByGroup);
            }
        }
    });
}
}  // namespace join::junctions
