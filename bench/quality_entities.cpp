// quality_entities: the entity view of bench/quality (see the header).
#include "bench/quality_entities.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "export/Vemo_compdata.h"
#include "trace/Vemotrace_fit.h"
#include "trace/fit/Vemotrace_fitdirt.h"
#include "trace/join/Vemotrace_joinlines.h"

namespace quality {

namespace {

using Line = std::vector<Point>;

constexpr double kMatch = 1.5;         // px, as quality's coverage
constexpr double kOneEntityShare = 0.9;  // of a primitive, for "as one"
constexpr double kStep = 0.5;          // px between samples
constexpr double kExact = 0.01;        // px: a drawn point on its circle

enum class Primitive { Line, Arc, Circle, Other };

double segmentDistance(const Point& p, const Point& a, const Point& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, length2 = dx * dx + dy * dy;
    const double t = length2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length2, 0.0, 1.0) : 0.0;
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

double lineDistance(const Point& p, const Line& line) {
    double nearest = HUGE_VAL;
    for (std::size_t k = 1; k < line.size(); ++k) nearest = std::min(nearest, segmentDistance(p, line[k - 1], line[k]));
    return nearest;
}

std::vector<Point> samples(const Line& line) {
    std::vector<Point> out;
    for (std::size_t k = 1; k < line.size(); ++k) {
        const int n = std::max(1, static_cast<int>(std::ceil(distance(line[k - 1], line[k]) / kStep)));
        for (int s = k == 1 ? 0 : 1; s <= n; ++s) {
            const double t = static_cast<double>(s) / n;
            out.push_back({line[k - 1].x + t * (line[k].x - line[k - 1].x), line[k - 1].y + t * (line[k].y - line[k - 1].y)});
        }
    }
    return out;
}

Primitive classify(const Line& stroke) {
    if (stroke.size() == 2) return Primitive::Line;
    if (stroke.size() < 5) return Primitive::Other;
    const Point& a = stroke.front();
    const Point& b = stroke[stroke.size() / 3];
    const Point& c = stroke[2 * stroke.size() / 3];
    // The circle through three of its points.
    const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y, d = 2 * (bx * cy - by * cx);
    if (std::fabs(d) < 1e-9) return Primitive::Other;
    const Point centre{a.x + (cy * (bx * bx + by * by) - by * (cx * cx + cy * cy)) / d,
                       a.y + (bx * (cx * cx + cy * cy) - cx * (bx * bx + by * by)) / d};
    const double r = distance(a, centre);
    // Vertices and the segments' middles: a square's corners lie on a
    // circle too.
    for (std::size_t k = 0; k < stroke.size(); ++k) {
        if (std::fabs(distance(stroke[k], centre) - r) > kExact) return Primitive::Other;
        if (k > 0) {
            const Point middle{(stroke[k - 1].x + stroke[k].x) / 2, (stroke[k - 1].y + stroke[k].y) / 2};
            if (std::fabs(distance(middle, centre) - r) > kExact) return Primitive::Other;
        }
    }
    return distance(stroke.front(), stroke.back()) < kExact ? Primitive::Circle : Primitive::Arc;
}

// An entity as chords, for distances.
Line chords(const FitEntity& e, double tolerance) {
    switch (e.kind) {
        case EntityKind::Line: return {e.start, e.end};
        case EntityKind::Arc:
        case EntityKind::Circle: return FlattenCurve(e, std::min(tolerance, 0.05));
        case EntityKind::Polyline: return e.points;
    }
    return {};
}

struct Box {
    double left, top, right, bottom;
    bool Meets(const Box& o, double margin) const {
        return left - margin <= o.right && o.left - margin <= right && top - margin <= o.bottom &&
               o.top - margin <= bottom;
    }
};

Box boxOf(const Line& line) {
    Box box{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const Point& p : line) {
        box.left = std::min(box.left, p.x);
        box.right = std::max(box.right, p.x);
        box.top = std::min(box.top, p.y);
        box.bottom = std::max(box.bottom, p.y);
    }
    return box;
}

// The distance from a point to the nearest of a set of lines, and the
// nearest point itself.
class Nearest {
public:
    explicit Nearest(const std::vector<Line>& lines) : m_lines(lines) {
        for (const Line& line : lines) m_boxes.push_back(boxOf(line));
    }
    double Distance(const Point& p) const {
        double nearest = HUGE_VAL;
        for (std::size_t k = 0; k < m_lines.size(); ++k) {
            if (m_boxes[k].Meets(Box{p.x, p.y, p.x, p.y}, nearest)) nearest = std::min(nearest, lineDistance(p, m_lines[k]));
        }
        return nearest;
    }
    // The point of the lines nearest p (p itself when there are none).
    Point NearestPoint(const Point& p) const {
        double nearest = HUGE_VAL;
        Point at = p;
        for (std::size_t k = 0; k < m_lines.size(); ++k) {
            if (!m_boxes[k].Meets(Box{p.x, p.y, p.x, p.y}, nearest)) continue;
            const Line& line = m_lines[k];
            for (std::size_t j = 0; j < line.size(); ++j) {
                const Point& a = line[j];
                const Point& b = line[std::min(j + 1, line.size() - 1)];
                const double dx = b.x - a.x, dy = b.y - a.y, length2 = dx * dx + dy * dy;
                const double t =
                    length2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length2, 0.0, 1.0) : 0.0;
                const Point q{a.x + t * dx, a.y + t * dy};
                if (distance(p, q) < nearest) {
                    nearest = distance(p, q);
                    at = q;
                }
            }
        }
        return at;
    }

private:
    const std::vector<Line>& m_lines;
    std::vector<Box> m_boxes;
};

double fileSize(const std::string& path) {
    std::error_code ignored;
    const auto size = std::filesystem::file_size(path, ignored);
    return ignored ? 0.0 : static_cast<double>(size);
}

// Points of the circle about `centre` from angle `from` by `sweep`, a point
// every 1/400 of a cell (chords within a hundredth of a pixel).
Line circularArc(const Point& centre, double radius, double from, double sweep) {
    const int n = std::max(8, static_cast<int>(std::fabs(sweep) * radius * 400));
    Line line;
    for (int i = 0; i <= n; ++i) {
        const double a = from + sweep * i / n;
        line.push_back({centre.x + radius * std::cos(a), centre.y + radius * std::sin(a)});
    }
    return line;
}

}  // namespace

