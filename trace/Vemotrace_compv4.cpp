// Vemotrace_compv4: the point and link graph (files and results in the
// header).
//
// Boxes are inclusive pixel columns and rows, clipped to the image. A square
// reaches one pixel beyond itself on every side, but never beyond the image:
// two single pixels side by side on the outermost row therefore meet only
// "at a corner" and stay unlinked. Drawings traced before depend on that, so
// the clipping stays exactly as it is.
//
// The neighbour search of group g walks the pixel columns of g's box grown by
// one pixel, left to right, and takes from each column the lowest-numbered
// group that spans the column, shares a row with the grown box, is not taken
// yet and touches g square by square. The first pass counts only edge
// contact; when it finds nothing, a second pass also counts contact at a
// corner, except for a group that is one single pixel. Candidates come from
// a grid of cells over the image, so a search costs the same on a small
// drawing and on an A0 scan.
#include "trace/Vemotrace_compv4.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/Vemo_runcontrol.h"
#include "trace/Vemotrace_records.h"

namespace {

// A single search takes at most this many neighbours; a group touching more
// is linked to the others only if their own searches find it.
constexpr std::size_t kMaxNeighbours = 64;

// Side of a grid cell in pixels. Group boxes are a few pixels wide, so a
// search reads a handful of cells holding a few groups each; the grid costs
// one offset per 16 x 16 pixels and a second entry for a box that crosses
// a cell border.
constexpr int64_t kCellSize = 16;

// Groups file records read per call.
constexpr std::size_t kReadChunkRecords = 8192;

struct Box {
    int32_t left = 0;
    int32_t right = -1;
    int32_t top = 0;
    int32_t bottom = -1;
};

// The pixels of a square, which lies inside the image.
Box squareBox(const SquareTable& table, int32_t square) {
    return {table.x[square], table.x[square] + table.size[square] - 1, table.y[square],
            table.y[square] + table.size[square] - 1};
}

// A square grown by one pixel on every side, clipped to the image.
Box reachOf(const Box& square, int32_t width, int32_t height) {
    return {std::max(square.left - 1, 0), std::min(square.right + 1, width - 1), std::max(square.top - 1, 0),
            std::min(square.bottom + 1, height - 1)};
}

bool rowsMeet(const Box& a, const Box& b) { return a.top <= b.bottom && a.bottom >= b.top; }
bool columnsMeet(const Box& a, const Box& b) { return a.left <= b.right && a.right >= b.left; }

// `reach` is a square grown by one pixel, `square` another square as it is.
// They meet at a single corner cell only.
bool cornerOnly(const Box& reach, const Box& square) {
    return (reach.left == square.right && reach.top == square.bottom) ||
           (reach.right == square.left && reach.bottom == square.top) ||
           (reach.right == square.left && reach.top == square.bottom) ||
           (reach.left == square.right && reach.bottom == square.top);
}

enum class Contact { Edge, EdgeOrCorner };

// A group's run of records in the groups file.
struct Run {
    int32_t first = -1;
    int32_t count = 0;
};

// A group as the grid holds it: its box (margin 0) beside its number, so
// that a search reads the boxes near it in one sweep.
struct GridEntry {
    Box box;
    int32_t group = 0;
    int32_t memberCount = 0;
};

struct Graph {
    const SquareTable& table;
    int32_t groupCount;

    // The pixels of the square of each groups file record. Kept as boxes
    // because searches look at the squares of neighbouring groups, whose
    // entries in the square table lie far apart.
    std::vector<Box> members;
    std::vector<Run> runs;         // per group, count > 0

    // Grid of kCellSize cells: cell k lists, in ascending group order, the
    // groups whose box meets it, at cells[cellStart[k] .. cellStart[k + 1]).
    int64_t cellColumns = 0;
    int64_t cellRows = 0;
    std::vector<std::size_t> cellStart;
    std::vector<GridEntry> cells;

    // Links, each unordered pair once, under its lower group. A group's list
    // holds first the higher groups its own search found (ownLinks from
    // ownStart[g] to ownStart[g + 1]), then the higher groups whose searches
    // found it, in search order (laterLinks, collected as (lower, higher)).
    // Most pairs are found from both sides, so laterLinks stays short.
    std::vector<uint32_t> ownStart;  // the link count is an int32, so this suffices
    std::vector<int32_t> ownLinks;
    std::vector<std::pair<int32_t, int32_t>> laterLinks;

