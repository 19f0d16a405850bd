// Vemotrace_join: the join step as an outline (files, rules and results in
// trace/Vemotrace_join.h); the rules live in one unit per family beside
// this one.
#include "trace/Vemotrace_join.h"

#include <algorithm>
#include <future>

#include "base/Vemo_runcontrol.h"
#include "trace/Vemotrace_records.h"
#include "trace/join/Vemotrace_joinjunctions.h"
#include "trace/join/Vemotrace_joinshape.h"
#include "trace/join/Vemotrace_joinwork.h"

using namespace join::shape;
using join::Joiner;
using join::junctions::straightenJunctions;
using namespace join::work;

PackedBitmap TVemotrace_join::InkFromSquares(const std::string& squaresPath, int32_t squareCount, int32_t width,
                                             int32_t height) {
    PackedBitmap ink(width, height);
    if (squareCount <= 0 || ink.IsEmpty()) return ink;
    ReadSquares(squaresPath, squareCount, ShortFile::Throws, [&](int32_t, const SquareRecord& square) {
        const int32_t x = square.x, y = square.y, size = square.size;
        if (x < 0 || y < 0 || size < 1 || size > width - x || size > height - y) {
            throw FileError(squaresPath, "a square outside the image");
        }
        // Most squares lie within one word of a row: its mask serves
        // every row.
        if (x % 64 + size <= 64) {
            const uint64_t mask = (size == 64 ? ~uint64_t{0} : (uint64_t{1} << size) - 1) << (x % 64);
            for (int32_t row = y; row < y + size; ++row) {
                ink.Row(row)[x / 64] |= mask;
                ink.MarkInk(row);
            }
            return;
        }
        for (int32_t row = y; row < y + size; ++row) {
            uint64_t* words = ink.Row(row);
            for (int32_t c = x; c < x + size;) {
                // Whole words at a time where the square spans them.
                const int32_t bit = c % 64;
                const int32_t span = std::min(64 - bit, x + size - c);
                const uint64_t mask = (span == 64 ? ~uint64_t{0} : ((uint64_t{1} << span) - 1)) << bit;
                words[c / 64] |= mask;
                c += span;
            }
            ink.MarkInk(row);
        }
    });
    return ink;
}

TVemotrace_join::TVemotrace_join(std::string linesPath, const PackedBitmap& bitmap, const DiagonalRuns* runs)
    : m_linesPath(std::move(linesPath)), m_bitmap(bitmap), m_runs(runs) {}

TVemotrace_join::DiagonalRuns TVemotrace_join::FindDiagonalRuns(const PackedBitmap& bitmap) {
    // Handed over whole: a copy would hold every run pixel twice.
    Polylines found = diagonalRuns(bitmap);
    return {std::move(found.points), std::move(found.begin)};
}

void TVemotrace_join::TraceAndJoin(TVemotrace_compV& pipeline, PackedBitmap bitmap,
                                   const std::function<void(const PackedBitmap& ink)>& afterJoin) {
    struct Ink {
        PackedBitmap bitmap;
        DiagonalRuns runs;
    };
    std::future<Ink> ink;
    // Its own thread when one can be had, else when it is asked for.
    const auto paint = [&] {
        ink = std::async(std::launch::async | std::launch::deferred, [traced = pipeline.CollectResults()] {
            Ink painted{InkFromSquares(traced.squaresPath, traced.squareCount, traced.imageWidth, traced.imageHeight),
                        {}};
            painted.runs = FindDiagonalRuns(painted.bitmap);
            return painted;
        });
    };
    // Pinholes go before the trace: its squares would ring them.
    join::ink::fillPinholes(bitmap);
    // Handed over: the first stage frees the scan before the others need
    // their memory, and the ink is painted once they have freed theirs.
    pipeline.RunTrace(std::move(bitmap), paint);
    const Ink painted = ink.get();
    TVemotrace_join(pipeline.CollectResults().linesPath, painted.bitmap, &painted.runs).JoinLines();
    if (afterJoin) afterJoin(painted.bitmap);
}

