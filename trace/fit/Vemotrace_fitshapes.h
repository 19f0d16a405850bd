// Vemotrace_fitshapes: the geometry of the fitting step: does one line, one
// arc or one circle follow a run of polyline points within a tolerance, and
// how far is a point from an entity. Pure functions on image pixels.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "trace/Vemotrace_fit.h"

namespace fit::shapes {

inline constexpr double kPi = 3.14159265358979323846;
// A curve flatter than this (pixels of radius) is no arc the tolerance
// could tell from a line; a larger radius also loses digits in the centre.
inline constexpr double kMaxRadius = 1.0e6;
// A curve tighter than this many tolerances of radius is the ink's wobble
// (a zigzag of pixel steps fits arcs of a pixel), not a drawn arc.
inline constexpr double kMinRadiusTolerances = 2.0;
// Far more than the rounding in a curve's centre and ends that lie on it,
// far less than any distance that matters: a bound on a distance that is
// beyond it by this much decides a test without the distance itself.
inline constexpr double kRounding = 1e-6;

double distanceToSegment(const Point& p, const Point& a, const Point& b);

// The line from points.front() to points.back(), when every point of the
// run (and so every point of its segments) lies within `tolerance` of it.
bool lineFits(std::span<const Point> points, double tolerance);

// The join step drops a vertex that lies within half a pixel of the line
// through its neighbours, so between two vertices the polyline is only
// known to half a pixel: a segment's inner points may lie this much
// further from an arc or circle than its vertices (a curve drawn with few
// vertices has chords that cut inside it).
inline constexpr double kChordSlack = 0.5;
// At most this much of a curve (radians) between two vertices.
inline constexpr double kMaxSegmentTurn = kPi / 3;
// Round a closed ring the chords themselves bound the turn (a chord of a
// quarter turn lies 0.29 radii inside the circle), and a small circle
// traced with few vertices turns by more than kMaxSegmentTurn at a
// vertex: a circle of 5 px radius has vertices 64 degrees apart.
inline constexpr double kMaxRingSegmentTurn = kPi / 2;

// The arc from points.front() to points.back() through the run's side of
// its chord, when every vertex of the run lies within `tolerance` of it
// (its segments' points within tolerance + kChordSlack) and the points run
// along it in order. At least three points, the ends apart.
std::optional<FitEntity> arcFits(std::span<const Point> points, double tolerance);

// The circle through a closed ring (front() == back()) within `tolerance`
// (its segments within tolerance + kChordSlack), round it once: the
// algebraic fit, moved towards the least largest distance of a vertex.
// With `dentTolerance` above `tolerance`, a ring whose points lie off by
// more than `tolerance` along at most kMaxDentTurn of it, and nowhere by
// more than `dentTolerance`, is a circle too: dirt beside a thick ring's
// ink dents its traced line in places by more than half a pixel beyond
// the tolerance, where a ring that is no circle (an ellipse, a rounded
// square) lies off along much of its way.
inline constexpr double kMaxDentTurn = kPi / 4;
std::optional<FitEntity> circleFits(std::span<const Point> ring, double tolerance, double dentTolerance = 0.0);

// The best fits where a stroke ends free (its end is where the trace
// stopped, no point another line shares), each only when it follows the
// points within `tolerance` as arcFits would have it. bestLine: the line
// of least squares through the vertices and the segments' middles (through
// the end that is not free, where one is not), moved towards the least
// largest distance; its free ends are the polyline's ends moved square
// onto it, so by no more than the tolerance. bestArc: the same with both
// ends free, for the circle of least squares.
std::optional<FitEntity> bestLine(std::span<const Point> points, double tolerance, bool frontFree, bool backFree);
std::optional<FitEntity> bestArc(std::span<const Point> points, double tolerance);

// The largest distance from the polyline's points and segments to the
// entity (for arcs and circles, to the curve; a closed measure, not an
// estimate: vertices and the segments' points nearest the centre).
double largestDistance(std::span<const Point> points, const FitEntity& entity);

// The distance from p to the entity (to an arc's end where p lies beyond
// its sweep).
double distanceToEntity(const Point& p, const FitEntity& entity);

// Angle of p about c, and the sweep of an arc (radians, > 0).
double angleAbout(const Point& p, const Point& c);
double arcSweep(const FitEntity& arc);
// The point of an arc at `fraction` (0: start, 1: end) of its sweep.
Point pointOnArc(const FitEntity& arc, double fraction);

// Sets the arc's direction to the one of its two from start to end that
// passes `middle`.
void orientThrough(FitEntity& arc, const Point& middle);

// The circle through three points; nullopt when they are (nearly) in line.
std::optional<Point> circleCentre(const Point& a, const Point& b, const Point& c);

// The furthest index j up to `last` such that fits(i, j), given that
// fits(i, good): searched by doubling and then halving, as the tests cost
// O(j - i) each, so a long entity costs O(n log n) and not O(n^2).
template <typename Fits>
inline std::size_t furthestFit(std::size_t i, std::size_t good, std::size_t last, const Fits& fits) {
    std::size_t step = 1;
    std::size_t bad = last + 1;
    while (good + step <= last) {
        if (!fits(i, good + step)) {
            bad = good + step;
            break;
        }
        good += step;
        step *= 2;
    }
    if (bad == last + 1 && good < last && fits(i, last)) return last;
    while (bad - good > 1) {
        const std::size_t mid = good + (bad - good) / 2;
        if (fits(i, mid)) good = mid;
        else bad = mid;
    }
    return good;
}

}  // namespace fit::shapes
