// Vemotrace_fitshapes: line, arc and circle tests for the fitting step.
#include "trace/fit/Vemotrace_fitshapes.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace fit::shapes {

namespace {

Point middleOf(const Point& a, const Point& b) { return {(a.x + b.x) / 2, (a.y + b.y) / 2}; }

double wrapped(double angle) {  // into [0, 2 pi)
    angle = std::fmod(angle, 2 * kPi);
    return angle < 0 ? angle + 2 * kPi : angle;
}

// How far along the arc's sweep p lies (radians from the start, in the
// arc's direction), in [0, 2 pi). `startAngle`: the start's angleAbout the
// centre, worked out once where many points are measured.
double progressOnArc(const FitEntity& arc, const Point& p, double startAngle) {
    const double delta = angleAbout(p, arc.centre) - startAngle;
    return wrapped(arc.increasing ? delta : -delta);
}
double progressOnArc(const FitEntity& arc, const Point& p) {
    return progressOnArc(arc, p, angleAbout(arc.start, arc.centre));
}
// arcSweep, the start's angle known.
double sweepFrom(const FitEntity& arc, double startAngle) {
    const double sweep = progressOnArc(arc, arc.end, startAngle);
    return sweep > 0 ? sweep : 2 * kPi;
}

// The distance from p to the arc: to the circle where p lies within the
// sweep, else to the nearer end. A circle's start angle is not used.
double arcDistance(const Point& p, const FitEntity& arc, double sweep, double startAngle) {
    if (arc.kind == EntityKind::Circle || progressOnArc(arc, p, startAngle) <= sweep) {
        return std::fabs(distance(p, arc.centre) - arc.radius);
    }
    return std::min(distance(p, arc.start), distance(p, arc.end));
}

// The point of segment ab nearest to c.
Point nearestOnSegment(const Point& c, const Point& a, const Point& b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double length2 = dx * dx + dy * dy;
    if (length2 <= 0) return a;
    const double t = std::clamp(((c.x - a.x) * dx + (c.y - a.y) * dy) / length2, 0.0, 1.0);
    return {a.x + t * dx, a.y + t * dy};
}

// Segments are chords or secants of the curve: along one, the distance to
// the centre is convex, so its largest distance from the curve lies at an
// end or at its point nearest the centre. `segmentSlack` is added to the
// tolerance for the segments' inner points (see kChordSlack); the result
// is the largest distance beyond what each point is allowed, plus the
// tolerance the vertices have.
double curveDistance(std::span<const Point> points, const FitEntity& curve, double segmentSlack = 0.0) {
    const double startAngle = curve.kind == EntityKind::Circle ? 0.0 : angleAbout(curve.start, curve.centre);
    const double sweep = curve.kind == EntityKind::Circle ? 2 * kPi : sweepFrom(curve, startAngle);
    double largest = 0.0;
    for (std::size_t k = 0; k < points.size(); ++k) {
        largest = std::max(largest, arcDistance(points[k], curve, sweep, startAngle));
        if (k > 0) {
            const Point nearest = nearestOnSegment(curve.centre, points[k - 1], points[k]);
            largest = std::max(largest, arcDistance(nearest, curve, sweep, startAngle) - segmentSlack);
        }
    }
    return largest;
}

// A polyline that follows a curve has a vertex at least every
// kMaxSegmentTurn of it: a zigzag of long legs fits a small circle through
// its corners, but does not follow it.
bool segmentsFollow(std::span<const Point> points, const FitEntity& curve, double maxTurn = kMaxSegmentTurn) {
    double previous = points.empty() ? 0.0 : angleAbout(points[0], curve.centre);
    for (std::size_t k = 1; k < points.size(); ++k) {
        const double angle = angleAbout(points[k], curve.centre);
        double turn = std::fabs(angle - previous);
        previous = angle;
        if (turn > kPi) turn = 2 * kPi - turn;
        if (turn > maxTurn) return false;
    }
    return true;
}

// Moves the circle towards the one whose largest distance from the ring's
// vertices is least (Lawson's reweighting of a geometric least-squares
// fit: each pass weighs a vertex by how far it lay off). The algebraic fit
// is pulled by the many vertices that agree, so one vertex the join step
// placed a pixel off could exceed the tolerance where a fairer circle keeps
// every vertex within it. Keeps the circle when a pass would not improve it.
void refineTowardsMinimax(std::span<const Point> vertices, FitEntity& circle) {
    constexpr int kPasses = 12;
    std::vector<double> weights(vertices.size(), 1.0);
    const auto largest = [&](const Point& c, double r) {
        double worst = 0.0;
        for (const Point& p : vertices) worst = std::max(worst, std::fabs(distance(p, c) - r));
        return worst;
    };
    double best = largest(circle.centre, circle.radius);
    Point c = circle.centre;
    double r = circle.radius;
    for (int pass = 0; pass < kPasses; ++pass) {
        // Gauss-Newton on the weighted distances: rows (-u, -1) for the
        // unit vector u from the centre to the vertex.
        double a[3][4] = {};
        for (std::size_t k = 0; k < vertices.size(); ++k) {
            const double d = distance(vertices[k], c);
            if (!(d > 0)) return;
            const double row[3] = {-(vertices[k].x - c.x) / d, -(vertices[k].y - c.y) / d, -1.0};
            const double residual = d - r;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) a[i][j] += weights[k] * row[i] * row[j];
                a[i][3] -= weights[k] * row[i] * residual;
            }
        }
        for (int i = 0; i < 3; ++i) {  // Gaussian elimination with partial pivoting
            int pivot = i;
            for (int j = i + 1; j < 3; ++j) {
                if (std::fabs(a[j][i]) > std::fabs(a[pivot][i])) pivot = j;
            }
            if (!(std::fabs(a[pivot][i]) > 1e-12)) return;
            std::swap(a[i], a[pivot]);
            for (int j = i + 1; j < 3; ++j) {
                const double f = a[j][i] / a[i][i];
                for (int m = i; m < 4; ++m) a[j][m] -= f * a[i][m];
            }
        }
        double step[3];
        for (int i = 2; i >= 0; --i) {
            step[i] = a[i][3];
            for (int j = i + 1; j < 3; ++j) step[i] -= a[i][j] * step[j];
            step[i] /= a[i][i];
        }
        c = {c.x + step[0], c.y + step[1]};
        r += step[2];
        if (!std::isfinite(c.x) || !std::isfinite(c.y) || !(r > 0)) return;
        const double worst = largest(c, r);
        if (worst < best) {
            best = worst;
            circle.centre = c;
            circle.radius = r;
        }
        double sum = 0.0;
        for (std::size_t k = 0; k < vertices.size(); ++k) {
            weights[k] *= std::fabs(distance(vertices[k], c) - r) + 1e-6;
            sum += weights[k];
        }
        if (!(sum > 0)) return;
        for (double& w : weights) w /= sum;
    }
}

