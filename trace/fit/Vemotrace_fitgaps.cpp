// Vemotrace_fitgaps: pieces joined across a break (the rule in the header).
#include "trace/fit/Vemotrace_fitgaps.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "trace/fit/Vemotrace_fitpens.h"
#include "trace/fit/Vemotrace_fitshapes.h"
#include "trace/join/Vemotrace_joingaps.h"

namespace fit::gaps {

namespace {

using join::lines::Polylines;

// The widest bridge: a break and the widest ink's half width on each side.
constexpr double kMaxBridge = join::gaps::kGapWidth + 2 * join::gaps::kMaxGapRadius;

struct FreeEnd {
    Point at;
    int32_t end;  // 2 chain + side
};

// A chain, or chains joined, as pieces: chain and whether it runs backwards.
struct Piece {
    std::size_t chain;
    bool reversed;
};

class Breaks {
public:
    Breaks(const Polylines& chains, pens::InkWidths& widths) : m_chains(chains), m_widths(widths) {}

    const Point& EndPoint(int32_t end) const { return m_chains.endPoint(end); }
    // The ink's width across the chain's segment at the end.
    double EndWidth(int32_t end) const {
        return m_widths.Segment(m_chains.fromEnd(end, 0), m_chains.fromEnd(end, 1));
    }
    // The pieces' points in order.
    std::vector<Point> PointsOf(const std::vector<Piece>& pieces) const {
        std::vector<Point> points;
        for (const Piece& piece : pieces) {
            const auto k = static_cast<int32_t>(piece.chain);
            const auto first = m_chains.points.begin() + static_cast<std::ptrdiff_t>(m_chains.begin[k]);
            const auto last = m_chains.points.begin() + static_cast<std::ptrdiff_t>(m_chains.begin[k + 1]);
            if (piece.reversed) points.insert(points.end(), std::make_reverse_iterator(last), std::make_reverse_iterator(first));
            else points.insert(points.end(), first, last);
        }
        return points;
    }

private:
    const Polylines& m_chains;
    pens::InkWidths& m_widths;
};

// Each free end's nearest other free end (of another chain) within
// kMaxBridge, or -1: the ends sorted by x, searched outwards until x alone
// is further than the nearest found.
std::vector<int32_t> nearestEnds(const std::vector<FreeEnd>& ends) {
    std::vector<int32_t> nearest(ends.size(), -1);
    for (std::size_t i = 0; i < ends.size(); ++i) {
        double best = kMaxBridge;
        const auto look = [&](std::size_t j) {
            if (std::fabs(ends[j].at.y - ends[i].at.y) > best || ends[j].end / 2 == ends[i].end / 2) return;
            const double d = distance(ends[i].at, ends[j].at);
            if (d <= best) {
                best = d;
                nearest[i] = static_cast<int32_t>(j);
            }
        };
        for (std::size_t j = i + 1; j < ends.size() && ends[j].at.x - ends[i].at.x <= best; ++j) look(j);
        for (std::size_t j = i; j-- > 0 && ends[i].at.x - ends[j].at.x <= best;) look(j);
    }
    return nearest;
}

}  // namespace

Polylines joinAcrossBreaks(const Polylines& chains, const std::function<bool(const Point&)>& isFree,
                           pens::InkWidths& widths, const std::function<double(std::span<const Point>)>& toleranceOf,
                           double largestTolerance) {
    const auto count = static_cast<std::size_t>(chains.count());
    std::vector<FreeEnd> ends;
    for (std::size_t k = 0; k < count; ++k) {
        const auto chain = static_cast<int32_t>(k);
        if (chains.size(chain) < 2 || chains.first(chain) == chains.last(chain)) continue;
        for (const int32_t end : {2 * chain, 2 * chain + 1}) {
            if (isFree(chains.endPoint(end))) ends.push_back({chains.endPoint(end), end});
        }
    }
    std::sort(ends.begin(), ends.end(), [](const FreeEnd& a, const FreeEnd& b) {
        return a.at.x < b.at.x || (a.at.x == b.at.x && (a.at.y < b.at.y || (a.at.y == b.at.y && a.end < b.end)));
    });
    const std::vector<int32_t> nearest = nearestEnds(ends);
    // Pairs of ends that are each other's nearest, the closest first.
    std::vector<std::pair<double, std::pair<int32_t, int32_t>>> pairs;
    const Breaks breaks(chains, widths);
    for (std::size_t i = 0; i < ends.size(); ++i) {
        const int32_t j = nearest[i];
        if (j < 0 || static_cast<std::size_t>(j) < i || nearest[static_cast<std::size_t>(j)] != static_cast<int32_t>(i)) {
            continue;
        }
        const FreeEnd &a = ends[i], &b = ends[static_cast<std::size_t>(j)];
        const double gap = distance(a.at, b.at);
        const double reach = join::gaps::kGapWidth +
                             std::min(breaks.EndWidth(a.end) / 2, join::gaps::kMaxGapRadius) +
                             std::min(breaks.EndWidth(b.end) / 2, join::gaps::kMaxGapRadius);
        if (gap <= reach) pairs.push_back({gap, {a.end, b.end}});
    }
    std::sort(pairs.begin(), pairs.end());

    std::vector<std::vector<Piece>> groups(count);
    std::vector<std::size_t> groupOf(count);
    for (std::size_t k = 0; k < count; ++k) {
        groups[k] = {{k, false}};
        groupOf[k] = k;
    }
    // The group of chain end `end`'s chain, turned so that it ends there
    // (atBack) or starts there.
    const auto turned = [&](int32_t end, bool atBack) {
        std::vector<Piece> group = groups[groupOf[static_cast<std::size_t>(end / 2)]];
        const Piece& last = group.back();
        const int32_t backEnd = static_cast<int32_t>(2 * last.chain) + (last.reversed ? 0 : 1);
        if ((backEnd == end) != atBack) {
            std::reverse(group.begin(), group.end());
            for (Piece& piece : group) piece.reversed = !piece.reversed;
        }
        return group;
    };
    for (const auto& [gap, pair] : pairs) {
        const auto [a, b] = pair;
        const std::size_t ga = groupOf[static_cast<std::size_t>(a / 2)], gb = groupOf[static_cast<std::size_t>(b / 2)];
        if (ga == gb) continue;
        std::vector<Piece> joined = turned(a, true);
        const std::vector<Piece> after = turned(b, false);
        joined.insert(joined.end(), after.begin(), after.end());
        const std::vector<Point> points = breaks.PointsOf(joined);
        const bool frontFree = isFree(points.front()), backFree = isFree(points.back());
        const auto oneEntity = [&](double tolerance) {
            return shapes::lineFits(points, tolerance) || shapes::arcFits(points, tolerance) ||
                   shapes::bestLine(points, tolerance, frontFree, backFree) ||
                   (frontFree && backFree && shapes::bestArc(points, tolerance));
        };
        // The ink's widths (and so the tolerance) are probed only for
        // pieces that the largest tolerance lets through.
        if (!oneEntity(largestTolerance) || !oneEntity(toleranceOf(points))) continue;
        for (const Piece& piece : after) groupOf[piece.chain] = ga;
        groups[ga] = std::move(joined);
        groups[gb].clear();
    }

    Polylines out;
    for (std::size_t k = 0; k < count; ++k) {
        if (groups[k].empty()) continue;
        const std::vector<Point> points = breaks.PointsOf(groups[k]);
        out.points.insert(out.points.end(), points.begin(), points.end());
        out.begin.push_back(out.points.size());
    }
    return out;
}

}  // namespace fit::gaps
