// Vemotrace_fitdirt: spurs, bubbles, loops and walked rings taken away
// before fitting (the rules in the header).
#include "trace/fit/Vemotrace_fitdirt.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>

#include "trace/fit/Vemotrace_fitpens.h"
#include "trace/fit/Vemotrace_fitshapes.h"
#include "trace/join/Vemotrace_joingaps.h"

namespace fit::dirt {

namespace {

using join::lines::Polylines;

// The largest distance from a point of `from` to the polyline `to`.
double farthestFrom(std::span<const Point> from, std::span<const Point> to) {
    double farthest = 0.0;
    for (const Point& p : from) {
        double nearest = to.size() == 1 ? distance(p, to[0]) : HUGE_VAL;
        for (std::size_t k = 1; k < to.size(); ++k) {
            nearest = std::min(nearest, shapes::distanceToSegment(p, to[k - 1], to[k]));
        }
        farthest = std::max(farthest, nearest);
    }
    return farthest;
}

// Two ways between the same points (out and back) lie along each other.
bool alongEachOther(std::span<const Point> a, std::span<const Point> b, double apart) {
    return farthestFrom(a, b) <= apart && farthestFrom(b, a) <= apart;
}

// The polylines as a graph: the nodes where their ends meet, and which
// polylines are still there. Ends are numbered 2 k + side.
class Dirt {
public:
    Dirt(const std::vector<Point>& points, const std::vector<std::size_t>& begin, pens::InkWidths& widths)
        : m_points(points), m_begin(begin), m_widths(widths), m_count(begin.size() - 1), m_alive(m_count, 1),
          m_replaced(m_count), m_node(2 * m_count, -1), m_endWidth(2 * m_count, -1.0) {
        // Sorted with their points beside them, not fetched for each test.
        std::vector<std::pair<Point, int32_t>> sorted;
        for (std::size_t k = 0; k < m_count; ++k) {
            if (Size(k) == 0) continue;
            for (const auto end : {static_cast<int32_t>(2 * k), static_cast<int32_t>(2 * k + 1)}) {
                sorted.emplace_back(EndPoint(end), end);
            }
        }
        std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
            const Point &p = a.first, &q = b.first;
            return p.x < q.x || (p.x == q.x && (p.y < q.y || (p.y == q.y && a.second < b.second)));
        });
        std::vector<int32_t> ends;
        ends.reserve(sorted.size());
        for (const auto& [at, end] : sorted) ends.push_back(end);
        for (std::size_t first = 0; first < ends.size();) {
            std::size_t last = first + 1;
            while (last < ends.size() && EndPoint(ends[last]) == EndPoint(ends[first])) ++last;
            const auto node = static_cast<int32_t>(m_nodeFirst.size());
            m_nodeFirst.push_back(first);
            m_degree.push_back(static_cast<int32_t>(last - first));
            for (std::size_t e = first; e < last; ++e) m_node[ends[e]] = node;
            first = last;
        }
        m_nodeFirst.push_back(ends.size());
        m_nodeEnds = std::move(ends);
    }

    void RemoveLoops();
    void StraightenBubbles();
    void DropSpurs();