// Kasa's fit: least squares of x^2 + y^2 + D x + E y + F, the points
// taken about their mean so the sums keep their digits. Sets the centre
// and radius; false when the points are (nearly) in line.
bool kasaFit(std::span<const Point> samples, FitEntity& circle) {
    const std::size_t count = samples.size();
    double mx = 0, my = 0;
    for (const Point& p : samples) {
        mx += p.x;
        my += p.y;
    }
    mx /= static_cast<double>(count);
    my /= static_cast<double>(count);
    double suu = 0, svv = 0, suv = 0, suuu = 0, svvv = 0, suvv = 0, svuu = 0;
    for (const Point& p : samples) {
        const double u = p.x - mx, v = p.y - my;
        suu += u * u;
        svv += v * v;
        suv += u * v;
        suuu += u * u * u;
        svvv += v * v * v;
        suvv += u * v * v;
        svuu += v * u * u;
    }
    const double det = suu * svv - suv * suv;
    if (!(std::fabs(det) > 1e-12 * (suu * svv + 1e-300))) return false;
    const double ru = 0.5 * (suuu + suvv), rv = 0.5 * (svvv + svuu);
    const double uc = (ru * svv - rv * suv) / det;
    const double vc = (rv * suu - ru * suv) / det;
    circle.centre = {mx + uc, my + vc};
    circle.radius = std::sqrt(uc * uc + vc * vc + (suu + svv) / static_cast<double>(count));
    return std::isfinite(circle.radius);
}

// The vertices and the segments' middles: the polyline's chords lie inside
// a curve, and a fit is judged on them too.
std::vector<Point> samplesOf(std::span<const Point> points) {
    std::vector<Point> samples;
    samples.reserve(2 * points.size());
    for (std::size_t k = 0; k < points.size(); ++k) {
        if (k > 0) samples.push_back(middleOf(points[k - 1], points[k]));
        samples.push_back(points[k]);
    }
    return samples;
}

