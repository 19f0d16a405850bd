// Vemotrace_compv5: line segment adjustment (files and results in the
// header).
//
// Positions are doubles in image pixels, x to the right, y downward. Every
// step is one pass over the links in index order; the order of the lists
// decides which triangle side goes, which way a walk turns and where a
// polyline starts, so lists keep their entry order when an entry is removed.
#include "trace/Vemotrace_compv5.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/Vemo_runcontrol.h"
#include "trace/Vemotrace_records.h"
#include "trace/Vemotrace_types.h"

namespace {

// A walk stops when its chain holds this many points; the links beyond stay
// present and start further polylines, so a longer path is split.
constexpr std::size_t kMaxChainPoints = 1000;
// Two full chains fit, so no point of a walk is ever cut off.
constexpr std::size_t kMaxPolylineEntries = 2000;

// Shorter distances count as zero: no line direction can be taken from them.
constexpr double kTinyLength = 0.001;
// Pass 1 drops a point nearer than this to the line from its anchor to the
// next point.
constexpr double kStraightTolerance = 0.6;
// Pass 2 drops two points on opposite sides of the line, each nearer than this.
constexpr double kZigzagTolerance = 2.0;

constexpr std::size_t kReadChunkRecords = 8192;

// Signed distance of m from the line through a towards b, whose length d is
// at least kTinyLength; positive to the right of the direction a -> b as seen
// on screen (y downward).
double signedDistance(const Point& a, const Point& b, double d, const Point& m) {
    const double ux = (b.x - a.x) / d;
    const double uy = (b.y - a.y) / d;
    return -(m.x - a.x) * uy + (m.y - a.y) * ux;
}

enum class LinkState : uint8_t { Present, Gone };

struct Link {
    int32_t first = 0;  // endpoints as read
    int32_t second = 0;
};

// One entry of a point's adjacency: a neighbour and the link leading to it.
struct Entry {
    int32_t neighbour = 0;
    int32_t via = 0;
};

// A point with the place of its adjacency entries. Room per point is the
// number of links ending there, which is never exceeded: entries are only
// ever removed after building. Two entries per link fit in 32 bits since
// links are counted in 31 bits.
struct Node {
    Point position;
    uint32_t start = 0;
    int32_t degree = 0;
};

// Walks visit points in no particular order, so what one step reads lies
// together: the node, its entries, and the link states, which are small
// enough to stay in the cache.
struct LineGraph {
    std::vector<Node> nodes;  // per point
    std::vector<Entry> entries;
    std::vector<Link> links;
    std::vector<LinkState> state;  // per link

    const Point& position(int32_t p) const { return nodes[p].position; }
    int32_t degree(int32_t p) const { return nodes[p].degree; }
    const Entry& entry(int32_t p, int32_t k) const { return entries[nodes[p].start + static_cast<uint32_t>(k)]; }

    bool isNeighbour(int32_t p, int32_t q) const {
        for (int32_t k = 0; k < nodes[p].degree; ++k) {
            if (entry(p, k).neighbour == q) return true;
        }
        return false;
    }

    void append(int32_t p, int32_t q, int32_t link) {
        entries[nodes[p].start + static_cast<uint32_t>(nodes[p].degree)] = {q, link};
        ++nodes[p].degree;
    }