    Polylines Result() const {
        Polylines out;
        for (std::size_t k = 0; k < m_count; ++k) {
            if (!m_alive[k]) continue;
            const std::span<const Point> line = m_replaced[k].empty() ? Line(k) : std::span<const Point>(m_replaced[k]);
            out.points.insert(out.points.end(), line.begin(), line.end());
            out.begin.push_back(out.points.size());
        }
        return out;
    }

private:
    std::size_t Size(std::size_t k) const { return m_begin[k + 1] - m_begin[k]; }
    std::span<const Point> Line(std::size_t k) const { return {m_points.data() + m_begin[k], Size(k)}; }
    const Point& EndPoint(int32_t end) const {
        const auto k = static_cast<std::size_t>(end / 2);
        return end % 2 == 0 ? m_points[m_begin[k]] : m_points[m_begin[k + 1] - 1];
    }
    std::span<const int32_t> EndsAt(int32_t node) const {
        return {m_nodeEnds.data() + m_nodeFirst[node], m_nodeFirst[node + 1] - m_nodeFirst[node]};
    }
    bool Closed(std::size_t k) const { return Size(k) >= 3 && m_node[2 * k] == m_node[2 * k + 1]; }
    // The ink's width across the segment at an end.
    double EndWidth(int32_t end) {
        if (m_endWidth[end] < 0) {
            const auto k = static_cast<std::size_t>(end / 2);
            const Point& next = end % 2 == 0 ? m_points[m_begin[k] + 1] : m_points[m_begin[k + 1] - 2];
            m_endWidth[end] = m_widths.Segment(EndPoint(end), next);
        }
        return m_endWidth[end];
    }
    // The widest of the arms still at the node other than polylines a and
    // b; below 0 when there is none.
    double OtherArmsWidth(int32_t node, std::size_t a, std::size_t b) {
        double widest = -1.0;
        for (const int32_t end : EndsAt(node)) {
            const auto k = static_cast<std::size_t>(end / 2);
            if (k == a || k == b || !m_alive[k] || Size(k) < 2) continue;
            widest = std::max(widest, EndWidth(end));
        }
        return widest;
    }
    // The first point of polyline end `end`'s line at least `reach` from
    // the end (its far end where none is).
    const Point& PointFrom(int32_t end, double reach) const {
        const std::span<const Point> line = Line(static_cast<std::size_t>(end / 2));
        const Point& at = EndPoint(end);
        for (std::size_t j = 1; j < line.size(); ++j) {
            const Point& p = end % 2 == 0 ? line[j] : line[line.size() - 1 - j];
            if (distance(p, at) >= reach) return p;
        }
        return end % 2 == 0 ? line.back() : line.front();
    }
    // The trace may take the tip of a sharp corner as a short arm out of a
    // three-way point inside the corner. When spur k points out of the
    // corner that the two other arms at `node` make (away from both), the
    // arms are led on to its tip, so the corner keeps its point and the
    // legs meet there, as drawn.
    void LeadArmsToTip(int32_t node, std::size_t k) {
        const int32_t spurEnd = m_node[2 * k] == node ? static_cast<int32_t>(2 * k) : static_cast<int32_t>(2 * k + 1);
        const Point& junction = EndPoint(spurEnd);
        const Point& tip = EndPoint(spurEnd ^ 1);
        int32_t arms[2];
        int found = 0;
        for (const int32_t end : EndsAt(node)) {
            const auto j = static_cast<std::size_t>(end / 2);
            if (j == k || !m_alive[j] || Size(j) < 2) continue;
            if (found == 2 || !m_replaced[j].empty() || Closed(j)) return;
            arms[found++] = end;
        }
        if (found != 2) return;
        const double out = distance(junction, tip);
        if (!(out > 0)) return;
        const Point u{(tip.x - junction.x) / out, (tip.y - junction.y) / out};
        double against[2];
        for (int a = 0; a < 2; ++a) {
            const Point& along = PointFrom(arms[a], out);
            const double length = distance(along, junction);
            if (!(length > 0)) return;
            against[a] = -((along.x - junction.x) * u.x + (along.y - junction.y) * u.y) / length;
            if (against[a] < kCornerTipCosine) return;
        }
        // Near the corner's bisector: a short piece of a stroke that a
        // break cut near a junction points along one arm's line instead.
        if (std::fabs(against[0] - against[1]) > kCornerTipSkew) return;
        // Nor is a piece that ends where a break cut it: ink goes on beyond.
        const PackedBitmap& ink = m_widths.Ink();
        if (!ink.IsEmpty() && join::ink::isInkAt(ink, tip)) {
            const double toEnd = join::ink::inkExtent(ink, tip, u, 2.0 * join::ink::kMaxInkRadius);
            if (join::gaps::inkAgainPastBreak(ink, tip, u, toEnd)) return;
        }
        for (const int32_t arm : arms) {
            const auto j = static_cast<std::size_t>(arm / 2);
            m_replaced[j].assign(Line(j).begin(), Line(j).end());
            (arm % 2 == 0 ? m_replaced[j].front() : m_replaced[j].back()) = tip;
        }
    }
    void Drop(std::size_t k) {
        m_alive[k] = 0;
        --m_degree[m_node[2 * k]];
        --m_degree[m_node[2 * k + 1]];
    }

    const std::vector<Point>& m_points;
    const std::vector<std::size_t>& m_begin;
    pens::InkWidths& m_widths;
    std::size_t m_count;
    std::vector<char> m_alive;
    std::vector<std::vector<Point>> m_replaced;  // the points a polyline now has, where they changed
    std::vector<int32_t> m_node;                 // per end
    std::vector<std::size_t> m_nodeFirst;        // node n's ends: m_nodeEnds[m_nodeFirst[n]...]
    std::vector<int32_t> m_nodeEnds;
    std::vector<int32_t> m_degree;  // ends of polylines still there, per node
    std::vector<double> m_endWidth;
};