// The arc follows the points: a vertex at least every kMaxSegmentTurn, the
// points along it in order (no further back than the tolerance allows on
// its circle), every vertex within the tolerance and every segment within
// kChordSlack more.
bool followedInOrder(std::span<const Point> points, const FitEntity& arc, double tolerance) {
    // The cheap test first: a vertex off the circle is off the arc (whose
    // ends lie on it), and that needs no angles.
    for (const Point& p : points) {
        if (std::fabs(distance(p, arc.centre) - arc.radius) > tolerance + kRounding) return false;
    }
    if (!segmentsFollow(points, arc)) return false;
    const double startAngle = angleAbout(arc.start, arc.centre);
    const double sweep = sweepFrom(arc, startAngle);
    const double slack = tolerance / arc.radius;
    double previous = 0.0;
    for (std::size_t k = 1; k + 1 < points.size(); ++k) {
        double progress = progressOnArc(arc, points[k], startAngle);
        if (progress > sweep + slack) {
            if (progress > 2 * kPi - slack) progress -= 2 * kPi;  // just before the start
            else return false;
        }
        if (progress < previous - slack) return false;
        previous = std::max(previous, progress);
    }
    return curveDistance(points, arc, kChordSlack) <= tolerance;
}

bool finitePoint(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// A least-squares fit moved towards the least largest distance, as
// refineTowardsMinimax does for circles: each pass weighs a sample by how
// far it lay off. False when the weights are gone (every sample on it).
constexpr int kMinimaxPasses = 8;
template <typename Off>
bool reweigh(std::span<const Point> samples, std::vector<double>& weights, const Off& off) {
    double sum = 0.0;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        weights[k] *= off(samples[k]) + 1e-6;
        sum += weights[k];
    }
    if (!(sum > 0) || !std::isfinite(sum)) return false;
    for (double& w : weights) w /= sum;
    return true;
}

// A ring dented in places (see circleFits): the least largest distance
// would lean the circle towards a dent, off the rest of the ring, so the
// circle is the algebraic fit again of the samples within the tolerance of
// the first one. None unless the ring lies within `dentTolerance` of it,
// and further than `tolerance` along at most kMaxDentTurn of it.
std::optional<FitEntity> dentedCircle(std::span<const Point> ring, std::span<const Point> samples, FitEntity circle,
                                      double tolerance, double dentTolerance) {
    const auto off = [&](const Point& p) { return std::fabs(distance(p, circle.centre) - circle.radius); };
    std::vector<Point> kept;
    for (const Point& p : samples) {
        if (off(p) <= tolerance) kept.push_back(p);
    }
    if (kept.size() < samples.size() / 2 || !kasaFit(kept, circle)) return std::nullopt;
    if (!(curveDistance(ring, circle, kChordSlack) <= dentTolerance)) return std::nullopt;
    // How much of the ring is dented: the turn of the segments with a
    // vertex or middle beyond the tolerance.
    double dented = 0.0;
    for (std::size_t k = 1; k < ring.size(); ++k) {
        if (off(ring[k - 1]) > tolerance || off(ring[k]) > tolerance ||
            off(middleOf(ring[k - 1], ring[k])) > tolerance + kChordSlack) {
            double turn = std::fabs(angleAbout(ring[k], circle.centre) - angleAbout(ring[k - 1], circle.centre));
            dented += turn > kPi ? 2 * kPi - turn : turn;
        }
    }
    if (!(dented <= kMaxDentTurn)) return std::nullopt;
    return circle;
}

}  // namespace

void orientThrough(FitEntity& arc, const Point& middle) {
    arc.increasing = true;
    const double startAngle = angleAbout(arc.start, arc.centre);
    if (progressOnArc(arc, middle, startAngle) > sweepFrom(arc, startAngle)) arc.increasing = false;
}

double angleAbout(const Point& p, const Point& c) { return std::atan2(p.y - c.y, p.x - c.x); }

double arcSweep(const FitEntity& arc) {
    const double sweep = progressOnArc(arc, arc.end);
    return sweep > 0 ? sweep : 2 * kPi;
}

Point pointOnArc(const FitEntity& arc, double fraction) {
    const double angle = angleAbout(arc.start, arc.centre) + (arc.increasing ? 1 : -1) * fraction * arcSweep(arc);
    return {arc.centre.x + arc.radius * std::cos(angle), arc.centre.y + arc.radius * std::sin(angle)};
}

double distanceToSegment(const Point& p, const Point& a, const Point& b) {
    return distance(p, nearestOnSegment(p, a, b));
}

bool lineFits(std::span<const Point> points, double tolerance) {
    const Point& a = points.front();
    const Point& b = points.back();
    return std::all_of(points.begin() + 1, points.end() - 1,
                       [&](const Point& p) { return distanceToSegment(p, a, b) <= tolerance; });
}

