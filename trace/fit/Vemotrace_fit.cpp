// Vemotrace_fit: the fitting step as an outline (files, rules and results
// in trace/Vemotrace_fit.h): each polyline's chain of entities, the ink
// widths and pens, the optional angle snap, the lines file written anew.
#include "trace/Vemotrace_fit.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <span>
#include <utility>

#include "trace/Vemotrace_records.h"
#include "trace/fit/Vemotrace_fitcorners.h"
#include "trace/fit/Vemotrace_fitdirt.h"
#include "trace/fit/Vemotrace_fitgaps.h"
#include "trace/fit/Vemotrace_fitpens.h"
#include "trace/fit/Vemotrace_fitshapes.h"
#include "trace/join/Vemotrace_joinlines.h"

using namespace fit::shapes;

namespace {

// Three or more short one-segment lines in a row follow no line or arc:
// the stretch stays a polyline. Short: below this many tolerances, where a
// segment is no longer than the ink's wobble (a long one is a drawn line,
// as each side of a rectangle is).
constexpr std::size_t kShortLinesForPolyline = 3;
constexpr double kShortLineTolerances = 3.0;

// Ends of polylines, counted by point, to tell a free end and a ring that
// touches other lines. An open table (linear probing, at most three
// quarters full): every chain's ends are looked up, and a search through sorted
// ends would fetch from all over them.
class EndPoints {
public:
    EndPoints(const std::vector<Point>& points, const std::vector<std::size_t>& begin) {
        std::size_t size = 1024;
        while (3 * size < 4 * 2 * begin.size()) size *= 2;
        m_slots.resize(size);
        for (std::size_t k = 1; k < begin.size(); ++k) {
            if (begin[k] == begin[k - 1]) continue;
            ++At(points[begin[k - 1]]).count;
            ++At(points[begin[k] - 1]).count;
        }
    }
    std::size_t Count(const Point& p) const { return At(p).count; }

private:
    struct Slot {
        Point at;
        std::size_t count = 0;  // 0: empty
    };
    // The slot of p, or the empty one where it would go. 0.0 and -0.0 are
    // one point, so a coordinate is hashed with 0.0 added (-0.0 + 0.0 is 0.0).
    const Slot& At(const Point& p) const {
        uint64_t h = std::bit_cast<uint64_t>(p.x + 0.0) * 0x9e3779b97f4a7c15ull;
        h = (h ^ (h >> 29) ^ std::bit_cast<uint64_t>(p.y + 0.0)) * 0xff51afd7ed558ccdull;
        const std::size_t mask = m_slots.size() - 1;
        std::size_t i = static_cast<std::size_t>(h ^ (h >> 32)) & mask;
        while (m_slots[i].count != 0 && !(m_slots[i].at == p)) i = (i + 1) & mask;
        return m_slots[i];
    }
    Slot& At(const Point& p) {
        Slot& slot = const_cast<Slot&>(std::as_const(*this).At(p));
        slot.at = p;
        return slot;
    }
    std::vector<Slot> m_slots;
};

// The polylines joined end to end where exactly two ends meet, and only
// there: the join step may leave a stroke in pieces (a small ring in four
// quarters), and a piece on its own fits no arc or circle the stroke is.
// A point where three or more ends meet stays the end of every chain
// there, so a junction keeps its one point. Chains come in the order of
// their first polyline; polylines of fewer than two points are left out.
join::lines::Polylines chainAtTwoEnds(const std::vector<Point>& points, const std::vector<std::size_t>& begin) {
    const std::size_t count = begin.size() - 1;
    const auto size = [&](std::size_t k) { return begin[k + 1] - begin[k]; };
    // End e of polyline e / 2: its first point when e is even, else its last.
    const auto endPoint = [&](std::size_t e) { return e % 2 == 0 ? points[begin[e / 2]] : points[begin[e / 2 + 1] - 1]; };
    // The ends sorted with their points beside them: a sort through the
    // ends' numbers would fetch two points from all over for each test.
    struct End {
        Point at;
        std::size_t end;
    };
    std::vector<End> ends;
    ends.reserve(2 * count);
    for (std::size_t k = 0; k < count; ++k) {
        if (size(k) < 2) continue;
        ends.push_back({endPoint(2 * k), 2 * k});
        ends.push_back({endPoint(2 * k + 1), 2 * k + 1});
    }
    std::sort(ends.begin(), ends.end(), [](const End& a, const End& b) {
        return a.at.x < b.at.x || (a.at.x == b.at.x && (a.at.y < b.at.y || (a.at.y == b.at.y && a.end < b.end)));
    });
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::vector<std::size_t> partner(2 * count, kNone);
    for (std::size_t first = 0; first < ends.size();) {
        std::size_t last = first + 1;
        while (last < ends.size() && ends[last].at == ends[first].at) ++last;
        if (last - first == 2) {
            partner[ends[first].end] = ends[first + 1].end;
            partner[ends[first + 1].end] = ends[first].end;
        }
        first = last;
    }
    join::lines::Polylines chains;
    std::vector<bool> taken(count, false);
    for (std::size_t k = 0; k < count; ++k) {
        if (taken[k] || size(k) < 2) continue;
        // Back to the chain's first polyline, or round a ring to k again.
        std::size_t from = 2 * k;  // the end the chain enters its polyline by
        for (std::size_t other = partner[from]; other != kNone && other / 2 != k; other = partner[from]) from = other ^ 1;
        const std::size_t chainStart = chains.points.size();
        for (std::size_t end = from; end != kNone && !taken[end / 2]; end = partner[end ^ 1]) {
            const std::size_t line = end / 2;
            taken[line] = true;
            const bool reversed = end % 2 == 1;
            for (std::size_t j = chains.points.size() == chainStart ? 0 : 1; j < size(line); ++j) {
                chains.points.push_back(points[reversed ? begin[line + 1] - 1 - j : begin[line] + j]);
            }
        }
        chains.begin.push_back(chains.points.size());
    }
    return chains;
}

// The index of the sharpest corner of a closed ring (points[0] ==
// points.back()), where a chain round it best starts.
std::size_t sharpestCorner(std::span<const Point> ring) {
    const std::size_t count = ring.size() - 1;
    std::size_t best = 0;
    double bestCos = 2.0;
    for (std::size_t k = 0; k < count; ++k) {
        const Point& before = ring[(k + count - 1) % count];
        const Point& at = ring[k];
        const Point& after = ring[(k + 1) % count];
        const double ax = at.x - before.x, ay = at.y - before.y, bx = after.x - at.x, by = after.y - at.y;
        const double lengths = std::hypot(ax, ay) * std::hypot(bx, by);
        if (!(lengths > 0)) continue;
        const double cosTurn = (ax * bx + ay * by) / lengths;
        if (cosTurn < bestCos) {
            bestCos = cosTurn;
            best = k;
        }
    }
    return best;
}

FitEntity lineEntity(const Point& a, const Point& b) {
    FitEntity line;
    line.kind = EntityKind::Line;
    line.start = a;
    line.end = b;
    return line;
}

// One open run of points (or a ring that is no circle, opened at its
// start) as entities, greedily: from each point on, the line or arc that
// reaches furthest; a line where both reach as far. `out` and `spans`
// (each entity's first and last point index) start empty.
void fitRun(std::span<const Point> points, double tolerance, std::vector<FitEntity>& out,
            std::vector<std::pair<std::size_t, std::size_t>>& spans) {
    const std::size_t last = points.size() - 1;
    for (std::size_t i = 0; i < last;) {
        const std::size_t lineEnd = furthestFit(
            i, i + 1, last, [&](std::size_t from, std::size_t to) { return lineFits(points.subspan(from, to - from + 1), tolerance); });
        std::optional<FitEntity> arc;
        std::size_t arcEnd = i;
        const auto arcFitsTo = [&](std::size_t from, std::size_t to) {
            return arcFits(points.subspan(from, to - from + 1), tolerance).has_value();
        };
        if (lineEnd < last && arcFitsTo(i, i + 2)) {
            arcEnd = furthestFit(i, i + 2, last, arcFitsTo);
            if (arcEnd > lineEnd) arc = arcFits(points.subspan(i, arcEnd - i + 1), tolerance);
        }
        if (arc) {
            out.push_back(*arc);
            spans.emplace_back(i, arcEnd);
            i = arcEnd;
        } else {
            out.push_back(lineEntity(points[i], points[lineEnd]));
            spans.emplace_back(i, lineEnd);
            i = lineEnd;
        }
    }
    fit::corners::roundCorners(points, tolerance, out, spans);
    // Runs of one-segment lines become one polyline each.
    std::vector<FitEntity> merged;
    std::vector<std::pair<std::size_t, std::size_t>> mergedSpans;
    for (std::size_t k = 0; k < out.size();) {
        std::size_t run = k;
        while (run < out.size() && out[run].kind == EntityKind::Line && spans[run].second - spans[run].first == 1 &&
               distance(out[run].start, out[run].end) < kShortLineTolerances * tolerance) {
            ++run;
        }
        if (run - k >= kShortLinesForPolyline) {
            FitEntity polyline;
            polyline.kind = EntityKind::Polyline;
            polyline.points.assign(points.begin() + static_cast<std::ptrdiff_t>(spans[k].first),
                                   points.begin() + static_cast<std::ptrdiff_t>(spans[run - 1].second) + 1);
            polyline.start = polyline.points.front();
            polyline.end = polyline.points.back();
            merged.push_back(std::move(polyline));
            mergedSpans.emplace_back(spans[k].first, spans[run - 1].second);
            k = run;
        } else {
            merged.push_back(std::move(out[k]));
            mergedSpans.push_back(spans[k]);
            ++k;
        }
    }
    out = std::move(merged);
    spans = std::move(mergedSpans);
}

// The join step may leave a drawn circle open by a gap of a few pixels
// (where its ink is thinnest). An open polyline whose two ends touch
// nothing is one circle when it and the chord across the gap are, and the
// gap is at most this many radii (about 47 degrees): a drawn arc that is
// this nearly closed is rare, an open ring the join step leaves is not.
constexpr double kMaxRingGapRadii = 0.8;
// A ring may be dented by at most this many tolerances (circleFits).
constexpr double kRingDentTolerances = 2.0;

// A free end of a chain's LINE or ARC moved to the centre of the pen's
// round cap (fit::pens::capShift), along the line or round the arc's
// circle, as long as the entity keeps at least its width.
void endAtCap(FitEntity& entity, bool atStart, const PackedBitmap& ink) {
    Point& end = atStart ? entity.start : entity.end;
    if (entity.kind == EntityKind::Line) {
        const Point& other = atStart ? entity.end : entity.start;
        const double length = distance(end, other);
        if (!(length > 0)) return;
        const Point outward{(end.x - other.x) / length, (end.y - other.y) / length};
        const double shift = fit::pens::capShift(ink, end, outward, entity.width);
        if (shift == 0.0 || !(length + shift >= entity.width)) return;
        end = {end.x + shift * outward.x, end.y + shift * outward.y};
    } else if (entity.kind == EntityKind::Arc) {
        // Outward: on past the end, back before the start.
        const double turn = (entity.increasing ? 1.0 : -1.0) * (atStart ? -1.0 : 1.0);
        const double angle = angleAbout(end, entity.centre);
        const Point outward{-turn * std::sin(angle), turn * std::cos(angle)};
        const double shift = fit::pens::capShift(ink, end, outward, entity.width);
        const double length = arcSweep(entity) * entity.radius;
        if (shift == 0.0 || !(length + shift >= entity.width) || !(length + shift < 1.5 * kPi * entity.radius)) return;
        const double moved = angle + turn * shift / entity.radius;
        end = {entity.centre.x + entity.radius * std::cos(moved), entity.centre.y + entity.radius * std::sin(moved)};
    }
}

// A thick stroke's traced end often bends off into a corner of its round
// cap: a first segment at a free end shorter than the ink is wide, turning
// off the next one by more than kHookTurn, is that hook and no part of the
// drawing. Dropped (the polyline and its segments' widths) while the
// polyline keeps two segments, and only within the ink's width of the
// traced end: the cap is no wider, and a stroke that ends in a zigzag of
// short segments would otherwise lose one after another.
constexpr double kHookTurn = kPi / 9;
void dropHook(std::vector<Point>& points, std::vector<double>& widths, bool atFront) {
    const Point traced = atFront ? points.front() : points.back();
    while (points.size() >= 3) {
        const std::size_t n = points.size();
        const Point& end = atFront ? points[0] : points[n - 1];
        const Point& inner = atFront ? points[1] : points[n - 2];
        const Point& next = atFront ? points[2] : points[n - 3];
        const double width = atFront ? widths[1] : widths[n - 3];
        if (!(width >= fit::pens::kMinCapWidth) || !(distance(end, inner) < width) ||
            !(distance(traced, inner) < width)) {
            return;
        }
        const double ax = inner.x - end.x, ay = inner.y - end.y, bx = next.x - inner.x, by = next.y - inner.y;
        const double turn = std::atan2(std::fabs(ax * by - ay * bx), ax * bx + ay * by);
        if (!(turn > kHookTurn)) return;
        if (atFront) {
            points.erase(points.begin());
            widths.erase(widths.begin());
        } else {
            points.pop_back();
            widths.pop_back();
        }
    }
}

// The tolerance of a polyline with these segment widths.
double toleranceFor(std::span<const double> segmentWidths, const FitOptions& options) {
    return options.tolerance > 0 ? options.tolerance
                                 : std::clamp(fit::pens::median(segmentWidths) / 2, TVemotrace_fit::kMinTolerance,
                                              TVemotrace_fit::kMaxTolerance);
}

// A LINE covering at least this share of a stroke's length is a straight
// stretch of it: a stroke with one is no arc (a rounded corner's legs).
constexpr double kStraightShare = 0.25;

// A stroke with a free end fitted by more than one entity, refitted as the
// one LINE its points follow best, or, with both ends free and no straight
// stretch among the entities, the one ARC: the trace's end wanders off the
// drawn stroke's course within the ink, so the line from the free end's
// own point may miss points the stroke's line keeps.
void bestFitAtFreeEnds(std::span<const Point> points, double tolerance, bool frontFree, bool backFree,
                       std::vector<FitEntity>& entities, std::vector<std::pair<std::size_t, std::size_t>>& spans) {
    if (!(frontFree || backFree) || (entities.size() == 1 && entities[0].kind != EntityKind::Polyline)) return;
    std::optional<FitEntity> best = bestLine(points, tolerance, frontFree, backFree);
    if (!best && frontFree && backFree) {
        double length = 0.0;
        for (std::size_t k = 1; k < points.size(); ++k) length += distance(points[k - 1], points[k]);
        const bool straight = std::any_of(entities.begin(), entities.end(), [&](const FitEntity& e) {
            return e.kind == EntityKind::Line && distance(e.start, e.end) >= kStraightShare * length;
        });
        if (!straight) best = bestArc(points, tolerance);
    }
    if (!best) return;
    entities = {*best};
    spans = {{0, points.size() - 1}};
}

// Fits one polyline into one chain of `out`. `touchesOthers`: a ring
// that other polylines end on; `frontFree`, `backFree`: an end that
// touches nothing.
void fitPolyline(std::span<const Point> polyline, bool touchesOthers, bool frontFree, bool backFree,
                 const PackedBitmap& ink, const fit::pens::InkWidths& inkWidths, const FitOptions& options,
                 FitResult& out) {
    const bool freeEnds = frontFree && backFree;
    std::vector<Point> points(polyline.begin(), polyline.end());
    const std::vector<double> segmentWidths = inkWidths.Known(points);
    const double tolerance = toleranceFor(segmentWidths, options);
    out.tolerance = std::max(out.tolerance, tolerance);
    std::vector<double> widths = segmentWidths;

    // Free ends follow the pen's cap rather than the trace's end, unless
    // the user asked for every point within a tolerance of their own.
    const bool capEnds = !(options.tolerance > 0);
    if (capEnds && frontFree) dropHook(points, widths, true);
    if (capEnds && backFree) dropHook(points, widths, false);
    const bool closed = points.size() >= 4 && points.front() == points.back();
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    std::vector<FitEntity> entities;
    std::optional<FitEntity> circle;
    // With the step's own tolerance a ring may be dented by up to half its
    // ink's width (circleFits); with one the user gave, nowhere beyond it.
    const double dentTolerance =
        capEnds ? std::clamp(fit::pens::median(segmentWidths) / 2, tolerance, kRingDentTolerances * tolerance) : 0.0;
    if (closed && !touchesOthers) circle = circleFits(points, tolerance, dentTolerance);
    if (!closed && freeEnds && points.size() >= 6) {
        std::vector<Point> ring = points;
        ring.push_back(points.front());
        circle = circleFits(ring, tolerance, dentTolerance);
        if (circle && !(distance(points.front(), points.back()) <= kMaxRingGapRadii * circle->radius)) circle.reset();
    }
    if (circle) {
        entities.push_back(*circle);
        spans.emplace_back(0, points.size() - 1);
    } else {
        if (closed && !touchesOthers) {
            const std::size_t corner = sharpestCorner(points);
            std::rotate(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(corner), points.end() - 1);
            points.back() = points.front();
            std::rotate(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(corner), widths.end());
        }
        fitRun(points, tolerance, entities, spans);
        if (!closed) bestFitAtFreeEnds(points, tolerance, frontFree, backFree, entities, spans);
    }
    for (std::size_t k = 0; k < entities.size(); ++k) {
        const auto& [from, to] = spans[k];
        entities[k].width =
            fit::pens::median(std::span<const double>(widths).subspan(from, std::max<std::size_t>(to - from, 1)));
    }
    if (capEnds && !closed && !circle) {
        if (frontFree) endAtCap(entities.front(), true, ink);
        if (backFree) endAtCap(entities.back(), false, ink);
    }
    std::move(entities.begin(), entities.end(), std::back_inserter(out.entities));
    out.chainBegin.push_back(out.entities.size());
}

// The chain's points for the formats that know only polylines.
void appendChainPoints(std::span<const FitEntity> chain, double tolerance, std::vector<Point>& points) {
    points.push_back(chain.front().start);
    for (const FitEntity& entity : chain) {
        switch (entity.kind) {
            case EntityKind::Line: points.push_back(entity.end); break;
            case EntityKind::Arc:
            case EntityKind::Circle: {
                const std::vector<Point> flat = FlattenCurve(entity, tolerance);
                points.insert(points.end(), flat.begin() + 1, flat.end());
                break;
            }
            case EntityKind::Polyline: points.insert(points.end(), entity.points.begin() + 1, entity.points.end()); break;
        }
    }
}

}  // namespace