void Dirt::RemoveLoops() {
    for (std::size_t k = 0; k < m_count; ++k) {
        if (!Closed(k) || Size(k) > kMaxDirtPoints) continue;
        const std::span<const Point> ring = Line(k);
        const int32_t node = m_node[2 * k];
        // The turning point: furthest from the ring's start.
        std::size_t turn = 0;
        for (std::size_t j = 1; j < ring.size(); ++j) {
            if (distance(ring[j], ring[0]) > distance(ring[turn], ring[0])) turn = j;
        }
        if (m_degree[node] == 2) {
            // Touching nothing: walked out and back, from turn to turn.
            std::size_t other = 0;
            for (std::size_t j = 0; j < ring.size(); ++j) {
                if (distance(ring[j], ring[turn]) > distance(ring[other], ring[turn])) other = j;
            }
            const std::size_t from = std::min(turn, other), to = std::max(turn, other);
            if (from == to || !(distance(ring[from], ring[to]) >= kWalkedLengths * kWalkedApart)) continue;
            std::vector<Point> back(ring.begin() + static_cast<std::ptrdiff_t>(to), ring.end());
            back.insert(back.end(), ring.begin() + 1, ring.begin() + static_cast<std::ptrdiff_t>(from) + 1);
            const std::span<const Point> out = ring.subspan(from, to - from + 1);
            if (alongEachOther(out, back, kWalkedApart)) m_replaced[k].assign(out.begin(), out.end());
            continue;
        }
        const double width = OtherArmsWidth(node, k, k);
        if (width < 0) continue;
        const bool small = std::all_of(ring.begin(), ring.end(),
                                       [&](const Point& p) { return distance(p, ring[0]) <= width + kLoopSlack; });
        if (small) {
            Drop(k);
            continue;
        }
        // A stroke's end: the loop and one arm.
        if (m_degree[node] != 3) continue;
        const std::span<const Point> out = ring.first(turn + 1);
        const std::span<const Point> back = ring.subspan(turn);
        if (alongEachOther(out, back, width + kLoopSlack)) {
            m_replaced[k].assign(out.begin(), out.end());
            --m_degree[node];
        }
    }
}

void Dirt::StraightenBubbles() {
    const auto nodes = static_cast<int32_t>(m_degree.size());
    std::vector<std::pair<int32_t, int32_t>> across;  // (the node at the other end, the end here)
    for (int32_t node = 0; node < nodes; ++node) {
        if (m_degree[node] < 3) continue;
        across.clear();
        for (const int32_t end : EndsAt(node)) {
            const auto k = static_cast<std::size_t>(end / 2);
            if (!m_alive[k] || Size(k) < 2 || Closed(k) || !m_replaced[k].empty()) continue;
            const int32_t other = m_node[end ^ 1];
            if (other > node && m_degree[other] >= 3) across.emplace_back(other, end);
        }
        std::sort(across.begin(), across.end());
        for (std::size_t first = 0; first < across.size();) {
            std::size_t last = first + 1;
            while (last < across.size() && across[last].first == across[first].first) ++last;
            if (last - first != 2) {
                first = last;
                continue;
            }
            const int32_t other = across[first].first;
            const int32_t endA = across[first].second, endB = across[first + 1].second;
            first = last;
            const auto a = static_cast<std::size_t>(endA / 2), b = static_cast<std::size_t>(endB / 2);
            if (Size(a) > kMaxDirtPoints || Size(b) > kMaxDirtPoints) continue;
            const double width = std::max(OtherArmsWidth(node, a, b), OtherArmsWidth(other, a, b));
            if (width < 0) continue;
            const Point& here = EndPoint(endA);
            const Point& there = EndPoint(endA ^ 1);
            const auto offWay = [&](std::span<const Point> line) {
                return std::any_of(line.begin(), line.end(), [&](const Point& p) {
                    return shapes::distanceToSegment(p, here, there) > width / 2 + kBubbleSlack;
                });
            };
            if (offWay(Line(a)) || offWay(Line(b))) continue;
            m_replaced[a] = endA % 2 == 0 ? std::vector<Point>{here, there} : std::vector<Point>{there, here};
            Drop(b);
        }
    }
}

void Dirt::DropSpurs() {
    const auto nodes = static_cast<int32_t>(m_degree.size());
    std::vector<std::pair<double, std::size_t>> spurs;  // (length, polyline)
    for (int32_t node = 0; node < nodes; ++node) {
        if (m_degree[node] < 3) continue;
        spurs.clear();
        for (const int32_t end : EndsAt(node)) {
            const auto k = static_cast<std::size_t>(end / 2);
            if (!m_alive[k] || Size(k) < 2 || !m_replaced[k].empty() || m_degree[m_node[end ^ 1]] != 1) continue;
            spurs.emplace_back(join::lines::chainLength(Line(k)), k);
        }
        std::sort(spurs.begin(), spurs.end());
        for (const auto& [length, k] : spurs) {
            // Longer than any width: no probe needed to keep it.
            if (m_degree[node] < 3 || length > pens::kMaxWidth + kSpurSlack) break;
            const double width = OtherArmsWidth(node, k, k);
            if (width < 0 || length > width + kSpurSlack) break;
            if (m_degree[node] == 3) LeadArmsToTip(node, k);
            Drop(k);
        }
    }
}

}  // namespace

Polylines clean(const std::vector<Point>& points, const std::vector<std::size_t>& begin, const PackedBitmap& ink) {
    pens::InkWidths widths(ink);
    return clean(points, begin, widths);
}

Polylines clean(const std::vector<Point>& points, const std::vector<std::size_t>& begin, pens::InkWidths& widths) {
    Dirt dirt(points, begin, widths);
    dirt.RemoveLoops();
    dirt.StraightenBubbles();
    dirt.DropSpurs();
    return dirt.Result();
}

}  // namespace fit::dirt