    // Removes p's entry for q, closing the gap so the others keep their order.
    void removeEntry(int32_t p, int32_t q) {
        Entry* list = entries.data() + nodes[p].start;
        const int32_t count = nodes[p].degree;
        for (int32_t k = 0; k < count; ++k) {
            if (list[k].neighbour != q) continue;
            std::copy(list + k + 1, list + count, list + k);
            --nodes[p].degree;
            return;
        }
    }
};

[[noreturn]] void damagedLinks(const std::string& path, const std::string& what) {
    throw FileError(path, "the lines file does not match the trace (" + what + ")");
}

void readGraph(LineGraph& graph, const std::string& pointsPath, const std::string& linesPath, int32_t pointCount,
               int32_t linkCount) {
    std::vector<uint8_t> chunk(kReadChunkRecords * records::kPointRecordSize);
    graph.nodes.resize(static_cast<std::size_t>(pointCount));
    {
        RecordReader reader(pointsPath);
        for (std::size_t done = 0; done < graph.nodes.size();) {
            const std::size_t count = std::min(kReadChunkRecords, graph.nodes.size() - done);
            reader.ReadExact(chunk.data(), count * records::kPointRecordSize);
            for (std::size_t r = 0; r < count; ++r) {
                const uint8_t* record = chunk.data() + r * records::kPointRecordSize;
                graph.nodes[done + r].position = {records::GetDouble(record), records::GetDouble(record + 8)};
            }
            done += count;
        }
    }

    const auto links = static_cast<std::size_t>(linkCount);
    graph.links.resize(links);
    graph.state.assign(links, LinkState::Present);
    RecordReader reader(linesPath);
    for (std::size_t done = 0; done < links;) {
        const std::size_t count = std::min(kReadChunkRecords, links - done);
        reader.ReadExact(chunk.data(), count * records::kLinkRecordSize);
        for (std::size_t r = 0; r < count; ++r) {
            const uint8_t* record = chunk.data() + r * records::kLinkRecordSize;
            const int32_t a = records::GetInt32(record);
            const int32_t b = records::GetInt32(record + 4);
            if (a < 0 || a >= pointCount || b < 0 || b >= pointCount) damagedLinks(linesPath, "point out of range");
            if (a == b) damagedLinks(linesPath, "a link from a point to itself");
            graph.links[done + r].first = a;
            graph.links[done + r].second = b;
        }
        done += count;
    }
}

// Points are numbered by group, and groups by square size first, so points
// next to each other on the image usually have distant numbers, while walks
// go from neighbour to neighbour. Stored in order of their place on the
// image, the next point of a walk mostly lies in memory already read. The
// numbers are only ever compared for equality, so renumbering the points
// changes nothing else: links keep their numbers and order, lists their
// entry order.
void storeByPlace(LineGraph& graph) {
    const std::size_t n = graph.nodes.size();
    if (n < 2) return;
    // Blocks of side x side pixels, fewer blocks than points. Coordinates
    // outside any image (only in a damaged file) go to the first block.
    constexpr double kLargest = 1e8;
    double width = 1.0, height = 1.0;
    for (const Node& node : graph.nodes) {
        if (node.position.x >= 0.0 && node.position.x < kLargest) width = std::max(width, node.position.x + 1.0);
        if (node.position.y >= 0.0 && node.position.y < kLargest) height = std::max(height, node.position.y + 1.0);
    }
    double side = 64.0;
    auto across = [&](double extent) { return static_cast<std::size_t>(extent / side) + 1; };
    while (across(width) * across(height) > n + 1024) side *= 2.0;
    const std::size_t columns = across(width);
    auto blockOf = [&](const Point& p) -> std::size_t {
        const bool inside = p.x >= 0.0 && p.x < kLargest && p.y >= 0.0 && p.y < kLargest;
        return inside ? static_cast<std::size_t>(p.y / side) * columns + static_cast<std::size_t>(p.x / side) : 0;
    };

    std::vector<uint32_t> start(columns * across(height) + 1, 0);
    for (const Node& node : graph.nodes) ++start[blockOf(node.position) + 1];
    for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
    std::vector<int32_t> place(n);
    std::vector<Node> placed(n);
    for (std::size_t p = 0; p < n; ++p) {
        const uint32_t at = start[blockOf(graph.nodes[p].position)]++;
        place[p] = static_cast<int32_t>(at);
        placed[at] = graph.nodes[p];
    }
    graph.nodes.swap(placed);
    for (Link& link : graph.links) {
        link.first = place[link.first];
        link.second = place[link.second];
    }
}

// A second link between the same two points is never entered.
void buildAdjacency(LineGraph& graph) {
    for (const Link& link : graph.links) {
        ++graph.nodes[link.first].start;
        ++graph.nodes[link.second].start;
    }
    uint32_t start = 0;
    for (Node& node : graph.nodes) {
        const uint32_t room = node.start;
        node.start = start;
        start += room;
    }
    graph.entries.resize(start);
    for (std::size_t i = 0; i < graph.links.size(); ++i) {
        const int32_t a = graph.links[i].first;
        const int32_t b = graph.links[i].second;
        const auto link = static_cast<int32_t>(i);
        if (!graph.isNeighbour(a, b)) graph.append(a, b, link);
        if (!graph.isNeighbour(b, a)) graph.append(b, a, link);
    }
}

// Removes the longest side of the triangle a, b, c and moves the opposite
// point halfway towards the line of that side. ab, bc and ca are the links
// of the three sides.
void flattenTriangle(LineGraph& graph, int32_t a, int32_t b, int32_t c, int32_t ab, int32_t bc, int32_t ca) {
    const double lengthAB = distance(graph.position(a), graph.position(b));
    const double lengthBC = distance(graph.position(b), graph.position(c));
    const double lengthCA = distance(graph.position(c), graph.position(a));

    // Ties go to c-a first, then b-c. The side removed runs from `from` to `to`.
    int32_t from = a, to = b, apex = c, link = ab;
    double length = lengthAB;
    if (lengthCA >= lengthAB && lengthCA >= lengthBC) {
        from = c, to = a, apex = b, link = ca, length = lengthCA;
    } else if (lengthBC >= lengthAB && lengthBC >= lengthCA) {
        from = b, to = c, apex = a, link = bc, length = lengthBC;
    }

    graph.state[link] = LinkState::Gone;
    graph.removeEntry(from, to);
    graph.removeEntry(to, from);
    if (length < kTinyLength) return;

    // The apex keeps its projection onto the line; its distance halves.
    const Point origin = graph.position(from);
    const Point target = graph.position(to);
    const double ux = (target.x - origin.x) / length;
    const double uy = (target.y - origin.y) / length;
    const double dx = graph.position(apex).x - origin.x;
    const double dy = graph.position(apex).y - origin.y;
    const double t = dx * ux + dy * uy;
    const double h = (-dx * uy + dy * ux) * 0.5;
    graph.nodes[apex].position = {origin.x + t * ux - h * uy, origin.y + t * uy + h * ux};
}

void flattenTriangles(LineGraph& graph) {
    for (std::size_t i = 0; i < graph.links.size(); ++i) {
        if (graph.state[i] != LinkState::Present) continue;
        const int32_t a = graph.links[i].first;
        const int32_t b = graph.links[i].second;
        if (graph.degree(a) < 3 || graph.degree(b) < 3) continue;
        // Only the first common neighbour, in the order of a's list, then b's.
        bool flattened = false;
        for (int32_t j = 0; j < graph.degree(a) && !flattened; ++j) {
            const Entry toC = graph.entry(a, j);
            for (int32_t k = 0; k < graph.degree(b); ++k) {
                const Entry fromB = graph.entry(b, k);
                if (fromB.neighbour != toC.neighbour) continue;
                flattenTriangle(graph, a, b, toC.neighbour, static_cast<int32_t>(i), fromB.via, toC.via);
                flattened = true;
                break;
            }
        }
    }
}

// Follows degree-2 points from p, which was reached by link `arrivedBy`,
// consuming the links it crosses. The chain starts with p.
void walk(LineGraph& graph, int32_t p, int32_t arrivedBy, std::vector<int32_t>& chain) {
    chain.assign(1, p);
    while (graph.degree(p) == 2) {
        // An entry's neighbour is the other end of its link.
        Entry next = graph.entry(p, 0);
        if (next.via == arrivedBy) next = graph.entry(p, 1);
        if (graph.state[next.via] == LinkState::Gone) return;
        if (chain.size() >= kMaxChainPoints) return;
        chain.push_back(next.neighbour);
        graph.state[next.via] = LinkState::Gone;
        p = next.neighbour;
        arrivedBy = next.via;
    }
}

// Drops points of the polyline; the first entry and the last two are kept.
// `kept` ends up with the entries left, in order.
void thin(const LineGraph& graph, const std::vector<int32_t>& polyline, std::vector<int32_t>& kept,
          std::vector<uint8_t>& drop) {
    auto at = [&](const std::vector<int32_t>& list, int32_t k) -> const Point& { return graph.position(list[k]); };

    // Pass 1: points that lie almost on the line from the last kept corner
    // to the next point.
    const auto n = static_cast<int32_t>(polyline.size());
    drop.assign(polyline.size(), 0);
    int32_t anchor = 0;
    for (int32_t i = 1; i + 1 < n - 2;) {
        const double d = distance(at(polyline, i + 1), at(polyline, anchor));
        if (d < kTinyLength) {
            drop[i] = drop[i + 1] = 1;
            i += 2;
            continue;
        }
        const double e = signedDistance(at(polyline, anchor), at(polyline, i + 1), d, at(polyline, i));
        if (-kStraightTolerance < e && e < kStraightTolerance) {
            drop[i] = 1;
        } else {
            anchor = i;
        }
        i += 1;
    }
    kept.clear();
    for (int32_t i = 0; i < n; ++i) {
        if (drop[i] == 0) kept.push_back(polyline[i]);
    }

    // Pass 2: two points in a row on opposite sides of the line from the
    // anchor to the point after them, both close to it: pixel stair noise.
    const auto m = static_cast<int32_t>(kept.size());
    drop.assign(kept.size(), 0);
    anchor = 0;
    for (int32_t k = 1; k + 1 < m - 3;) {
        const double d = distance(at(kept, k + 2), at(kept, anchor));
        if (d < kTinyLength) {
            drop[k] = drop[k + 1] = drop[k + 2] = 1;
            k += 3;
            continue;
        }
        const double e1 = signedDistance(at(kept, anchor), at(kept, k + 2), d, at(kept, k));
        const double e2 = signedDistance(at(kept, anchor), at(kept, k + 2), d, at(kept, k + 1));
        const bool leftThenRight = 0.0 < e1 && e1 < kZigzagTolerance && -kZigzagTolerance < e2 && e2 < 0.0;
        const bool rightThenLeft = -kZigzagTolerance < e1 && e1 < 0.0 && 0.0 < e2 && e2 < kZigzagTolerance;
        if (leftThenRight || rightThenLeft) {
            drop[k] = drop[k + 1] = 1;
            k += 2;
        } else {
            anchor = k;
            k += 1;
        }
    }
}

}  // namespace