Point PointOnCurve(const FitEntity& entity, double fraction) {
    if (entity.kind == EntityKind::Circle) {
        const double angle = angleAbout(entity.start, entity.centre) + 2 * kPi * fraction;
        return {entity.centre.x + entity.radius * std::cos(angle), entity.centre.y + entity.radius * std::sin(angle)};
    }
    return pointOnArc(entity, fraction);
}

std::vector<Point> FlattenCurve(const FitEntity& entity, double tolerance) {
    const double sweep = entity.kind == EntityKind::Circle ? 2 * kPi : arcSweep(entity);
    // A chord of angle a lies r (1 - cos(a / 2)) inside its arc.
    const double ratio = std::clamp(1.0 - tolerance / std::max(entity.radius, 1e-9), -1.0, 1.0);
    const double step = std::max(2 * std::acos(ratio), 1e-3);
    const std::size_t minimum = entity.kind == EntityKind::Circle ? 8 : 2;
    const auto count = std::clamp<std::size_t>(static_cast<std::size_t>(std::ceil(sweep / step)), minimum, 4096);
    std::vector<Point> points;
    points.reserve(count + 1);
    points.push_back(entity.start);
    for (std::size_t k = 1; k < count; ++k) {
        points.push_back(PointOnCurve(entity, static_cast<double>(k) / static_cast<double>(count)));
    }
    points.push_back(entity.end);
    return points;
}

