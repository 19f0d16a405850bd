// Vemotrace_joinshape: re-centring, simplification, corners (see the header).
#include "trace/join/Vemotrace_joinshape.h"

#include <algorithm>
#include <cmath>

#include "trace/Vemotrace_join.h"
#include "trace/join/Vemotrace_joinwork.h"

namespace join::shape {

bool isDustChain(const PackedBitmap& bitmap, std::span<const Point> chain) {
    if (chain.empty()) return false;
    const double length = chainLength(chain);
    if (length < TVemotrace_join::kDotLength && isDot(bitmap, chain.front())) return true;
    return length <= kDustLength && isDust(bitmap, chain);
}

// Vertices within this distance (pixels) of the simplified line go.
constexpr double kVertexTolerance = 0.5;
// Re-centring across thick ink: a point every kRecentreStep pixels, ink at
// least kThickInk across, measured in steps of kRayStep; a point stays when
// the ink on one side reaches more than kMaxImbalance times further.
constexpr double kRecentreStep = 2.0;
// The chain's course at a point is taken over this much of it (pixels)
// either side.
constexpr double kRecentreSpan = 3.0;
constexpr double kMaxImbalance = 2.0;
// A point is as far across as the stroke usually is when it measures at
// most kWidthSlack times that (plus a pixel); it is moved however far off
// the middle it lies.
constexpr double kWidthSlack = 1.2;
// Edges this close to equally far on both sides (pixels) mean the middle.
constexpr double kCentred = 0.5;
// A corner cut is at most kCornerCutSegments segments and kCornerCut times
// the ink's half width (plus a pixel) long, over the sine of half the
// corner's angle (at least kSharpestHalfSine), and so is the way from the
// cut to the restored corner; the lines must meet at more than kCornerSine
// (in the header). The legs before and after are at least kCornerLegs
// times as long as the cut, kEndCornerLegs where a leg ends the line.
constexpr double kCornerCut = 2.0;
constexpr std::size_t kCornerCutSegments = 8;
constexpr double kCornerLegs = 1.0;
constexpr double kEndCornerLegs = 2.0;
constexpr double kSharpestHalfSine = 0.25;
// A corner's legs are taken as straight over up to kLegVertices vertices
// that stray no more than kLegStraightness (pixels) from them; on ink at
// least kWideLegInk across, whose trace steps further from the middle,
// no more than kWideLegStraightness.
constexpr std::size_t kLegVertices = 4;
constexpr double kLegStraightness = 0.5;
constexpr double kWideLegInk = 14.0;
constexpr double kWideLegStraightness = 1.0;
// With legs shorter than twice the cut the corner lies at least this many
// half widths off the cut.
constexpr double kShortLegCornerOff = 0.5;

// Keeps the vertices that hold the chain within kVertexTolerance of its
// original course; the first and the last stay. Each span is split at its
// point furthest from its chord, which on a drawing's lines lies well
// inside it, so each point is weighed a few times. On a spiral or a long
// run of noise the furthest point can lie next to a span's end again and
// again, and each point would be weighed once per vertex kept: past the
// budget (see kSimplifyBudget) the spans still open are halved instead,
// which keeps the tolerance and weighs each point once per halving.
std::size_t simplify(const std::vector<Point>& chain, std::vector<uint8_t>& keep) {
    keep.assign(chain.size(), 0);
    if (chain.empty()) return 0;
    keep.front() = keep.back() = 1;
    const std::size_t budget = std::max(work::kSimplifyBudget * chain.size(), work::kSimplifyFloor);
    std::size_t weighed = 0;
    std::vector<std::pair<std::size_t, std::size_t>> spans{{0, chain.size() - 1}};
    while (!spans.empty()) {
        const auto [from, to] = spans.back();
        spans.pop_back();
        const bool halve = weighed > budget;
        double worst = kVertexTolerance;
        // Points clearly within `worst` skip the root; the margin is far
        // wider than its rounding, so the same vertex wins.
        double clearlyWithin = worst * worst * (1.0 - 1e-9);
        std::size_t at = 0;
        for (std::size_t k = from + 1; k < to; ++k) {
            ++weighed;
            const double squared = segmentDistanceSquared(chain[k], chain[from], chain[to]);
            if (squared <= clearlyWithin) continue;
            const double e = std::sqrt(squared);
            if (e > worst) worst = e, at = k, clearlyWithin = worst * worst * (1.0 - 1e-9);
            if (halve && at != 0) break;  // one point beyond is enough
        }
        if (at == 0) continue;
        if (halve) at = from + (to - from) / 2;
        keep[at] = 1;
        spans.push_back({from, at});
        spans.push_back({at, to});
    }
    return weighed;
}

// The unit direction of a chain around its stretch from chain[from] to
// chain[to], taken from kRecentreSpan pixels before to as far after it:
// the steps and small loops that squares leave on thick ink do not turn it
// as they turn a single segment. Zero when the chain does not move there.
Point directionAround(const std::vector<Point>& chain, std::size_t from, std::size_t to) {
    std::size_t j = from, l = to;
    for (double s = 0.0; j > 0 && s < kRecentreSpan; --j) s += distance(chain[j - 1], chain[j]);
    for (double s = 0.0; l + 1 < chain.size() && s < kRecentreSpan; ++l) s += distance(chain[l], chain[l + 1]);
    const double d = distance(chain[j], chain[l]);
    if (!(d > 1e-9)) return {};
    return {(chain[l].x - chain[j].x) / d, (chain[l].y - chain[j].y) / d};
}

// Moves the points of a chain across thick ink to the middle between its
// edges. Squares fill a thick stroke from its edges, so on a curve their
// centres drift to the inside; measured across the line, the ink says where
// the middle is. The chain is first given a point every kRecentreStep.
// Points stay where they are on thin ink (the trace is exact there), where
// the ink is wider than the stroke usually is and reaches much further on
// one side (a junction, a corner, a blob), near the chain's junctions and
// at an open chain's ends.

void recentre(const PackedBitmap& bitmap, std::vector<Point>& chain, std::vector<Point>& dense,
              std::vector<uint8_t>& movable, std::vector<Across>& shifts, std::vector<double>& widths,
              std::span<const Point> junctions, std::span<const Point> corners) {
    // Ink less than kThickInk across at a point: both probes that far
    // apart across the line cannot be ink.
    const auto isThickAt = [&](const Point& p, const Point& n) {
        const double h = kThickInk / 2;
        const double x0 = std::floor(p.x + h * n.x), y0 = std::floor(p.y + h * n.y);
        const double x1 = std::floor(p.x - h * n.x), y1 = std::floor(p.y - h * n.y);
        const auto inside = [&](double x, double y) {
            return x >= 0 && y >= 0 && x < bitmap.Width() && y < bitmap.Height();
        };
        return inside(x0, y0) && inside(x1, y1) && bitmap.IsInk(static_cast<int32_t>(x0), static_cast<int32_t>(y0)) &&
               bitmap.IsInk(static_cast<int32_t>(x1), static_cast<int32_t>(y1));
    };
    dense.clear();
    movable.clear();
    bool anyThick = false;
    for (std::size_t k = 0; k + 1 < chain.size(); ++k) {
        const double d = distance(chain[k], chain[k + 1]);
        // Thin ink keeps its segments whole: nothing there to move.
        const Point middle{(chain[k].x + chain[k + 1].x) / 2, (chain[k].y + chain[k + 1].y) / 2};
        const Point normal =
            d > 0.0 ? Point{-(chain[k + 1].y - chain[k].y) / d, (chain[k + 1].x - chain[k].x) / d} : Point{};
        bool thick = d > 0.0 && isThickAt(middle, normal);
        // A segment already in the middle of its ink (most straight strokes)
        // is left whole. Across is measured across the chain's course, which
        // a short step of it may not follow.
        if (thick) {
            const Point u = directionAround(chain, k, k + 1);
            const Point across = u.x == 0.0 && u.y == 0.0 ? normal : Point{-u.y, u.x};
            const double a = inkExtent(bitmap, middle, across, kRecentreReach);
            const double b = inkExtent(bitmap, middle, {-across.x, -across.y}, kRecentreReach);
            thick = std::abs(a - b) > kCentred;
        }
        anyThick = anyThick || thick;
        // A segment of a trace lies on the image; the bound only keeps a
        // damaged file's count of steps in range.
        const double longest = static_cast<double>(bitmap.Width()) + bitmap.Height();
        const int steps = thick ? std::max(1, static_cast<int>(std::min(d, longest) / kRecentreStep)) : 1;
        // Both ends of an off-centre segment may move, and the points
        // inserted along it.
        if (thick && !movable.empty()) movable.back() = 1;
        dense.push_back(chain[k]);
        movable.push_back(thick);
        for (int s = 1; s < steps; ++s) {
            const double t = static_cast<double>(s) / steps;
            dense.push_back(
                {chain[k].x + (chain[k + 1].x - chain[k].x) * t, chain[k].y + (chain[k + 1].y - chain[k].y) * t});
            movable.push_back(1);
        }
    }
    if (!anyThick) return;
    dense.push_back(chain.back());
    movable.push_back(0);  // an open chain's end stays; a ring's is its first point
    chain = dense;
    // The ink on either side of each movable point, measured across the
    // chain's course (a and b; none where that is not known).
    shifts.assign(dense.size(), {});
    widths.clear();
    // A ring has no ends: its first point (which is its last) moves too.
    const bool ring = dense.size() > 3 && dense.front() == dense.back();
    const std::size_t last = dense.size() - 2;
    for (std::size_t k = ring ? 0 : 1; k + 1 < dense.size(); ++k) {
        if (!movable[k] && !(k == 0 && movable[last])) continue;
        Point u = directionAround(dense, k, k);
        if (k == 0) {
            const double d = distance(dense[last], dense[1]);
            u = d > 1e-9 ? Point{(dense[1].x - dense[last].x) / d, (dense[1].y - dense[last].y) / d} : Point{};
        }
        if (u.x == 0.0 && u.y == 0.0) continue;
        // The segment was found thick; the point itself may lie close to
        // one edge, which is where it most needs moving.
        const Point n{-u.y, u.x};
        const double a = inkExtent(bitmap, dense[k], n, kWideRecentreReach);
        if (a >= kWideRecentreReach) continue;  // a blob, not a stroke
        const double b = inkExtent(bitmap, dense[k], {-n.x, -n.y}, kWideRecentreReach);
        if (b >= kWideRecentreReach) continue;
        shifts[k] = {a, b, n};
        widths.push_back(a + b);
    }
    if (widths.empty()) return;
    // The stroke's usual width along the chain: a point far off the middle
    // of a curve still measures about that across, where one at a
    // junction or a corner measures the other lines' ink as well.
    const auto middle = widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2);
    std::nth_element(widths.begin(), middle, widths.end());
    const double usual = *middle;
    // Ink reaching further to one side than a point up to 4 pixels off the
    // middle of the usual stroke sees is a blob, or the other leg of a
    // corner, unless the stroke is that wide.
    const double farthest = std::max(kRecentreReach, usual - 2.0);
    for (std::size_t k = ring ? 0 : 1; k + 1 < dense.size(); ++k) {
        const auto [a, b, n] = shifts[k];
        if (a + b < kThickInk || std::max(a, b) >= farthest) continue;
        const bool likeTheStroke = a + b <= kWidthSlack * usual + 1.0;
        if (!likeTheStroke && std::max(a, b) > kMaxImbalance * std::min(a, b) + 1.0) continue;
        // Near a junction the other lines' ink is measured too.
        bool nearJunction = false;
        for (const Point& j : junctions) nearJunction = nearJunction || distance(j, dense[k]) < a + b + 1.0;
        if (nearJunction) continue;
        // A sharp corner's tip measures across both legs' ink: moved, it
        // would slide off where the legs meet. The legs' points beside it
        // are re-centred as usual.
        if (std::find(corners.begin(), corners.end(), dense[k]) != corners.end()) continue;
        const double shift = (a - b) / 2;
        chain[k] = {dense[k].x + shift * n.x, dense[k].y + shift * n.y};
    }
    if (ring) chain.back() = chain.front();
}

