// Fuzzes the fitting step on any set of polylines. Byte 0 picks the
// tolerance (0: the step's own choice), byte 1 bit 0 the angle snap; then
// per polyline a point count byte (bit 7: close it into a ring) and per
// point two little-endian int16 (x, y) in sixteenths of a pixel. A drawn
// 64 x 64 bitmap of ink gives the widths: a diagonal band of bytes 2 to 513.
// Whatever comes in, the entities must be finite numbers, the chains no
// more than the polylines (with the step's own tolerance: those left when
// the dirt is taken away, which holds only points given; pieces joined
// across a break are one entity and so within the tolerance too), each chain's entities end to end, every point
// where three or more polylines end an entity's end, and every vertex
// within the tolerance of the chains (near a free end, with the step's own
// tolerance, the widest pen's width more: a thick line's end moves to its
// cap's centre), every
// segment's middle within half a pixel more.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "trace/Vemotrace_fit.h"
#include "trace/Vemotrace_packed.h"
#include "trace/fit/Vemotrace_fitdirt.h"

namespace {

constexpr int32_t kSide = 64;

bool finite(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

double segmentDistance(const Point& p, const Point& a, const Point& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, length2 = dx * dx + dy * dy;
    const double t = length2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length2, 0.0, 1.0) : 0.0;
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

// An arc or circle as chords within `within` of it, however large:
// FlattenCurve stops at 4096 chords, which on a flat arc of half a
// million pixels' radius going nearly round lie 0.15 px inside it.
std::vector<Point> fineCurve(const FitEntity& e, double within) {
    constexpr double kTurn = 6.283185307179586;  // no arc sweeps more
    const double angleStep = 2 * std::acos(std::clamp(1.0 - within / std::max(e.radius, 1e-9), -1.0, 1.0));
    const auto count = static_cast<std::size_t>(std::clamp(std::ceil(kTurn / std::max(angleStep, 1e-12)), 8.0, 131072.0));
    std::vector<Point> points;
    points.reserve(count + 1);
    points.push_back(e.start);
    for (std::size_t k = 1; k < count; ++k) points.push_back(PointOnCurve(e, static_cast<double>(k) / static_cast<double>(count)));
    points.push_back(e.end);
    return points;
}

// The chain drawn finely: arcs and circles as chords a hundredth of the
// tolerance from the curve, so the check does not lean on the step's own
// distance code.
std::vector<Point> fineChain(const FitResult& result, std::size_t chain) {
    std::vector<Point> points;
    for (std::size_t k = result.chainBegin[chain]; k < result.chainBegin[chain + 1]; ++k) {
        const FitEntity& e = result.entities[k];
        std::vector<Point> part;
        switch (e.kind) {
            case EntityKind::Line: part = {e.start, e.end}; break;
            case EntityKind::Arc:
            case EntityKind::Circle: part = fineCurve(e, result.tolerance / 100); break;
            case EntityKind::Polyline: part = e.points; break;
        }
        points.insert(points.end(), part.begin(), part.end());
    }
    return points;
}

double distanceToChain(const Point& p, const std::vector<Point>& chain) {
    double nearest = HUGE_VAL;
    for (std::size_t k = 1; k < chain.size(); ++k) nearest = std::min(nearest, segmentDistance(p, chain[k - 1], chain[k]));
    return chain.size() == 1 ? std::hypot(p.x - chain[0].x, p.y - chain[0].y) : nearest;
}

bool less(const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }

struct Box {
    double left = HUGE_VAL, top = HUGE_VAL, right = -HUGE_VAL, bottom = -HUGE_VAL;
    bool Near(const Point& p, double margin) const {
        return p.x >= left - margin && p.x <= right + margin && p.y >= top - margin && p.y <= bottom + margin;
    }
};

Box boxOf(const std::vector<Point>& points) {
    Box box;
    for (const Point& p : points) {
        box.left = std::min(box.left, p.x);
        box.right = std::max(box.right, p.x);
        box.top = std::min(box.top, p.y);
        box.bottom = std::max(box.bottom, p.y);
    }
    return box;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    FitOptions options;
    options.tolerance = data[0] == 0 ? 0.0 : data[0] / 32.0;
    options.snapAngles = (data[1] & 1) != 0;
    std::vector<uint8_t> pixels(kSide * kSide, 255);
    for (std::size_t i = 0; i < 512 && 2 + i < size; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            if ((data[2 + i] >> bit) & 1) pixels[(i * 8 + bit) % pixels.size()] = 0;
        }
    }
    const PackedBitmap ink = PackedBitmap::FromBytes(BitmapView{kSide, kSide, pixels.data(), kSide});

    std::vector<Point> points;
    std::vector<std::size_t> begin{0};
    const auto int16At = [&](std::size_t at) { return static_cast<int16_t>(data[at] | (data[at + 1] << 8)); };
    for (std::size_t at = 2; at < size;) {
        const std::size_t count = data[at] & 0x7f;
        const bool ring = (data[at] & 0x80) != 0;
        ++at;
        for (std::size_t k = 0; k < count && at + 4 <= size; ++k, at += 4) {
            points.push_back({int16At(at) / 16.0, int16At(at + 2) / 16.0});
        }
        if (ring && points.size() > begin.back()) points.push_back(points[begin.back()]);
        begin.push_back(points.size());
    }

    const FitResult result = TVemotrace_fit::FitPolylines(points, begin, ink, options);
    if (!(options.tolerance > 0)) {
        // With its own tolerance the step first takes the dirt away: it
        // only drops points or goes straight between two of them, and what
        // is left is what the checks below hold the entities to.
        const join::lines::Polylines cleaned = fit::dirt::clean(points, begin, ink);
        std::vector<Point> given = points;
        std::sort(given.begin(), given.end(), less);
        for (const Point& p : cleaned.points) {
            Require(std::binary_search(given.begin(), given.end(), p, less), "dirt removal made a point");
        }
        Require(cleaned.begin.size() <= begin.size(), "dirt removal made a polyline");
        points = cleaned.points;
        begin = cleaned.begin;
    }
    Require(std::isfinite(result.tolerance) && result.tolerance > 0, "a tolerance that is no number");
    for (const FitEntity& e : result.entities) {
        Require(finite(e.start) && finite(e.end) && finite(e.centre) && std::isfinite(e.radius) &&
                    std::isfinite(e.width),
                "an entity that is no number");
        Require(e.pen >= 0 && static_cast<std::size_t>(e.pen) < result.penWidths.size(), "an entity without a pen");
        for (const Point& p : e.points) Require(finite(p), "a polyline point that is no number");
    }
    std::vector<std::vector<Point>> fine;
    std::vector<Box> boxes;
    for (std::size_t chain = 0; chain < result.ChainCount(); ++chain) {
        const std::size_t first = result.chainBegin[chain], last = result.chainBegin[chain + 1];
        Require(first < last, "an empty chain");
        for (std::size_t e = first + 1; e < last; ++e) {
            Require(result.entities[e - 1].end == result.entities[e].start, "a gap inside a chain");
        }
        fine.push_back(fineChain(result, chain));
        boxes.push_back(boxOf(fine.back()));
    }
    std::vector<Point> ends, kept;
    std::size_t polylines = 0;
    for (std::size_t k = 1; k < begin.size(); ++k) {
        if (begin[k] - begin[k - 1] < 2) continue;
        ++polylines;
        ends.push_back(points[begin[k - 1]]);
        ends.push_back(points[begin[k] - 1]);
    }
    Require(result.ChainCount() <= polylines && (polylines == 0) == (result.ChainCount() == 0),
            "chains that are not the polylines joined");
    if (!options.snapAngles) {
        // Where three or more polylines end, an entity ends too: a junction
        // stays one point.
        for (const FitEntity& e : result.entities) {
            kept.push_back(e.start);
            kept.push_back(e.end);
        }
        std::sort(ends.begin(), ends.end(), less);
        std::sort(kept.begin(), kept.end(), less);
        for (std::size_t first = 0; first < ends.size();) {
            std::size_t last = first + 1;
            while (last < ends.size() && ends[last] == ends[first]) ++last;
            Require(last - first < 3 || std::binary_search(kept.begin(), kept.end(), ends[first], less),
                    "a junction opened");
            first = last;
        }
        // Every vertex near the chains, every segment's middle within half
        // a pixel more (the join step's own simplification).
        const double allowed = result.tolerance * 1.02 + 1e-6;
        constexpr double kChordSlack = 0.5;
        const auto nearChains = [&](const Point& p, double limit) {
            for (std::size_t c = 0; c < fine.size(); ++c) {
                if (boxes[c].Near(p, limit) && distanceToChain(p, fine[c]) <= limit) return true;
            }
            return false;
        };
        // With the step's own tolerance a free end of a thick line may drop
        // a hook shorter than the pen's width and move to the centre of its
        // cap: the vertices near it may lie up to that width further off.
        const double cap = result.penWidths.empty() || options.tolerance > 0 ? 0.0 : result.penWidths.back();
        const auto nearFreeEnd = [&](const Point& p) {
            for (std::size_t e = 0; e < ends.size(); ++e) {
                const bool single = (e == 0 || !(ends[e - 1] == ends[e])) && (e + 1 == ends.size() || !(ends[e + 1] == ends[e]));
                if (single && std::hypot(p.x - ends[e].x, p.y - ends[e].y) <= 2 * cap + allowed) return true;
            }
            return false;
        };
        for (std::size_t k = 1; k < begin.size(); ++k) {
            if (begin[k] - begin[k - 1] < 2) continue;
            for (std::size_t p = begin[k - 1]; p < begin[k]; ++p) {
                Require(nearChains(points[p], allowed) || (nearFreeEnd(points[p]) && nearChains(points[p], allowed + cap)),
                        "a vertex beyond the tolerance");
                if (p > begin[k - 1]) {
                    const Point middle{(points[p - 1].x + points[p].x) / 2, (points[p - 1].y + points[p].y) / 2};
                    Require(nearChains(middle, allowed + kChordSlack) ||
                                (nearFreeEnd(middle) && nearChains(middle, allowed + kChordSlack + cap)),
                            "a segment beyond the tolerance");
                }
            }
        }
    }
    return 0;
}