std::optional<Point> circleCentre(const Point& a, const Point& b, const Point& c) {
    const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
    const double d = 2 * (bx * cy - by * cx);
    const double scale = (bx * bx + by * by) * (cx * cx + cy * cy);
    if (!(std::fabs(d) > 1e-12 * std::sqrt(std::max(scale, 1e-300)))) return std::nullopt;
    const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    return Point{a.x + (cy * b2 - by * c2) / d, a.y + (bx * c2 - cx * b2) / d};
}

std::optional<FitEntity> arcFits(std::span<const Point> points, double tolerance) {
    if (points.size() < 3) return std::nullopt;
    const Point& a = points.front();
    const Point& b = points.back();
    const double chord = distance(a, b);
    if (!(chord > tolerance)) return std::nullopt;
    // The centre lies on the chord's bisector, m + t n. For a point p the
    // algebraic residual |p - c|^2 - r^2 = |p - m|^2 - h^2 - 2 t (p - m).n
    // is linear in t, so the least-squares t is a quotient of two sums.
    const Point m{(a.x + b.x) / 2, (a.y + b.y) / 2};
    const Point n{-(b.y - a.y) / chord, (b.x - a.x) / chord};
    const double h2 = chord * chord / 4;
    // The segments' middles count beside the vertices: the polyline's
    // chords lie inside the curve, and the fit is judged on them too.
    double numerator = 0.0, denominator = 0.0;
    const auto add = [&](const Point& p) {
        const double px = p.x - m.x, py = p.y - m.y;
        const double along = 2 * (px * n.x + py * n.y);
        numerator += (px * px + py * py - h2) * along;
        denominator += along * along;
    };
    for (std::size_t k = 1; k < points.size(); ++k) {
        if (k + 1 < points.size()) add(points[k]);
        add(middleOf(points[k - 1], points[k]));
    }
    if (!(denominator > 0)) return std::nullopt;
    const double t = numerator / denominator;
    FitEntity arc;
    arc.kind = EntityKind::Arc;
    arc.start = a;
    arc.end = b;
    arc.centre = {m.x + t * n.x, m.y + t * n.y};
    arc.radius = std::sqrt(h2 + t * t);
    if (!(arc.radius < kMaxRadius) || !(arc.radius >= kMinRadiusTolerances * tolerance)) return std::nullopt;
    // The arc runs on the side of the chord where the points lie: of the
    // two directions from a to b, the one whose sweep passes the middle point.
    orientThrough(arc, points[points.size() / 2]);
    if (!followedInOrder(points, arc, tolerance)) return std::nullopt;
    return arc;
}

std::optional<FitEntity> bestLine(std::span<const Point> points, double tolerance, bool frontFree, bool backFree) {
    if (points.size() < 2 || !(frontFree || backFree)) return std::nullopt;
    const std::vector<Point> samples = samplesOf(points);
    std::vector<double> weights(samples.size(), 1.0);
    std::optional<FitEntity> best;
    double bestDistance = HUGE_VAL;
    for (int pass = 0; pass < kMinimaxPasses; ++pass) {
        // Through the weighted mean, or the end that stays; along the
        // principal axis of the samples about it.
        Point origin = frontFree ? points.back() : points.front();
        if (frontFree && backFree) {
            double sum = 0, x = 0, y = 0;
            for (std::size_t k = 0; k < samples.size(); ++k) {
                sum += weights[k];
                x += weights[k] * samples[k].x;
                y += weights[k] * samples[k].y;
            }
            origin = {x / sum, y / sum};
        }
        double sxx = 0, syy = 0, sxy = 0;
        for (std::size_t k = 0; k < samples.size(); ++k) {
            const double dx = samples[k].x - origin.x, dy = samples[k].y - origin.y;
            sxx += weights[k] * dx * dx;
            syy += weights[k] * dy * dy;
            sxy += weights[k] * dx * dy;
        }
        const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
        const Point u{std::cos(angle), std::sin(angle)};
        const auto onLine = [&](const Point& p) {
            const double t = (p.x - origin.x) * u.x + (p.y - origin.y) * u.y;
            return Point{origin.x + t * u.x, origin.y + t * u.y};
        };
        FitEntity line;
        line.kind = EntityKind::Line;
        line.start = frontFree ? onLine(points.front()) : points.front();
        line.end = backFree ? onLine(points.back()) : points.back();
        if (!(distance(line.start, line.end) > 0) || !finitePoint(line.start) || !finitePoint(line.end)) break;
        double largest = 0.0;
        for (const Point& p : points) largest = std::max(largest, distanceToSegment(p, line.start, line.end));
        if (largest < bestDistance) {
            bestDistance = largest;
            best = line;
        }
        if (largest <= tolerance || !reweigh(samples, weights, [&](const Point& p) {
                return distanceToSegment(p, line.start, line.end);
            })) {
            break;
        }
    }
    if (!(bestDistance <= tolerance)) return std::nullopt;
    return best;
}

