// Fuzzes the fitting step on any set of polylines. Byte 0 picks the
// tolerance (0: the step's own choice), byte 1 bit 0 the angle snap; then
// per polyline a point count byte (bit 7: close it into a ring) and per
// point two little-endian int16 (x, y) in sixteenths of a pixel. A drawn
// 64 x 64 bitmap of ink gives the widths: a diagonal band of bytes 2 to 513.
// Whatever comes in, the entities must be finite numbers, each chain must
// run end to end from its polyline's first point to its last, and every
// vertex must lie within the tolerance of the chain, every segment's middle
// within half a pixel more.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "trace/Vemotrace_fit.h"
#include "trace/Vemotrace_packed.h"

namespace {

constexpr int32_t kSide = 64;

bool finite(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

double segmentDistance(const Point& p, const Point& a, const Point& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, length2 = dx * dx + dy * dy;
    const double t = length2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length2, 0.0, 1.0) : 0.0;
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
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
            case EntityKind::Circle: part = FlattenCurve(e, result.tolerance / 100); break;
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
    Require(std::isfinite(result.tolerance) && result.tolerance > 0, "a tolerance that is no number");
    for (const FitEntity& e : result.entities) {
        Require(finite(e.start) && finite(e.end) && finite(e.centre) && std::isfinite(e.radius) &&
                    std::isfinite(e.width),
                "an entity that is no number");
        Require(e.pen >= 0 && static_cast<std::size_t>(e.pen) < result.penWidths.size(), "an entity without a pen");
        for (const Point& p : e.points) Require(finite(p), "a polyline point that is no number");
    }
    std::size_t chain = 0;
    for (std::size_t k = 1; k < begin.size(); ++k) {
        if (begin[k] - begin[k - 1] < 2) continue;
        Require(chain < result.ChainCount(), "a polyline without its chain");
        const std::size_t first = result.chainBegin[chain], last = result.chainBegin[chain + 1];
        Require(first < last, "an empty chain");
        for (std::size_t e = first + 1; e < last; ++e) {
            Require(result.entities[e - 1].end == result.entities[e].start, "a gap inside a chain");
        }
        if (!options.snapAngles) {
            const Point& from = points[begin[k - 1]];
            const Point& to = points[begin[k] - 1];
            const bool circle = result.entities[first].kind == EntityKind::Circle;
            const bool rotatedRing = from == to;  // a ring may start at its sharpest corner
            Require(circle || rotatedRing || (result.entities[first].start == from && result.entities[last - 1].end == to),
                    "a chain that does not keep its polyline's ends");
            const std::vector<Point> fine = fineChain(result, chain);
            const double allowed = result.tolerance * 1.02 + 1e-6;
            // Between vertices the polyline may lie this much further from
            // a curve (the join step's own simplification).
            constexpr double kChordSlack = 0.5;
            for (std::size_t p = begin[k - 1]; p < begin[k]; ++p) {
                Require(distanceToChain(points[p], fine) <= allowed, "a vertex beyond the tolerance");
                if (p > begin[k - 1]) {
                    const Point middle{(points[p - 1].x + points[p].x) / 2, (points[p - 1].y + points[p].y) / 2};
                    Require(distanceToChain(middle, fine) <= allowed + kChordSlack, "a segment beyond the tolerance");
                }
            }
        }
        ++chain;
    }
    Require(chain == result.ChainCount(), "a chain without its polyline");
    return 0;
}
