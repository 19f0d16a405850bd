// Vemotrace_fitpens: ink widths, pens and the angle snap of the fitting step.
#include "trace/fit/Vemotrace_fitpens.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>

#include "trace/fit/Vemotrace_fitshapes.h"
#include "trace/join/Vemotrace_joingaps.h"

namespace fit::pens {

namespace {

// Eight directions, half a turn in steps of 22.5 degrees.
constexpr std::array<std::pair<double, double>, 8> kProbeDirections = {{
    {1.0, 0.0},
    {0.92387953, 0.38268343},
    {0.70710678, 0.70710678},
    {0.38268343, 0.92387953},
    {0.0, 1.0},
    {-0.38268343, 0.92387953},
    {-0.70710678, 0.70710678},
    {-0.92387953, 0.38268343},
}};

// The pixel at (x, y), which lies on the bitmap.
[[gnu::always_inline]] inline bool inkOnBitmap(const PackedBitmap& ink, double x, double y) {
    const auto column = static_cast<uint32_t>(x);
    return (ink.Row(static_cast<int32_t>(y))[column / 64] >> (column % 64)) & 1;
}

[[gnu::always_inline]] inline bool inkAt(const PackedBitmap& ink, double x, double y) {
    return join::ink::isInkAt(ink, {x, y});
}

// Every probe from p, up to kMaxProbe and a step on, lies on the bitmap:
// its pixels need no bounds test (most of a drawing lies that far inside).
bool probesOnBitmap(const PackedBitmap& ink, const Point& p) {
    constexpr double kMargin = kMaxProbe + 1.0;
    return p.x >= kMargin && p.y >= kMargin && p.x + kMargin < ink.Width() && p.y + kMargin < ink.Height();
}

// How far from p along (dx, dy) the ink goes on: in whole pixels first,
// then in kProbeStep (a probe crosses a thick pen in a fraction of the
// steps; it may step over a pixel it only clips at a corner).
// A probe stops at `limit` too: a run that long no longer matters.
// kOnBitmap: probesOnBitmap(ink, p) holds.
template <bool kOnBitmap = false>
[[gnu::always_inline]] inline double inkRun(const PackedBitmap& ink, const Point& p, double dx, double dy,
                                            double limit = kMaxProbe) {
    const auto inkAtStep = [&](double s) {
        return kOnBitmap ? inkOnBitmap(ink, p.x + s * dx, p.y + s * dy) : inkAt(ink, p.x + s * dx, p.y + s * dy);
    };
    limit = std::min(limit, kMaxProbe);
    double t = 0.0;
    while (t + 1.0 <= limit && inkAtStep(t + 1.0)) t += 1.0;
    while (t < limit && inkAtStep(t + kProbeStep)) t += kProbeStep;
    return t;
}

// The ink's width through p: the shortest chord of ink through it over
// kProbeDirections directions, so a probe that runs along the stroke, or
// along another stroke at a junction, does not count.
// The directions are tried from the one nearest `across` (the stroke's
// normal, where the chord is likely shortest) on, so the probes along the
// stroke stop as soon as they pass the narrowest chord found.
template <bool kOnBitmap>
double widthAt(const PackedBitmap& ink, const Point& p, const Point& across) {
    std::size_t first = 0;
    double best = -1.0;
    for (std::size_t k = 0; k < kProbeDirections.size(); ++k) {
        const double along = std::fabs(kProbeDirections[k].first * across.x + kProbeDirections[k].second * across.y);
        if (along > best) {
            best = along;
            first = k;
        }
    }
    double narrowest = kMaxWidth;
    for (std::size_t n = 0; n < kProbeDirections.size(); ++n) {
        const auto& [dx, dy] = kProbeDirections[(first + n) % kProbeDirections.size()];
        const double forward = inkRun<kOnBitmap>(ink, p, dx, dy, narrowest - kProbeStep);
        const double backward = inkRun<kOnBitmap>(ink, p, -dx, -dy, narrowest - kProbeStep - forward);
        narrowest = std::min(narrowest, forward + backward + kProbeStep);
    }
    return narrowest;
}

double widthAcross(const PackedBitmap& ink, const Point& a, const Point& b) {
    const double length = distance(a, b);
    if (!(length > 0) || ink.IsEmpty()) return kThinWidth;
    const double nx = -(b.y - a.y) / length, ny = (b.x - a.x) / length;
    // Three places along the segment; the middle one of them.
    std::array<double, 3> widths{};
    for (std::size_t k = 0; k < widths.size(); ++k) {
        const double t = 0.25 * static_cast<double>(k + 1);
        const Point on{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
        widths[k] = kThinWidth;
        // A one-pixel stroke's centre line may run along a pixel border.
        for (const double shift : {0.0, 0.5, -0.5, 1.0, -1.0}) {
            const Point at{on.x + shift * nx, on.y + shift * ny};
            if (inkAt(ink, at.x, at.y)) {
                widths[k] =
                    probesOnBitmap(ink, at) ? widthAt<true>(ink, at, {nx, ny}) : widthAt<false>(ink, at, {nx, ny});
                break;
            }
        }
    }
    std::sort(widths.begin(), widths.end());
    return widths[1];
}

class PointIds {
public:
    explicit PointIds(std::vector<Point> points) : m_points(std::move(points)) {
        std::sort(m_points.begin(), m_points.end(), less);
        m_points.erase(std::unique(m_points.begin(), m_points.end()), m_points.end());
    }
    std::size_t Id(const Point& p) const {
        return static_cast<std::size_t>(std::lower_bound(m_points.begin(), m_points.end(), p, less) - m_points.begin());
    }
    std::size_t Size() const { return m_points.size(); }
    const Point& operator[](std::size_t id) const { return m_points[id]; }

private:
    static bool less(const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }
    std::vector<Point> m_points;
};

struct Classes {
    std::vector<std::size_t> parent;
    explicit Classes(std::size_t count) : parent(count) { std::iota(parent.begin(), parent.end(), 0); }
    std::size_t Find(std::size_t i) {
        while (parent[i] != i) i = parent[i] = parent[parent[i]];
        return i;
    }
    void Unite(std::size_t a, std::size_t b) { parent[Find(a)] = Find(b); }
};

// Each class's mean of one coordinate.
std::vector<double> classMeans(Classes& classes, const PointIds& ids, double Point::*coordinate) {
    std::vector<double> sum(ids.Size(), 0.0), count(ids.Size(), 0.0), mean(ids.Size());
    for (std::size_t i = 0; i < ids.Size(); ++i) {
        sum[classes.Find(i)] += ids[i].*coordinate;
        count[classes.Find(i)] += 1;
    }
    for (std::size_t i = 0; i < ids.Size(); ++i) mean[i] = sum[classes.Find(i)] / count[classes.Find(i)];
    return mean;
}

}  // namespace

double segmentWidth(const PackedBitmap& ink, const Point& a, const Point& b) { return widthAcross(ink, a, b); }


InkWidths::InkWidths(const PackedBitmap& ink, std::size_t expected) : m_ink(ink) {
    if (expected == 0) return;
    std::size_t size = 1024;
    while (size < 2 * expected) size *= 2;
    m_slots.resize(size);
}

InkWidths::Key InkWidths::KeyOf(const Point& a, const Point& b) {
    return {std::bit_cast<uint64_t>(a.x), std::bit_cast<uint64_t>(a.y), std::bit_cast<uint64_t>(b.x),
            std::bit_cast<uint64_t>(b.y)};
}

std::size_t InkWidths::HashOf(const Key& key) {
    uint64_t h = 0x9e3779b97f4a7c15ull;
    for (const uint64_t v : {key.ax, key.ay, key.bx, key.by}) {
        h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        h *= 0xff51afd7ed558ccdull;
    }
    return static_cast<std::size_t>(h ^ (h >> 33));
}

std::size_t InkWidths::SeenBit(std::size_t hash) {
    return hash >> (std::numeric_limits<std::size_t>::digits - kSeenBits);
}

bool InkWidths::MaybeKept(std::size_t hash) const {
    const std::size_t bit = SeenBit(hash);
    return (m_seen[bit / 64] >> (bit % 64)) & 1;
}

const InkWidths::Slot* InkWidths::Find(const Key& key) const {
    if (m_kept == 0) return nullptr;
    const std::size_t hash = HashOf(key);
    if (!MaybeKept(hash)) return nullptr;
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask; m_slots[i].used; i = (i + 1) & mask) {
        if (m_slots[i].key == key) return &m_slots[i];
    }
    return nullptr;
}

void InkWidths::Keep(const Key& key, double width) {
    if (2 * (m_kept + 1) > m_slots.size()) {
        std::vector<Slot> old(std::max<std::size_t>(1024, 2 * m_slots.size()));
        old.swap(m_slots);
        m_kept = 0;
        for (const Slot& slot : old) {
            if (slot.used) Keep(slot.key, slot.width);
        }
    }
    const std::size_t hash = HashOf(key);
    if (m_seen.empty()) m_seen.resize((std::size_t{1} << kSeenBits) / 64);
    const std::size_t bit = SeenBit(hash);
    m_seen[bit / 64] |= uint64_t{1} << (bit % 64);
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = hash & mask;
    while (m_slots[i].used) i = (i + 1) & mask;
    m_slots[i] = {key, width, true};
    ++m_kept;
}

double InkWidths::Segment(const Point& a, const Point& b) {
    const Key key = KeyOf(a, b);
    if (const Slot* slot = Find(key)) return slot->width;
    const double width = widthAcross(m_ink, a, b);
    Keep(key, width);
    return width;
}

std::vector<double> InkWidths::Segments(std::span<const Point> points) {
    std::vector<double> widths;
    widths.reserve(points.size());
    for (std::size_t k = 1; k < points.size(); ++k) widths.push_back(Segment(points[k - 1], points[k]));
    return widths;
}

std::vector<double> InkWidths::Known(std::span<const Point> points) const {
    std::vector<double> widths;
    widths.reserve(points.size());
    for (std::size_t k = 1; k < points.size(); ++k) {
        const Slot* slot = Find(KeyOf(points[k - 1], points[k]));
        widths.push_back(slot ? slot->width : widthAcross(m_ink, points[k - 1], points[k]));
    }
    return widths;
}

double capShift(const PackedBitmap& ink, const Point& end, const Point& outward, double width) {
    if (!(width >= kMinCapWidth) || ink.IsEmpty() || !inkAt(ink, end.x, end.y)) return 0.0;
    const double run = inkRun(ink, end, outward.x, outward.y);
    // Where a break cut the stroke across (its ink ends flat, and goes on
    // beyond a gap the join step bridges), the drawn stroke runs on into
    // the break: the end keeps the join step's quarter width to the ink's
    // end, as the other side of the break does.
    const bool cut = join::gaps::endsFlat(ink, end, outward, run, width / 2) &&
                     join::gaps::inkAgainPastBreak(ink, end, outward, run);
    return std::clamp(run - (cut ? width / 4 : width / 2), -width / 2, width / 2);
}

double median(std::span<const double> values) {
    if (values.empty()) return kThinWidth;
    // Most entities span a few segments: their widths are sorted on the
    // stack, not in memory asked for each time.
    constexpr std::size_t kOnStack = 32;
    std::array<double, kOnStack> few;
    std::vector<double> many;
    if (values.size() > kOnStack) many.resize(values.size());
    double* const first = many.empty() ? few.data() : many.data();
    std::copy(values.begin(), values.end(), first);
    double* const middle = first + values.size() / 2;
    std::nth_element(first, middle, first + values.size());
    return *middle;
}

void assignPens(FitResult& result) {
    result.penWidths.clear();
    if (result.entities.empty()) return;
    std::vector<double> widths;
    widths.reserve(result.entities.size());
    for (const FitEntity& entity : result.entities) widths.push_back(entity.width);
    std::sort(widths.begin(), widths.end());
    // Clusters as [first, last] ranges of the sorted widths.
    std::vector<std::pair<std::size_t, std::size_t>> clusters;
    for (std::size_t k = 0; k < widths.size(); ++k) {
        if (clusters.empty() || widths[k] > widths[clusters.back().first] * TVemotrace_fit::kPenStep) {
            clusters.emplace_back(k, k);
        } else {
            clusters.back().second = k;
        }
    }
    const auto penWidth = [&](const std::pair<std::size_t, std::size_t>& c) { return widths[(c.first + c.second) / 2]; };
    while (clusters.size() > TVemotrace_fit::kMaxPens) {
        std::size_t closest = 0;
        for (std::size_t k = 1; k + 1 < clusters.size(); ++k) {
            if (penWidth(clusters[k + 1]) / penWidth(clusters[k]) <
                penWidth(clusters[closest + 1]) / penWidth(clusters[closest])) {
                closest = k;
            }
        }
        clusters[closest].second = clusters[closest + 1].second;
        clusters.erase(clusters.begin() + static_cast<std::ptrdiff_t>(closest) + 1);
    }
    for (const auto& cluster : clusters) result.penWidths.push_back(penWidth(cluster));
    for (FitEntity& entity : result.entities) {
        std::size_t pen = 0;
        while (pen + 1 < clusters.size() && entity.width > widths[clusters[pen].second]) ++pen;
        entity.pen = static_cast<int32_t>(pen);
    }
}

void snapAngles(std::vector<FitEntity>& entities) {
    std::vector<Point> ends;
    for (const FitEntity& entity : entities) {
        if (entity.kind == EntityKind::Circle) continue;
        ends.push_back(entity.start);
        ends.push_back(entity.end);
    }
    const PointIds ids(std::move(ends));
    Classes sameX(ids.Size()), sameY(ids.Size());
    const double limit = std::tan(TVemotrace_fit::kSnapDegrees * shapes::kPi / 180.0);
    for (const FitEntity& entity : entities) {
        if (entity.kind != EntityKind::Line) continue;
        const double dx = std::fabs(entity.end.x - entity.start.x), dy = std::fabs(entity.end.y - entity.start.y);
        if (dy <= limit * dx) sameY.Unite(ids.Id(entity.start), ids.Id(entity.end));
        else if (dx <= limit * dy) sameX.Unite(ids.Id(entity.start), ids.Id(entity.end));
    }
    const std::vector<double> x = classMeans(sameX, ids, &Point::x);
    const std::vector<double> y = classMeans(sameY, ids, &Point::y);
    const auto moved = [&](const Point& p) {
        const std::size_t id = ids.Id(p);
        return Point{x[id], y[id]};
    };
    for (FitEntity& entity : entities) {
        if (entity.kind == EntityKind::Circle) continue;
        const Point start = moved(entity.start), end = moved(entity.end);
        if (start == entity.start && end == entity.end) continue;
        if (entity.kind == EntityKind::Arc) {
            const Point middle = shapes::pointOnArc(entity, 0.5);
            const std::optional<Point> centre = shapes::circleCentre(start, middle, end);
            if (!centre) {
                // Flattened to nothing by the move: a line between the ends.
                entity.kind = EntityKind::Line;
            } else {
                entity.centre = *centre;
                entity.radius = distance(*centre, start);
                entity.start = start;
                entity.end = end;
                shapes::orientThrough(entity, middle);
            }
        }
        if (entity.kind == EntityKind::Polyline) {
            entity.points.front() = start;
            entity.points.back() = end;
        }
        entity.start = start;
        entity.end = end;
    }
}

}  // namespace fit::pens