std::vector<Line> RoundedFigure(int cell, std::mt19937& random) {
    constexpr double kPi = 3.14159265358979323846;
    const auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    if (cell % 2 == 0) return {circularArc({0.5, 0.5}, uniform(0.2, 0.38), uniform(0, 2 * kPi), uniform(0.3, 1.6) * kPi)};
    // Legs from a corner at 60 to 120 degrees, the corner rounded with a
    // radius of 0.08 to 0.2 cells: the arc meets each leg at the point where
    // its tangent is the leg.
    const double turn = uniform(0, 2 * kPi), opening = uniform(kPi / 3, 2 * kPi / 3);
    const Point d1{std::cos(turn), std::sin(turn)}, d2{std::cos(turn + opening), std::sin(turn + opening)};
    const double radius = uniform(0.08, 0.2), leg = 0.4;
    const double tangent = radius / std::tan(opening / 2), toCentre = radius / std::sin(opening / 2);
    const Point bisector{(d1.x + d2.x) / std::hypot(d1.x + d2.x, d1.y + d2.y),
                         (d1.y + d2.y) / std::hypot(d1.x + d2.x, d1.y + d2.y)};
    // The corner where the figure's box is centred in the cell.
    const Point far1{leg * d1.x, leg * d1.y}, far2{leg * d2.x, leg * d2.y};
    const double left = std::min({0.0, far1.x, far2.x}), right = std::max({0.0, far1.x, far2.x});
    const double top = std::min({0.0, far1.y, far2.y}), bottom = std::max({0.0, far1.y, far2.y});
    const Point corner{0.5 - (left + right) / 2, 0.5 - (top + bottom) / 2};
    const Point t1{corner.x + tangent * d1.x, corner.y + tangent * d1.y};
    const Point t2{corner.x + tangent * d2.x, corner.y + tangent * d2.y};
    const Point centre{corner.x + toCentre * bisector.x, corner.y + toCentre * bisector.y};
    const double from = std::atan2(t1.y - centre.y, t1.x - centre.x);
    double sweep = std::atan2(t2.y - centre.y, t2.x - centre.x) - from;
    if (sweep > kPi) sweep -= 2 * kPi;
    if (sweep < -kPi) sweep += 2 * kPi;
    Line round = circularArc(centre, radius, from, sweep);
    round.front() = t1;  // the very points the legs end at
    round.back() = t2;
    return {{{corner.x + far1.x, corner.y + far1.y}, t1}, round, {t2, {corner.x + far2.x, corner.y + far2.y}}};
}