    Graph(const SquareTable& t, int32_t groups) : table(t), groupCount(groups) {}

    const Box* MembersOf(int32_t g) const { return members.data() + runs[g].first; }

    // The smallest box holding the squares of g.
    Box GroupBox(int32_t g) const {
        const Box* member = MembersOf(g);
        Box box = member[0];
        for (int32_t m = 1; m < runs[g].count; ++m) {
            const Box& square = member[m];
            box.left = std::min(box.left, square.left);
            box.right = std::max(box.right, square.right);
            box.top = std::min(box.top, square.top);
            box.bottom = std::max(box.bottom, square.bottom);
        }
        return box;
    }
};

[[noreturn]] void damaged(const std::string& path, const std::string& what) {
    throw FileError(path, "the groups file does not match the trace (" + what + ")");
}

void readMembers(Graph& graph, const std::string& groupsPath, int32_t memberTotal) {
    const SquareTable& table = graph.table;
    graph.members.assign(static_cast<std::size_t>(memberTotal), Box{});
    graph.runs.assign(static_cast<std::size_t>(graph.groupCount), Run{});

    // With no members the file may be a stale one of an earlier trace, or
    // missing: it is not opened.
    if (memberTotal > 0) {
        RecordReader reader(groupsPath);
        std::vector<uint8_t> chunk(kReadChunkRecords * records::kMemberRecordSize);
        int32_t previous = -1;
        int32_t done = 0;
        while (done < memberTotal) {
            const auto batch = static_cast<int32_t>(
                std::min<std::size_t>(kReadChunkRecords, static_cast<std::size_t>(memberTotal - done)));
            reader.ReadExact(chunk.data(), static_cast<std::size_t>(batch) * records::kMemberRecordSize);
            for (int32_t r = 0; r < batch; ++r) {
                const uint8_t* record = chunk.data() + static_cast<std::size_t>(r) * records::kMemberRecordSize;
                const int32_t group = records::GetInt32(record);
                const int32_t square = records::GetInt32(record + 4);
                const int32_t index = done + r;
                if (group < 0 || group >= graph.groupCount) damaged(groupsPath, "group number out of range");
                if (square < 0 || square >= table.count) damaged(groupsPath, "square number out of range");
                const int64_t x = table.x[square];
                const int64_t y = table.y[square];
                const int64_t size = table.size[square];
                if (size < 1 || x < 0 || y < 0 || x + size > table.width || y + size > table.height) {
                    damaged(groupsPath, "a square outside the image");
                }
                if (group != previous) {
                    if (graph.runs[group].first >= 0) damaged(groupsPath, "a group in two runs");
                    graph.runs[group].first = index;
                    previous = group;
                }
                graph.members[index] = squareBox(table, square);
                ++graph.runs[group].count;
            }
            done += batch;
        }
    }
    for (int32_t g = 0; g < graph.groupCount; ++g) {
        if (graph.runs[g].count == 0) damaged(groupsPath, "a group without members");
    }
}

void buildGrid(Graph& graph) {
    const int32_t groups = graph.groupCount;
    graph.cellColumns = (static_cast<int64_t>(graph.table.width) + kCellSize - 1) / kCellSize;
    graph.cellRows = (static_cast<int64_t>(graph.table.height) + kCellSize - 1) / kCellSize;
    if (groups == 0) return;
    const auto cellCount = static_cast<std::size_t>(graph.cellColumns * graph.cellRows);
    graph.cellStart.assign(cellCount + 1, 0);
    auto forEachCell = [&](const Box& box, auto&& visit) {
        for (int64_t row = box.top / kCellSize; row <= box.bottom / kCellSize; ++row) {
            for (int64_t column = box.left / kCellSize; column <= box.right / kCellSize; ++column) {
                visit(static_cast<std::size_t>(row * graph.cellColumns + column));
            }
        }
    };
    for (int32_t g = 0; g < groups; ++g) {
        forEachCell(graph.GroupBox(g), [&](std::size_t cell) { ++graph.cellStart[cell + 1]; });
    }
    for (std::size_t cell = 0; cell < cellCount; ++cell) graph.cellStart[cell + 1] += graph.cellStart[cell];
    graph.cells.resize(graph.cellStart[cellCount]);
    std::vector<std::size_t> fill(graph.cellStart.begin(), graph.cellStart.end() - 1);
    for (int32_t g = 0; g < groups; ++g) {
        const GridEntry entry{graph.GroupBox(g), g, graph.runs[g].count};
        forEachCell(entry.box, [&](std::size_t cell) { graph.cells[fill[cell]++] = entry; });
    }
}

// One neighbour search at a time; the buffers are kept between searches.
class NeighbourSearch {
public:
    explicit NeighbourSearch(const Graph& graph) : m_graph(graph) {}