void TVemotrace_join::JoinLines() {
    // Runs not found beforehand are looked for while the lines are read.
    std::future<DiagonalRuns> looking;
    if (m_runs == nullptr) {
        looking = std::async(std::launch::async | std::launch::deferred, [this] { return FindDiagonalRuns(m_bitmap); });
    }
    Polylines lines = readPolylines(m_linesPath);
    DiagonalRuns found;
    if (m_runs == nullptr) found = looking.get();
    const DiagonalRuns& runs = m_runs != nullptr ? *m_runs : found;
    // Room for the runs at once: growing the arrays would hold them twice.
    lines.points.reserve(lines.points.size() + runs.points.size());
    lines.begin.reserve(lines.begin.size() + runs.begin.size());
    const std::size_t offset = lines.points.size();
    lines.points.insert(lines.points.end(), runs.points.begin(), runs.points.end());
    for (std::size_t k = 1; k < runs.begin.size(); ++k) lines.begin.push_back(offset + runs.begin[k]);
    // A stopped run ends between the rules (the progress stays where stage 5 left it).
    const auto checkpoint = [] { RunCheckpoint(1, 1); };
    m_polylineCount = 0;
    m_vertexCount = 0;
    RecordWriter writer(m_linesPath);
    bool opened = false;
    // Lines in crowds are written first, as they are, and crowded dust is
    // dropped; the rules' state is built for the others only.
    Nodes nodes = findNodes(lines);
    if (const std::vector<uint8_t> crowding = sortOutCrowds(lines, nodes, m_bitmap);
        std::any_of(crowding.begin(), crowding.end(), [](uint8_t c) { return c != kKept; })) {
        writer.Open();
        opened = true;
        for (int32_t i = 0; i < lines.count(); ++i) {
            if (crowding[i] != kPassesThrough) continue;
            writePolyline({lines.points.data() + lines.begin[i], lines.size(i)}, writer, m_polylineCount,
                          m_vertexCount);
        }
        keepLines(lines, nodes, crowding);
        checkpoint();
    }
    Joiner joiner(lines, m_bitmap, std::move(nodes));
    joiner.pairMeetingEnds();
    checkpoint();
    joiner.bridgeGaps();
    checkpoint();
    joiner.removeSpurs();
    joiner.restoreTips();
    checkpoint();
    // Thick free ends reach their gaps only once moved on.
    joiner.extendFreeEnds();
    const auto hooks = joiner.layBackHooks();
    checkpoint();
    joiner.bridgeGaps(true);
    joiner.restoreHooks(hooks);
    checkpoint();
    joiner.joinThinCorners();
    joiner.dropEndState();
    straightenJunctions(joiner);
    joiner.dropRuleState();
    std::sort(joiner.tipCorners.begin(), joiner.tipCorners.end());
    checkpoint();

    // The chains, open ones first, each from the lower of its free ends,
    // and then the rings, which close on their first point. An open chain
    // is found from either end alone, so the ends are taken two at a time,
    // and each block of them shapes its chains into an array of its own.
    // The blocks are shaped and written kRoundBlocks at a time, in order.
    if (!opened) writer.Open();
    constexpr std::size_t kRoundBlocks = 64;
    constexpr std::size_t kRound = kRoundBlocks * kThreadBlock;
    std::vector<uint8_t> visited(static_cast<std::size_t>(lines.count()), 0);
    const std::size_t ends = 2 * static_cast<std::size_t>(lines.count());
    std::vector<Polylines> shaped(kRoundBlocks);
    for (std::size_t round = 0; round < ends; round += kRound) {
        inTwoThreads(std::min(kRound, ends - round), [&](std::size_t first, std::size_t last) {
            Polylines& out = shaped[first / kThreadBlock];
            ChainShaper shaper(m_bitmap);
            std::vector<Point> chain, kept, junctions, corners;
            for (std::size_t k = round + first; k < round + last; ++k) {
                const auto end = static_cast<int32_t>(k);
                if (joiner.removed[end / 2] || joiner.partner[end] != kNone) continue;
                const int32_t other = joiner.chainEnd(end);
                if (other < end) continue;  // the chain is taken from there
                chain.clear();
                corners.clear();
                for (int32_t at = end;; at = joiner.partner[at ^ 1]) {
                    visited[at / 2] = 1;
                    appendPolyline(lines, at, chain);
                    if (joiner.isTipCorner(at)) corners.push_back(lines.endPoint(at));
                    if ((at ^ 1) == other) break;
                }
                if (joiner.isFree(end) && joiner.isFree(other) && isDustChain(m_bitmap, chain)) continue;
                junctions.clear();
                if (joiner.isJunction(end)) junctions.push_back(lines.endPoint(end));
                if (joiner.isJunction(other)) junctions.push_back(lines.endPoint(other));
                shaper.Shape(chain, junctions, kept, corners);
                out.points.insert(out.points.end(), kept.begin(), kept.end());
                out.begin.push_back(out.points.size());
            }
        });
        for (Polylines& block : shaped) {
            writePolylines(block, writer, m_polylineCount, m_vertexCount);
            block = Polylines{};
        }
    }
    ChainShaper shaper(m_bitmap);
    std::vector<Point> chain, kept, corners;
    for (int32_t i = 0; i < lines.count(); ++i) {
        if (joiner.removed[i] || visited[i]) continue;
        chain.clear();
        corners.clear();
        for (int32_t at = 2 * i; at != kNone && !visited[at / 2]; at = joiner.partner[at ^ 1]) {
            visited[at / 2] = 1;
            appendPolyline(lines, at, chain);
            if (joiner.isTipCorner(at)) corners.push_back(lines.endPoint(at));
        }
        if (!(chain.back() == chain.front())) chain.push_back(chain.front());
        shaper.Shape(chain, {}, kept, corners);
        writePolyline(kept, writer, m_polylineCount, m_vertexCount);
    }
    writer.Close();
}