void EntityView::Figures::Add(const Figures& o) {
    primitives += o.primitives;
    entities += o.entities;
    lines += o.lines;
    linesAsOne += o.linesAsOne;
    arcs += o.arcs;
    arcsAsOne += o.arcsAsOne;
    circles += o.circles;
    circlesAsOne += o.circlesAsOne;
    largestDistance = std::max(largestDistance, o.largestDistance);
    joinDistance = std::max(joinDistance, o.joinDistance);
    fittingDistance = std::max(fittingDistance, o.fittingDistance);
    middleDistance = std::max(middleDistance, o.middleDistance);
    tolerance = std::max(tolerance, o.tolerance);
    gaps += o.gaps;
    dxfBytes += o.dxfBytes;
    polylineDxfBytes += o.polylineDxfBytes;
    seconds += o.seconds;
    shares.covered += o.shares.covered;
    shares.drawn += o.shares.drawn;
    shares.precise += o.shares.precise;
    shares.traced += o.shares.traced;
    flatShares.covered += o.flatShares.covered;
    flatShares.drawn += o.flatShares.drawn;
    flatShares.precise += o.flatShares.precise;
    flatShares.traced += o.flatShares.traced;
}

void EntityView::Add(const std::string& group, const std::vector<Line>& strokes, int32_t size, const PackedBitmap& ink,
                     const std::string& linesPath, const std::string& folder, const MeasureLines& measure) {
    const join::lines::Polylines joined = join::lines::readPolylines(linesPath);
    const auto t0 = std::chrono::steady_clock::now();
    auto fitted = std::make_shared<FitResult>(TVemotrace_fit::FitPolylines(joined.points, joined.begin, ink, {}));
    const auto t1 = std::chrono::steady_clock::now();

    Figures f;
    f.seconds = std::chrono::duration<double>(t1 - t0).count();
    f.primitives = static_cast<double>(strokes.size());
    f.entities = static_cast<double>(fitted->entities.size());
    f.tolerance = fitted->tolerance;

    std::vector<Line> entityChords;
    std::vector<Box> entityBoxes;
    for (const FitEntity& e : fitted->entities) {
        entityChords.push_back(chords(e, fitted->tolerance));
        entityBoxes.push_back(boxOf(entityChords.back()));
    }
    // Drawn primitives as one entity of their kind.
    for (const Line& stroke : strokes) {
        const Primitive kind = classify(stroke);
        if (kind == Primitive::Other) continue;
        const EntityKind wanted =
            kind == Primitive::Line ? EntityKind::Line : kind == Primitive::Arc ? EntityKind::Arc : EntityKind::Circle;
        const std::vector<Point> drawn = samples(stroke);
        const Box box = boxOf(stroke);
        bool asOne = false;
        for (std::size_t e = 0; e < fitted->entities.size() && !asOne; ++e) {
            if (fitted->entities[e].kind != wanted || !box.Meets(entityBoxes[e], kMatch)) continue;
            const auto near = std::count_if(drawn.begin(), drawn.end(),
                                            [&](const Point& p) { return lineDistance(p, entityChords[e]) <= kMatch; });
            asOne = static_cast<double>(near) >= kOneEntityShare * static_cast<double>(drawn.size());
        }
        double& count = kind == Primitive::Line ? f.lines : kind == Primitive::Arc ? f.arcs : f.circles;
        double& one = kind == Primitive::Line ? f.linesAsOne : kind == Primitive::Arc ? f.arcsAsOne : f.circlesAsOne;
        count += 1;
        one += asOne ? 1 : 0;
    }
    // Entities on a stroke: their largest distance from the drawn strokes'
    // centre lines, and the same for the joined polylines the fitting
    // starts from (the join step's own share of it). What the fitting adds:
    // how much further from the drawn strokes a point of an entity lies
    // than the nearest point of the joined polylines does (so following a
    // joined polyline that lies off adds nothing, and neither does a
    // bridge across a break along the stroke). The same away from the
    // entity's ends (further than its ink's width): a thick pen's free end
    // may lie up to the width off by design, so only this part tells
    // whether an entity strays between its polyline's vertices.
    std::vector<Line> joinedLines;
    for (std::size_t k = 0; k + 1 < joined.begin.size(); ++k) {
        joinedLines.emplace_back(joined.points.begin() + static_cast<std::ptrdiff_t>(joined.begin[k]),
                                 joined.points.begin() + static_cast<std::ptrdiff_t>(joined.begin[k + 1]));
    }
    const Nearest toStrokes(strokes), toJoined(joinedLines);
    for (std::size_t e = 0; e < entityChords.size(); ++e) {
        const std::vector<Point> points = samples(entityChords[e]);
        const FitEntity& entity = fitted->entities[e];
        const double endZone = std::max(entity.width, 1.0);
        double largest = 0, added = 0, middle = 0;
        std::size_t near = 0;
        for (const Point& p : points) {
            const double nearest = toStrokes.Distance(p);
            largest = std::max(largest, nearest);
            near += nearest <= kMatch;
            const double more = nearest - toStrokes.Distance(toJoined.NearestPoint(p));
            added = std::max(added, more);
            if (std::hypot(p.x - entity.start.x, p.y - entity.start.y) > endZone &&
                std::hypot(p.x - entity.end.x, p.y - entity.end.y) > endZone) {
                middle = std::max(middle, more);
            }
        }
        if (2 * near < points.size()) continue;
        f.largestDistance = std::max(f.largestDistance, largest);
        f.fittingDistance = std::max(f.fittingDistance, added);
        f.middleDistance = std::max(f.middleDistance, middle);
    }
    for (const Line& line : joinedLines) {
        if (line.size() < 2) continue;
        const std::vector<Point> points = samples(line);
        double largest = 0;
        std::size_t near = 0;
        for (const Point& p : points) {
            const double nearest = toStrokes.Distance(p);
            largest = std::max(largest, nearest);
            near += nearest <= kMatch;
        }
        if (2 * near >= points.size()) f.joinDistance = std::max(f.joinDistance, largest);
    }
    // Junctions: every point where three or more joined polylines end is an
    // end of an entity (where two end, the fitting may run through; a free
    // end may close into a circle), and the entities of a chain meet end to
    // end. The polylines are those the fitting starts from once it has
    // taken the dirt away: where a spur or a small loop went, its junction
    // is none.
    std::vector<Point> kept;
    for (const FitEntity& e : fitted->entities) {
        kept.push_back(e.start);
        kept.push_back(e.end);
    }
    const auto less = [](const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); };
    std::sort(kept.begin(), kept.end(), less);
    const join::lines::Polylines cleaned = fit::dirt::clean(joined.points, joined.begin, ink);
    std::vector<Point> ends;
    for (std::size_t k = 0; k + 1 < cleaned.begin.size(); ++k) {
        if (cleaned.begin[k + 1] - cleaned.begin[k] < 2) continue;
        ends.push_back(cleaned.points[cleaned.begin[k]]);
        ends.push_back(cleaned.points[cleaned.begin[k + 1] - 1]);
    }
    std::sort(ends.begin(), ends.end(), less);
    for (std::size_t first = 0; first < ends.size();) {
        std::size_t last = first + 1;
        while (last < ends.size() && ends[last] == ends[first]) ++last;
        if (last - first >= 3 && !std::binary_search(kept.begin(), kept.end(), ends[first], less)) f.gaps += 1;
        first = last;
    }
    for (std::size_t c = 0; c < fitted->ChainCount(); ++c) {
        for (std::size_t e = fitted->chainBegin[c] + 1; e < fitted->chainBegin[c + 1]; ++e) {
            if (!(fitted->entities[e - 1].end == fitted->entities[e].start)) f.gaps += 1;
        }
    }
    // The entities as the DXF and SVG hold them (arcs and circles as
    // chords within 0.05 px), and as the polyline formats get them (arcs
    // and circles as points within the tolerance, so chords that cut up to
    // the tolerance inside the curve), each measured as quality measures
    // the polylines.
    std::vector<Line> exact, flat;
    for (std::size_t c = 0; c < fitted->ChainCount(); ++c) {
        Line line, points;
        for (std::size_t e = fitted->chainBegin[c]; e < fitted->chainBegin[c + 1]; ++e) {
            const FitEntity& entity = fitted->entities[e];
            const Line part = entityChords[e];
            line.insert(line.end(), part.begin() + (line.empty() ? 0 : 1), part.end());
            const Line written = entity.kind == EntityKind::Line       ? Line{entity.start, entity.end}
                                 : entity.kind == EntityKind::Polyline ? entity.points
                                                                       : FlattenCurve(entity, fitted->tolerance);
            points.insert(points.end(), written.begin() + (points.empty() ? 0 : 1), written.end());
        }
        exact.push_back(std::move(line));
        flat.push_back(std::move(points));
    }
    f.shares = measure(exact);
    f.flatShares = measure(flat);
    // The two DXF files.
    TraceResult result;
    result.linesPath = linesPath;
    result.imageWidth = result.imageHeight = size;
    result.xRatio = result.yRatio = 1.0;
    TVemo_compdata polylines;
    polylines.SetExportParams(result);
    polylines.WriteDxf(folder + "/polylines.dxf");
    TVemo_compdata entities;
    entities.SetExportParams(result);
    entities.SetEntities(fitted);
    entities.WriteDxf(folder + "/entities.dxf");
    f.polylineDxfBytes = fileSize(folder + "/polylines.dxf");
    f.dxfBytes = fileSize(folder + "/entities.dxf");

    const auto at = std::find_if(m_groups.begin(), m_groups.end(), [&](const auto& g) { return g.first == group; });
    if (at == m_groups.end()) {
        m_groups.emplace_back(group, f);
    } else {
        at->second.Add(f);
    }
}

