// The fitting step's bends: rounded corners that the greedy fit leaves as
// a flat arc beside a line or as three lines, and thick rings dented by the
// dirt beside their ink. Each case names the fault it catches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "ascii_bitmap.h"
#include "polyline_input.h"
#include "trace/Vemotrace_fit.h"
#include "trace/Vemotrace_packed.h"
#include "trace/fit/Vemotrace_fitshapes.h"

namespace {

using std::numbers::pi;

using Input = PolylineInput;

FitResult Fit(const Input& input, FitOptions options = {}, const PackedBitmap& ink = PackedBitmap()) {
    return TVemotrace_fit::FitPolylines(input.points, input.begin, ink, options);
}

// The kinds of the first chain's entities.
std::vector<EntityKind> Kinds(const FitResult& result) {
    std::vector<EntityKind> kinds;
    for (std::size_t k = result.chainBegin[0]; k < result.chainBegin[1]; ++k) kinds.push_back(result.entities[k].kind);
    return kinds;
}

// A corner: a leg along x from (0, 0) to (40, 0), a bend of `turn` of a
// circle of radius r traced with `chords` vertices, and a straight leg of
// `leg` pixels on from it, as the join step leaves one.
std::vector<Point> RoundedCorner(double turn, double r, int chords, double leg) {
    std::vector<Point> points{{0, 0}, {20, 0.3}, {40, 0}};
    for (int k = 1; k <= chords; ++k) {
        const double a = -pi / 2 + turn * k / chords;
        points.push_back({40 + r * std::cos(a), r + r * std::sin(a)});
    }
    const Point end = points.back();
    points.push_back({end.x + leg * std::cos(turn), end.y + leg * std::sin(turn)});
    return points;
}

// Faults: an arc beside a line left as the greedy fit makes it (a flat arc
// over the bend and the straight leg after it, its radius twice the
// bend's), a bend cut into three lines left so; both fixed by fitting the
// corner again only where it had two arcs or three entities with an arc.
// And the refit's guards: a chamfer (three lines whose vertices lie on
// them exactly) is no rounded corner, nor a sharp corner.
TEST(Fit, RoundedCornersWithAFlatArcOrThreeLinesBecomeLineArcLine) {
    using K = EntityKind;
    FitOptions options;
    options.tolerance = 1.0;
    for (const double degrees : {60.0, 75.0, 90.0, 110.0}) {
        for (const double radius : {6.0, 10.0, 20.0}) {
            for (const double leg : {8.0, 20.0}) {
                for (const int chords : {2, 3}) {
                    if (degrees == 110 && radius == 20 && chords == 2) continue;  // chords 2.3 px off the bend
                    // A bend within the tolerance of its corner is that corner.
                    if (radius * (1 / std::cos(degrees * pi / 360) - 1) <= options.tolerance) continue;
                    SCOPED_TRACE(std::to_string(degrees) + " degrees, radius " + std::to_string(radius) + ", leg " +
                                 std::to_string(leg) + ", chords " + std::to_string(chords));
                    Input input;
                    input.Add(RoundedCorner(degrees * pi / 180, radius, chords, leg));
                    const FitResult result = Fit(input, options);
                    ASSERT_EQ(Kinds(result), (std::vector<K>{K::Line, K::Arc, K::Line}));
                    EXPECT_NEAR(result.entities[1].radius, radius, 0.15 * radius);
                    EXPECT_EQ(result.entities[0].start, input.points.front());
                    EXPECT_EQ(result.entities[2].end, input.points.back());
                    for (const Point& p : input.points) {
                        double nearest = HUGE_VAL;
                        for (const FitEntity& e : result.entities) {
                            nearest = std::min(nearest, fit::shapes::distanceToEntity(p, e));
                        }
                        EXPECT_LE(nearest, options.tolerance);
                    }
                }
            }
        }
    }
    const struct {
        const char* name;
        std::vector<Point> polyline;
        std::vector<K> kinds;
    } corners[] = {
        {"chamfer", {{0, 0}, {37, 0}, {40, 3}, {40, 40}}, {K::Line, K::Line, K::Line}},
        {"sharp corner", {{0, 0}, {20, 0.4}, {40, 0}, {40.4, 20}, {40, 40}}, {K::Line, K::Line}},
    };
    for (const auto& corner : corners) {
        SCOPED_TRACE(corner.name);
        Input input;
        input.Add(corner.polyline);
        EXPECT_EQ(Kinds(Fit(input, options)), corner.kinds);
    }
}

// A ring of ink `width` px wide about the closed polyline `ring`.
PackedBitmap InkAbout(const std::vector<Point>& ring, double width, int32_t size) {
    AsciiBitmap ascii(size, size);
    for (int32_t y = 0; y < size; ++y) {
        for (int32_t x = 0; x < size; ++x) {
            const Point p{x + 0.5, y + 0.5};
            for (std::size_t k = 1; k < ring.size(); ++k) {
                if (fit::shapes::distanceToSegment(p, ring[k - 1], ring[k]) <= width / 2) {
                    ascii.SetInk(x, y);
                    break;
                }
            }
        }
    }
    return PackedBitmap::FromBytes(ascii.View());
}

// Faults: a thick ring dented by dirt beside its ink (two vertices 2 px
// in, beyond the tolerance of 1.25 px) left as arcs; the dent accepted
// with a tolerance the user gave; a ring that is off along much of its way
// (an ellipse of 40 by 37 px) taken for a dented circle; the dented
// circle leaned towards its dent (the least largest distance) instead of
// following the rest of the ring.
TEST(Fit, AThickRingDentedInOnePlaceIsOneCircle) {
    using K = EntityKind;
    const Point c{60, 60};
    // The ring's vertices 0.8 px either side of its circle, in turn, and
    // two of them 2 px in: the least largest distance cannot lean towards
    // the dent by more than 0.45 px before the far side's vertices lie
    // beyond the tolerance.
    std::vector<Point> dented;
    for (int k = 0; k <= 48; ++k) {
        const double r = k == 11 || k == 12 ? 38 : k % 2 == 0 ? 40.8 : 39.2;
        dented.push_back({c.x + r * std::cos(k * pi / 24), c.y + r * std::sin(k * pi / 24)});
    }
    dented.back() = dented.front();
    std::vector<Point> ellipse;
    for (int k = 0; k <= 48; ++k) ellipse.push_back({c.x + 40 * std::cos(k * pi / 24), c.y + 37 * std::sin(k * pi / 24)});
    ellipse.back() = ellipse.front();
    const struct {
        const char* name;
        const std::vector<Point>& ring;
        double tolerance;
        bool circle;
    } cases[] = {
        {"dented, the step's own tolerance", dented, 0.0, true},
        {"dented, a tolerance given", dented, 1.25, false},
        {"ellipse", ellipse, 0.0, false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        Input input;
        input.Add(test.ring);
        FitOptions options;
        options.tolerance = test.tolerance;
        const FitResult result = Fit(input, options, InkAbout(test.ring, 5, 120));
        ASSERT_EQ(Kinds(result) == std::vector<K>{K::Circle}, test.circle);
        if (!test.circle) continue;
        const FitEntity& circle = result.entities[0];
        // The algebraic fit of every point lies 0.16 px towards the dent.
        EXPECT_NEAR(circle.radius, 40, 0.1);
        EXPECT_LT(distance(circle.centre, c), 0.1);
    }
}


}  // namespace