    // The neighbours of g in the order found, at most kMaxNeighbours.
    const std::vector<int32_t>& Find(int32_t g) {
        m_found.clear();
        collectCandidates(g);
        runPass(Contact::Edge);
        if (!m_found.empty()) return m_found;
        // A lone single pixel links only edge to edge; anything larger also
        // reaches a group that meets it only at a corner.
        const Box& firstSquare = m_graph.MembersOf(g)[0];
        if (m_graph.runs[g].count < 2 && firstSquare.right == firstSquare.left) return m_found;
        runPass(Contact::EdgeOrCorner);
        return m_found;
    }

private:
    enum : uint8_t { kUntested, kTouches, kApart };

    // The candidates: every group but g whose box meets the reach of g (its
    // box grown by one pixel), in ascending group order, which is the order
    // a column is walked in.
    void collectCandidates(int32_t g) {
        const Graph& graph = m_graph;
        m_reaches.clear();
        const Box* member = graph.MembersOf(g);
        const int32_t width = graph.table.width;
        const int32_t height = graph.table.height;
        Box reach = reachOf(member[0], width, height);
        for (int32_t m = 0; m < graph.runs[g].count; ++m) {
            const Box square = reachOf(member[m], width, height);
            m_reaches.push_back(square);
            reach.left = std::min(reach.left, square.left);
            reach.right = std::max(reach.right, square.right);
            reach.top = std::min(reach.top, square.top);
            reach.bottom = std::max(reach.bottom, square.bottom);
        }
        m_reach = reach;

        m_candidates.clear();
        for (int64_t row = reach.top / kCellSize; row <= reach.bottom / kCellSize; ++row) {
            for (int64_t column = reach.left / kCellSize; column <= reach.right / kCellSize; ++column) {
                const auto cell = static_cast<std::size_t>(row * graph.cellColumns + column);
                for (std::size_t k = graph.cellStart[cell]; k < graph.cellStart[cell + 1]; ++k) {
                    const GridEntry& entry = graph.cells[k];
                    const Box& box = entry.box;
                    // Most entries miss the reach: one well-predicted branch
                    // instead of four unpredictable ones.
                    const bool meets = (box.left <= reach.right) & (box.right >= reach.left) &
                                       (box.top <= reach.bottom) & (box.bottom >= reach.top) & (entry.group != g);
                    if (!meets) continue;
                    // A group spanning several cells is taken in one of them
                    // only: the cell holding the top-left corner of the part
                    // of its box inside the reach.
                    if (std::max(box.left, reach.left) / kCellSize != column) continue;
                    if (std::max(box.top, reach.top) / kCellSize != row) continue;
                    m_candidates.push_back(entry);
                }
            }
        }
        std::sort(m_candidates.begin(), m_candidates.end(),
                  [](const GridEntry& a, const GridEntry& b) { return a.group < b.group; });
        m_taken.assign(m_candidates.size(), 0);
    }

    void runPass(Contact contact) {
        m_state.assign(m_candidates.size(), kUntested);
        for (int32_t column = m_reach.left; column <= m_reach.right; ++column) {
            if (m_found.size() >= kMaxNeighbours) return;
            for (std::size_t k = 0; k < m_candidates.size(); ++k) {
                const Box& box = m_candidates[k].box;
                if (box.left > column || box.right < column || m_taken[k] != 0) continue;
                if (m_state[k] == kUntested) m_state[k] = touches(m_candidates[k], contact) ? kTouches : kApart;
                if (m_state[k] != kTouches) continue;
                m_found.push_back(m_candidates[k].group);
                m_taken[k] = 1;
                break;  // one neighbour per column
            }
        }
    }