void EntityView::Print() const {
    const auto share = [](double part, double whole) {
        char text[16];
        if (whole == 0) return std::string("    -");
        std::snprintf(text, sizeof text, "%5.1f", 100 * part / whole);
        return std::string(text);
    };
    const auto row = [&](const std::string& name, const Figures& f) {
        std::printf("%-18s | %6.2f %s %s %s %5.2f %5.2f %5.2f %5.2f %4.2f %4.0f %5.1f %s %s %s %s %6.0f\n", name.c_str(),
                    f.entities / std::max(f.primitives, 1.0), share(f.linesAsOne, f.lines).c_str(),
                    share(f.arcsAsOne, f.arcs).c_str(), share(f.circlesAsOne, f.circles).c_str(), f.largestDistance,
                    f.joinDistance, f.fittingDistance, f.middleDistance, f.tolerance, f.gaps,
                    100 * f.dxfBytes / std::max(f.polylineDxfBytes, 1.0), share(f.shares.covered, f.shares.drawn).c_str(),
                    share(f.shares.precise, f.shares.traced).c_str(),
                    share(f.flatShares.covered, f.flatShares.drawn).c_str(),
                    share(f.flatShares.precise, f.flatShares.traced).c_str(), f.seconds * 1000);
    };
    std::printf("\nentities (--fit)   | ent/prm line1  arc1 circ1  maxd joind  fitd  fitm  tol gaps  dxf%% cover  prec flatc flatp fit ms\n");
    Figures all;
    for (const auto& [name, f] : m_groups) {
        row(name, f);
        all.Add(f);
    }
    row("all", all);
}

}  // namespace quality
