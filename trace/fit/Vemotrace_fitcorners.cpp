// Vemotrace_fitcorners: LINE-ARC-LINE with tangent joins (see the header).
#include "trace/fit/Vemotrace_fitcorners.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "trace/fit/Vemotrace_fitshapes.h"

namespace fit::corners {

namespace {

using shapes::kPi;

// Below this turn (radians) between the legs there is no corner to round.
constexpr double kMinTurn = 5.0 * kPi / 180.0;
constexpr int kRadiusSteps = 24;  // golden-section steps for the radius: within 1e-5 of its range
// The segments' middles count in the squares with this weight: a bend
// traced with one or two vertices leaves the radius to them alone (the
// vertices lie on the legs and on any small arc alike), but a chord lies
// up to half a pixel inside the curve, so at full weight they widen it.
constexpr double kMiddleWeight = 0.25;
// The straight an arc beside a line takes in is at least this many
// tolerances long (twice a leg's least).
constexpr double kTakenLegTolerances = 2 * kMinLegTolerances;
constexpr int kLegPasses = 2;     // the legs fitted again to the vertices nearest them

Point plus(const Point& p, const Point& d, double t) { return {p.x + t * d.x, p.y + t * d.y}; }

// The direction of the line through `from` that the points follow best
// (the principal axis of their spread about it), pointing their way.
std::optional<Point> directionThrough(const Point& from, std::span<const Point> points) {
    double sxx = 0, syy = 0, sxy = 0, mx = 0, my = 0;
    for (const Point& p : points) {
        const double x = p.x - from.x, y = p.y - from.y;
        sxx += x * x;
        syy += y * y;
        sxy += x * y;
        mx += x;
        my += y;
    }
    const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
    Point d{std::cos(angle), std::sin(angle)};
    if (d.x * mx + d.y * my < 0) d = {-d.x, -d.y};
    if (!(std::hypot(mx, my) > 0)) return std::nullopt;
    return d;
}

// How far a run lies from entities, `nearest(p)` giving p's distance
// from them: the squares of the vertices' (and kMiddleWeight of the
// segments' middles') distances, and the largest distance beyond what each
// point is allowed (vertices 0, segments' middles kChordSlack).
struct Misfit {
    double squares = 0.0;
    double worst = 0.0;
};
template <class Nearest>
Misfit misfitOf(std::span<const Point> run, const Nearest& nearest) {
    Misfit misfit;
    for (std::size_t k = 0; k < run.size(); ++k) {
        const double d = nearest(run[k]);
        misfit.squares += d * d;
        misfit.worst = std::max(misfit.worst, d);
        if (k > 0) {
            const Point middle{(run[k - 1].x + run[k].x) / 2, (run[k - 1].y + run[k].y) / 2};
            const double m = nearest(middle);
            misfit.squares += kMiddleWeight * m * m;
            misfit.worst = std::max(misfit.worst, m - shapes::kChordSlack);
        }
    }
    return misfit;
}

// The squares of the run's distances from the nearest of the entities it
// was fitted with, as measure() counts them.
double squaresOf(std::span<const Point> run, std::span<const FitEntity> entities) {
    const auto nearest = [&](const Point& p) {
        double d = HUGE_VAL;
        for (const FitEntity& e : entities) d = std::min(d, shapes::distanceToEntity(p, e));
        return d;
    };
    return misfitOf(run, nearest).squares;
}

// How close the run comes to p.
double runDistance(std::span<const Point> run, const Point& p) {
    double nearest = HUGE_VAL;
    for (std::size_t k = 1; k < run.size(); ++k) nearest = std::min(nearest, shapes::distanceToSegment(p, run[k - 1], run[k]));
    return nearest;
}

struct Rounded {
    std::array<FitEntity, 3> entities;
    double squares = HUGE_VAL;  // the vertices' squared distances, and kMiddleWeight of the middles'
    double worst = HUGE_VAL;    // largest distance beyond what a point is allowed
};

// How far the run lies from the three entities (misfitOf).
void measure(std::span<const Point> run, Rounded& path) {
    // The arc turns by less than half a turn, so a point lies within its
    // sweep where it is on the inner side of both radii to its ends: two
    // cross products where the angles would cost two arc tangents a point.
    const FitEntity& arc = path.entities[1];
    const Point& c = arc.centre;
    const Point s{arc.start.x - c.x, arc.start.y - c.y}, e{arc.end.x - c.x, arc.end.y - c.y};
    const double side = s.x * e.y - s.y * e.x < 0 ? -1.0 : 1.0;
    const auto toArc = [&](const Point& p) {
        const Point q{p.x - c.x, p.y - c.y};
        if (side * (s.x * q.y - s.y * q.x) >= 0 && side * (q.x * e.y - q.y * e.x) >= 0) {
            return std::fabs(std::hypot(q.x, q.y) - arc.radius);
        }
        return std::min(distance(p, arc.start), distance(p, arc.end));
    };
    const auto nearest = [&](const Point& p) {
        return std::min({shapes::distanceToSegment(p, path.entities[0].start, path.entities[0].end), toArc(p),
                         shapes::distanceToSegment(p, path.entities[2].start, path.entities[2].end)});
    };
    const Misfit misfit = misfitOf(run, nearest);
    path.squares = misfit.squares;
    path.worst = misfit.worst;
}

// The run as a line from its first point along the first leg (points up to
// legEnd), an arc tangent to it and a line along the second leg (points
// from legStart) to its last point, the arc's radius chosen by least
// squares; none unless every point lies within the tolerance.
std::optional<Rounded> roundedCorner(std::span<const Point> run, std::size_t legEnd, std::size_t legStart,
                                     double tolerance, bool awayFromCorner) {
    const Point& p = run.front();
    const Point& q = run.back();
    const std::optional<Point> d1 = directionThrough(p, run.subspan(1, legEnd));
    std::vector<Point> second(run.begin() + static_cast<std::ptrdiff_t>(legStart), run.end() - 1);
    const std::optional<Point> back = directionThrough(q, second);
    if (!d1 || !back) return std::nullopt;
    const Point d2{-back->x, -back->y};  // along the second leg, towards q
    const double cross = d1->x * d2.y - d1->y * d2.x;
    const double turn = std::atan2(std::fabs(cross), d1->x * d2.x + d1->y * d2.y);
    if (!(turn > kMinTurn)) return std::nullopt;
    // The legs' lines meet at v = p + s d1 = q - t d2.
    const Point w{q.x - p.x, q.y - p.y};
    const double s = (w.x * d2.y - w.y * d2.x) / cross;
    const double t = (d1->x * w.y - d1->y * w.x) / cross;
    const double minLeg = kMinLegTolerances * tolerance;
    const double tangent = std::tan(turn / 2);  // tangent length per unit radius
    const double rMin = shapes::kMinRadiusTolerances * tolerance;
    const double rMax = (std::min(s, t) - minLeg) / tangent;
    if (!(rMax > rMin) || !std::isfinite(rMax)) return std::nullopt;
    const Point v = plus(p, *d1, s);
    if (awayFromCorner && !(runDistance(run, v) > tolerance)) return std::nullopt;
    Point normal{-d1->y, d1->x};  // towards the side the corner turns to
    if (normal.x * d2.x + normal.y * d2.y < 0) normal = {-normal.x, -normal.y};

    const auto path = [&](double r) {
        Rounded out;
        const Point t1 = plus(v, *d1, -r * tangent);
        const Point t2 = plus(v, d2, r * tangent);
        FitEntity& first = out.entities[0];
        first.start = p;
        first.end = t1;
        FitEntity& arc = out.entities[1];
        arc.kind = EntityKind::Arc;
        arc.start = t1;
        arc.end = t2;
        arc.centre = plus(t1, normal, r);
        arc.radius = r;
        const double toCorner = distance(arc.centre, v);
        shapes::orientThrough(arc, plus(arc.centre, {(v.x - arc.centre.x) / toCorner, (v.y - arc.centre.y) / toCorner}, r));
        FitEntity& last = out.entities[2];
        last.start = t2;
        last.end = q;
        measure(run, out);
        return out;
    };
    // Golden section on the radius for the least squares: they fall and
    // then rise as the arc grows from too tight to too wide.
    constexpr double kGolden = 0.6180339887498949;
    double lo = rMin, hi = rMax;
    double a = hi - kGolden * (hi - lo), b = lo + kGolden * (hi - lo);
    Rounded ra = path(a), rb = path(b);
    for (int step = 0; step < kRadiusSteps; ++step) {
        if (ra.squares <= rb.squares) {
            hi = b;
            b = a;
            rb = ra;
            a = hi - kGolden * (hi - lo);
            ra = path(a);
        } else {
            lo = a;
            a = b;
            ra = rb;
            b = lo + kGolden * (hi - lo);
            rb = path(b);
        }
    }
    const Rounded& best = ra.squares <= rb.squares ? ra : rb;
    if (!(best.worst <= tolerance)) return std::nullopt;
    return best;
}

// Which of the three entities lies nearest to p: 0, 1 or 2.
int legOf(const Rounded& corner, const Point& p) {
    int best = 0;
    double nearest = HUGE_VAL;
    for (int k = 0; k < 3; ++k) {
        const double d = shapes::distanceToEntity(p, corner.entities[static_cast<std::size_t>(k)]);
        if (d < nearest) {
            nearest = d;
            best = k;
        }
    }
    return best;
}

// How far from run.front() one line follows the run.
std::size_t straightFrom(std::span<const Point> run, double tolerance) {
    return shapes::furthestFit(0, 1, run.size() - 1, [&](std::size_t from, std::size_t to) {
        return shapes::lineFits(run.subspan(from, to - from + 1), tolerance);
    });
}

}  // namespace

void roundCorners(std::span<const Point> points, double tolerance, std::vector<FitEntity>& entities,
                  std::vector<std::pair<std::size_t, std::size_t>>& spans) {
    for (std::size_t a = 0; a + 1 < entities.size(); ++a) {
        for (const std::size_t size : {3, 2}) {
            const std::size_t b = a + size;
            if (b > entities.size()) continue;
            bool arc = false, plain = true;
            for (std::size_t e = a; e < b; ++e) {
                arc = arc || entities[e].kind == EntityKind::Arc;
                plain = plain && (entities[e].kind == EntityKind::Arc || entities[e].kind == EntityKind::Line);
            }
            // Any two or three lines and arcs may be a rounded corner: the
            // greedy fit from one end often lets a long flat arc take in the
            // straight leg beyond the bend (an arc and a line), or cuts a
            // small bend into chords (lines alone).
            if (!plain) continue;
            const std::size_t from = spans[a].first, to = spans[b - 1].second;
            const std::span<const Point> run = points.subspan(from, to - from + 1);
            std::size_t legEnd = straightFrom(run, tolerance);
            std::vector<Point> reversed(run.rbegin(), run.rend());
            std::size_t legStart = run.size() - 1 - straightFrom(reversed, tolerance);
            if (legEnd >= legStart) continue;
            // An arc beside a line took in a straight leg only where one
            // runs on from its far end: mostly it is the drawn arc itself.
            const bool mixed = size == 2 && entities[a].kind != entities[a + 1].kind;
            const double arcLeg = entities[a].kind == EntityKind::Arc ? distance(run.front(), run[legEnd])
                                                                     : distance(run.back(), run[legStart]);
            if (mixed && !(arcLeg >= kTakenLegTolerances * tolerance)) continue;
            std::optional<Rounded> rounded = roundedCorner(run, legEnd, legStart, tolerance, !arc);
            if (!rounded) continue;
            // The straights found first may run a vertex or two into the
            // bend, which tilts the legs; again with the legs' vertices as
            // the rounded corner has them, kept where it follows the points
            // more closely.
            for (int pass = 0; pass < kLegPasses; ++pass) {
                std::size_t end = 0, start = run.size() - 1;
                while (end + 1 < run.size() && legOf(*rounded, run[end + 1]) == 0) ++end;
                while (start > 0 && legOf(*rounded, run[start - 1]) == 2) --start;
                if ((end == legEnd && start == legStart) || end == 0 || start + 1 >= run.size() || end >= start) break;
                std::optional<Rounded> again = roundedCorner(run, end, start, tolerance, !arc);
                if (!again || !(again->squares < rounded->squares)) break;
                rounded = std::move(again);
                legEnd = end;
                legStart = start;
            }
            // Where the greedy fit had no arc, or an arc beside a line, the
            // corner is kept only where it follows the points more closely
            // than those entities (without an arc, roundedCorner also wants
            // the points further than the tolerance from where the legs
            // meet): a sharp corner or a chamfer is no rounded one, and a
            // bend the tolerance cannot tell from a corner stays the corner.
            if (!arc || mixed) {
                const std::span<const FitEntity> before(entities.data() + a, size);
                if (!(rounded->squares < squaresOf(run, before))) continue;
            }
            const auto at = static_cast<std::ptrdiff_t>(a);
            entities.erase(entities.begin() + at, entities.begin() + static_cast<std::ptrdiff_t>(b));
            entities.insert(entities.begin() + at, rounded->entities.begin(), rounded->entities.end());
            spans.erase(spans.begin() + at, spans.begin() + static_cast<std::ptrdiff_t>(b));
            spans.insert(spans.begin() + at, {{from, from + legEnd}, {from + legEnd, from + legStart}, {from + legStart, to}});
            a += 2;
            break;
        }
    }
}

}  // namespace fit::corners