std::optional<FitEntity> bestArc(std::span<const Point> points, double tolerance) {
    if (points.size() < 3 || !(distance(points.front(), points.back()) > tolerance)) return std::nullopt;
    FitEntity arc;
    arc.kind = EntityKind::Arc;
    if (!kasaFit(samplesOf(points), arc)) return std::nullopt;
    refineTowardsMinimax(points, arc);
    if (!(arc.radius < kMaxRadius) || !(arc.radius >= kMinRadiusTolerances * tolerance)) return std::nullopt;
    const auto onCircle = [&](const Point& p) {
        const double d = distance(p, arc.centre);
        return d > 0 ? Point{arc.centre.x + arc.radius * (p.x - arc.centre.x) / d,
                             arc.centre.y + arc.radius * (p.y - arc.centre.y) / d}
                     : p;
    };
    arc.start = onCircle(points.front());
    arc.end = onCircle(points.back());
    if (!finitePoint(arc.start) || !finitePoint(arc.end) || !(distance(arc.start, arc.end) > tolerance)) {
        return std::nullopt;
    }
    orientThrough(arc, points[points.size() / 2]);
    if (!followedInOrder(points, arc, tolerance)) return std::nullopt;
    return arc;
}

std::optional<FitEntity> circleFits(std::span<const Point> ring, double tolerance, double dentTolerance) {
    // Kasa's fit of the vertices and the segments' middles, as for an arc.
    if (ring.size() < 7) return std::nullopt;
    std::vector<Point> samples;
    samples.reserve(2 * ring.size());
    for (std::size_t k = 1; k < ring.size(); ++k) {
        samples.push_back(ring[k - 1]);
        samples.push_back(middleOf(ring[k - 1], ring[k]));
    }
    FitEntity circle;
    circle.kind = EntityKind::Circle;
    if (!kasaFit(samples, circle)) return std::nullopt;
    circle.start = circle.end = ring.front();
    if (!(circle.radius < kMaxRadius) || !(circle.radius >= kMinRadiusTolerances * tolerance)) return std::nullopt;
    // The ring must go round the centre once: its turning sums to one turn.
    double turned = 0.0;
    for (std::size_t k = 1; k < ring.size(); ++k) {
        double step = angleAbout(ring[k], circle.centre) - angleAbout(ring[k - 1], circle.centre);
        if (step > kPi) step -= 2 * kPi;
        if (step < -kPi) step += 2 * kPi;
        turned += step;
    }
    if (std::fabs(std::fabs(turned) - 2 * kPi) > 0.1) return std::nullopt;
    if (!segmentsFollow(ring, circle, kMaxRingSegmentTurn)) return std::nullopt;
    const FitEntity algebraic = circle;
    refineTowardsMinimax(ring.first(ring.size() - 1), circle);  // the last point is the first
    if (curveDistance(ring, circle, kChordSlack) <= tolerance) return circle;
    if (!(dentTolerance > tolerance)) return std::nullopt;
    return dentedCircle(ring, samples, algebraic, tolerance, dentTolerance);
}

double distanceToEntity(const Point& p, const FitEntity& entity) {
    switch (entity.kind) {
        case EntityKind::Line: return distanceToSegment(p, entity.start, entity.end);
        case EntityKind::Arc: {
            const double startAngle = angleAbout(entity.start, entity.centre);
            return arcDistance(p, entity, sweepFrom(entity, startAngle), startAngle);
        }
        case EntityKind::Circle: return arcDistance(p, entity, 2 * kPi, 0.0);
        case EntityKind::Polyline: break;
    }
    double nearest = HUGE_VAL;
    for (std::size_t k = 1; k < entity.points.size(); ++k) {
        nearest = std::min(nearest, distanceToSegment(p, entity.points[k - 1], entity.points[k]));
    }
    return nearest;
}

double largestDistance(std::span<const Point> points, const FitEntity& entity) {
    switch (entity.kind) {
        case EntityKind::Line: {
            double largest = 0.0;
            for (const Point& p : points) largest = std::max(largest, distanceToSegment(p, entity.start, entity.end));
            return largest;
        }
        case EntityKind::Arc:
        case EntityKind::Circle: return curveDistance(points, entity);
        case EntityKind::Polyline: return 0.0;  // its own points
    }
    return 0.0;
}

}  // namespace fit::shapes