TVemotrace_compV5::TVemotrace_compV5(std::string pointsPath, std::string linesPath, int32_t pointCount,
                                     int32_t linkCount)
    : m_pointsPath(std::move(pointsPath)),
      m_linesPath(std::move(linesPath)),
      m_pointCount(pointCount),
      m_linkCount(linkCount) {}

void TVemotrace_compV5::AdjustLines() {
    if (m_pointCount < 0) throw FileError(m_pointsPath, "negative point count");
    if (m_linkCount < 0) damagedLinks(m_linesPath, "negative link count");

    LineGraph graph;
    readGraph(graph, m_pointsPath, m_linesPath, m_pointCount, m_linkCount);
    storeByPlace(graph);
    buildAdjacency(graph);
    flattenTriangles(graph);

    m_polylineCount = 0;
    m_vertexCount = 0;
    RecordWriter writer(m_linesPath);
    writer.Open();
    std::vector<int32_t> chainA, chainB, polyline, kept;
    std::vector<uint8_t> drop;
    chainA.reserve(kMaxChainPoints);
    chainB.reserve(kMaxChainPoints);
    polyline.reserve(kMaxPolylineEntries);
    kept.reserve(kMaxPolylineEntries);
    for (std::size_t i = 0; i < graph.links.size(); ++i) {
        if ((i & 1023) == 0) RunCheckpoint(static_cast<int64_t>(i), static_cast<int64_t>(graph.links.size()));
        if (graph.state[i] != LinkState::Present) continue;
        // The seed link stays present during the walks, so a ring is closed
        // by the first walk and crossed once more.
        const auto seed = static_cast<int32_t>(i);
        walk(graph, graph.links[i].first, seed, chainA);
        walk(graph, graph.links[i].second, seed, chainB);

        // From the far end of chain A across the seed link to the far end of B.
        polyline.clear();
        for (auto p = chainA.rbegin(); p != chainA.rend() && polyline.size() < kMaxPolylineEntries; ++p) {
            polyline.push_back(*p);
        }
        for (auto p = chainB.begin(); p != chainB.end() && polyline.size() < kMaxPolylineEntries; ++p) {
            polyline.push_back(*p);
        }
        if (polyline.size() < 2) continue;

        thin(graph, polyline, kept, drop);
        const auto count = static_cast<int32_t>(std::count(drop.begin(), drop.end(), uint8_t{0}));
        if (count < 2) continue;
        // The counts are int32 where the trace hands them on.
        if (m_vertexCount > INT32_MAX - count) throw FileError(m_linesPath, "more points than the file can count");
        ++m_polylineCount;
        writer.PutInt32(count);
        for (std::size_t k = 0; k < kept.size(); ++k) {
            if (drop[k] != 0) continue;
            writer.PutDouble(graph.position(kept[k]).x);
            writer.PutDouble(graph.position(kept[k]).y);
            ++m_vertexCount;
        }
    }
    writer.Close();
}