TVemotrace_fit::TVemotrace_fit(std::string linesPath, const PackedBitmap& ink, FitOptions options)
    : m_linesPath(std::move(linesPath)), m_ink(ink), m_options(options) {}

FitResult TVemotrace_fit::FitPolylines(const std::vector<Point>& joinedPoints,
                                       const std::vector<std::size_t>& joinedBegin, const PackedBitmap& ink,
                                       const FitOptions& options) {
    // Dirt only with the step's own tolerance: its points may lie further
    // off than a tolerance the user gives.
    // Widths probed before the fitting are kept for it.
    // The dirt and the breaks keep about a width for each polyline.
    fit::pens::InkWidths inkWidths(ink, joinedBegin.size());
    join::lines::Polylines cleaned;
    const bool ownTolerance = !(options.tolerance > 0);
    if (ownTolerance) cleaned = fit::dirt::clean(joinedPoints, joinedBegin, inkWidths);
    const std::vector<Point>& linePoints = ownTolerance ? cleaned.points : joinedPoints;
    const std::vector<std::size_t>& lineBegin = ownTolerance ? cleaned.begin : joinedBegin;
    const EndPoints ends(linePoints, lineBegin);
    const join::lines::Polylines chains = fit::gaps::joinAcrossBreaks(
        chainAtTwoEnds(linePoints, lineBegin), [&](const Point& p) { return ends.Count(p) == 1; }, inkWidths,
        [&](std::span<const Point> points) {
            return ownTolerance ? toleranceFor(inkWidths.Segments(points), options) : options.tolerance;
        },
        ownTolerance ? kMaxTolerance : options.tolerance);
    const std::vector<Point>& points = chains.points;
    const std::vector<std::size_t>& begin = chains.begin;
    const std::size_t count = begin.size() - 1;
    // Blocks of polylines on two threads, each into a result of its own.
    std::vector<FitResult> blocks((count + join::lines::kThreadBlock - 1) / join::lines::kThreadBlock);
    join::lines::inTwoThreads(count, [&](std::size_t firstLine, std::size_t lastLine) {
        FitResult& out = blocks[firstLine / join::lines::kThreadBlock];
        for (std::size_t k = firstLine; k < lastLine; ++k) {
            const std::span<const Point> polyline(points.data() + begin[k], begin[k + 1] - begin[k]);
            if (polyline.size() < 2) continue;
            // A ring's first point is its last, so it counts twice alone.
            const std::size_t atFront = ends.Count(polyline.front());
            fitPolyline(polyline, atFront > 2, atFront == 1, ends.Count(polyline.back()) == 1, ink, inkWidths, options,
                        out);
        }
    });
    FitResult result;
    // Room for all at once: growing would move every entity again and again.
    std::size_t entities = 0;
    for (const FitResult& block : blocks) entities += block.entities.size();
    result.entities.reserve(entities);
    result.chainBegin.reserve(count + 1);
    for (FitResult& block : blocks) {
        const std::size_t offset = result.entities.size();
        for (std::size_t k = 1; k < block.chainBegin.size(); ++k) result.chainBegin.push_back(offset + block.chainBegin[k]);
        std::move(block.entities.begin(), block.entities.end(), std::back_inserter(result.entities));
        result.tolerance = std::max(result.tolerance, block.tolerance);
    }
    if (result.tolerance == 0) result.tolerance = options.tolerance > 0 ? options.tolerance : kMinTolerance;
    if (options.snapAngles) fit::pens::snapAngles(result.entities);
    fit::pens::assignPens(result);
    return result;
}

void TVemotrace_fit::FitLines() {
    const join::lines::Polylines lines = join::lines::readPolylines(m_linesPath);
    m_result = FitPolylines(lines.points, lines.begin, m_ink, m_options);

    join::lines::Polylines flat;
    for (std::size_t k = 0; k < m_result.ChainCount(); ++k) {
        const std::span<const FitEntity> chain(m_result.entities.data() + m_result.chainBegin[k],
                                               m_result.chainBegin[k + 1] - m_result.chainBegin[k]);
        appendChainPoints(chain, m_result.tolerance, flat.points);
        flat.begin.push_back(flat.points.size());
    }
    RecordWriter writer(m_linesPath);
    writer.Open();
    int32_t polylines = 0, vertices = 0;
    join::lines::writePolylines(flat, writer, polylines, vertices);
    writer.Close();
}