    // Whether some square of group h lies within the reach of some square of
    // the searching group; with Contact::Edge a meeting at one corner cell
    // does not count.
    bool touches(const GridEntry& h, Contact contact) const {
        // A group of one square is its box: no need to look its square up.
        if (h.memberCount == 1) return touchesSquare(h.box, contact);
        const Box* member = m_graph.MembersOf(h.group);
        for (int32_t m = 0; m < h.memberCount; ++m) {
            if (touchesSquare(member[m], contact)) return true;
        }
        return false;
    }

    bool touchesSquare(const Box& square, Contact contact) const {
        for (const Box& reach : m_reaches) {
            if (!columnsMeet(square, reach) || !rowsMeet(square, reach)) continue;
            if (contact == Contact::EdgeOrCorner || !cornerOnly(reach, square)) return true;
        }
        return false;
    }

    const Graph& m_graph;
    Box m_reach;
    std::vector<Box> m_reaches;  // each square of the searching group, grown by 1
    std::vector<GridEntry> m_candidates;
    std::vector<uint8_t> m_taken;
    std::vector<uint8_t> m_state;
    std::vector<int32_t> m_found;
};

// The lines file counts its records in an int32.
constexpr std::size_t kMaxLinks = INT32_MAX;

// Runs the searches in group order and records each pair once, under its
// lower group.
void findLinks(Graph& graph, const std::string& linesPath) {
    NeighbourSearch search(graph);
    graph.ownStart.assign(static_cast<std::size_t>(graph.groupCount) + 1, 0);
    for (int32_t g = 0; g < graph.groupCount; ++g) {
        if ((g & 1023) == 0) RunCheckpoint(g, graph.groupCount);
        for (const int32_t h : search.Find(g)) {
            if (h > g) {
                // g's list is empty until its own search: only g and higher
                // groups add to it, and those come later.
                graph.ownLinks.push_back(h);
                continue;
            }
            // Since its own search, h's list has only received the groups
            // between h and g, so g can be in it only from that search.
            const auto first = graph.ownLinks.begin() + static_cast<std::ptrdiff_t>(graph.ownStart[h]);
            const auto last = graph.ownLinks.begin() + static_cast<std::ptrdiff_t>(graph.ownStart[h + 1]);
            if (std::find(first, last, g) != last) continue;
            graph.laterLinks.emplace_back(h, g);
        }
        if (graph.ownLinks.size() + graph.laterLinks.size() > kMaxLinks) {
            throw FileError(linesPath, "more links than the file can count");
        }
        graph.ownStart[g + 1] = static_cast<uint32_t>(graph.ownLinks.size());
    }
}

}  // namespace

TVemotrace_compV4::TVemotrace_compV4(std::string groupsPath, std::string pointsPath, std::string linesPath,
                                     const ::SquareTable& table, int32_t groupCount, int32_t memberCount)
    : m_groupsPath(std::move(groupsPath)), m_pointsPath(std::move(pointsPath)), m_linesPath(std::move(linesPath)) {
    if (groupCount < 0 || memberCount < 0) damaged(m_groupsPath, "a negative count");
    Graph graph(table, groupCount);
    readMembers(graph, m_groupsPath, memberCount);
    buildGrid(graph);
    findLinks(graph, m_linesPath);

    RecordWriter points(m_pointsPath);
    points.Open();
    for (int32_t g = 0; g < groupCount; ++g) {
        const Box box = graph.GroupBox(g);
        // The centre of the box's pixels: always ends in .0 or .5.
        points.PutDouble((static_cast<double>(box.left) + box.right) * 0.5 + 0.5);
        points.PutDouble((static_cast<double>(box.top) + box.bottom) * 0.5 + 0.5);
        ++m_pointCount;
    }
    points.Close();

    // The later links in order of their lower group, each group's in search order.
    std::stable_sort(graph.laterLinks.begin(), graph.laterLinks.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    RecordWriter lines(m_linesPath);
    lines.Open();
    auto later = graph.laterLinks.cbegin();
    for (int32_t g = 0; g < groupCount; ++g) {
        for (uint32_t k = graph.ownStart[g]; k < graph.ownStart[g + 1]; ++k) {
            lines.PutInt32(g);
            lines.PutInt32(graph.ownLinks[k]);
            ++m_linkCount;
        }
        for (; later != graph.laterLinks.cend() && later->first == g; ++later) {
            lines.PutInt32(g);
            lines.PutInt32(later->second);
            ++m_linkCount;
        }
    }
    lines.Close();
}