// The far end of the straight leg that ends at line[at], going back
// (forward with `forward`): the furthest vertex, up to kLegVertices away,
// whose chord to line[at] passes within `straightness` of every vertex
// between. The trace's pixel steps leave vertices on a thick stroke's
// straight legs that simplifying keeps.
std::size_t straightLegEnd(const std::vector<Point>& line, std::size_t at, bool forward, double straightness) {
    const std::size_t last = forward ? std::min(line.size() - 1, at + kLegVertices) : at - std::min(at, kLegVertices);
    const std::size_t near = forward ? std::min(at + 1, line.size() - 1) : (at > 0 ? at - 1 : 0);
    std::size_t best = near;
    for (std::size_t far = near; far != last;) {
        far = forward ? far + 1 : far - 1;
        bool straight = true;
        for (std::size_t k = std::min(at, far) + 1; k < std::max(at, far) && straight; ++k) {
            straight = segmentDistance(line[k], line[at], line[far]) <= straightness;
        }
        if (!straight) break;
        best = far;
    }
    return best;
}

// Where thick ink turns a corner, the trace cuts across it with up to
// kCornerCutSegments short segments. When the segments before and after are at least twice as
// long and their lines meet on the ink near the cut, the cut is replaced by
// that corner.
void sharpenCorners(const PackedBitmap& bitmap, std::vector<Point>& line) {
    std::size_t i = 1;
    while (i + 2 < line.size()) {
        bool sharpened = false;
        const double straightness =
            2.0 * inkRadius(bitmap, line[i]) >= kWideLegInk ? kWideLegStraightness : kLegStraightness;
        const std::size_t legFrom = straightLegEnd(line, i, false, straightness);
        for (std::size_t j = i + 1; j <= i + kCornerCutSegments && j + 1 < line.size() && !sharpened; ++j) {
            const std::size_t legTo = straightLegEnd(line, j, true, straightness);
            const Point& a = line[legFrom];
            const Point& b = line[i];
            const Point& c = line[j];
            const Point& d = line[legTo];
            const double cut = distance(b, c);
            const double before = distance(a, b), after = distance(c, d);
            // A leg that ends the line is where a thick stroke ends, and
            // bends there: it must be longer to tell a corner.
            const double legsBefore = legFrom == 0 ? kEndCornerLegs : kCornerLegs;
            const double legsAfter = legTo + 1 == line.size() ? kEndCornerLegs : kCornerLegs;
            if (before < legsBefore * cut || after < legsAfter * cut || cut < 1e-9) continue;
            // The lines a-b and c-d; their crossing x = b + t (b - a).
            const Point u{(b.x - a.x) / before, (b.y - a.y) / before};
            const Point v{(d.x - c.x) / after, (d.y - c.y) / after};
            const double sine = u.x * v.y - u.y * v.x;
            if (std::abs(sine) < kCornerSine) continue;
            // The cut runs near the inner side of the corner, where the ink
            // reaches less far than the stroke is thick: the legs' middles
            // tell that.
            const double radius = std::max({inkRadius(bitmap, b), inkRadius(bitmap, c),
                                            inkRadius(bitmap, {(a.x + b.x) / 2, (a.y + b.y) / 2}),
                                            inkRadius(bitmap, {(c.x + d.x) / 2, (c.y + d.y) / 2})});
            // The sharper the corner, the longer the cut and the further the
            // tip beyond it: the stroke's half width over the sine of half
            // the corner's angle.
            const double halfAngleSine = std::sqrt(std::max(0.0, (1.0 + u.x * v.x + u.y * v.y) / 2.0));
            const double limit = (kCornerCut * radius + 1.0) / std::max(halfAngleSine, kSharpestHalfSine);
            if (radius * 2.0 < kThickInk || cut > limit) continue;
            const double t = ((c.x - b.x) * v.y - (c.y - b.y) * v.x) / sine;
            const Point x{b.x + t * u.x, b.y + t * u.y};
            const double back = (c.x - x.x) * v.x + (c.y - x.y) * v.y;  // x lies before c on c-d
            if (t < 0.0 || back < 0.0 || t > limit || !onInk(bitmap, b, x) || !onInk(bitmap, x, c)) continue;
            // The cut must be the corner's, not a way across other ink.
            bool nearCorner = true;
            for (std::size_t k = i + 1; k < j && nearCorner; ++k) {
                nearCorner = std::min(segmentDistance(line[k], b, x), segmentDistance(line[k], x, c)) <= radius + 1.0;
            }
            if (!nearCorner) continue;
            // Legs shorter than twice the cut are also what a thick curve
            // is made of: there the corner must lie clearly off the cut.
            if (before < 2.0 * cut || after < 2.0 * cut) {
                double off = distance(x, c);
                for (std::size_t k = i; k < j; ++k) off = std::min(off, segmentDistance(x, line[k], line[k + 1]));
                if (off < kShortLegCornerOff * radius) continue;
            }
            line[i] = x;
            line.erase(line.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                       line.begin() + static_cast<std::ptrdiff_t>(j) + 1);
            sharpened = true;
        }
        if (!sharpened) ++i;
    }
}
}  // namespace join::shape
