// Vemotrace_join: the join step as an outline (files, rules and results in
// trace/Vemotrace_join.h); the rules live in one unit per family beside
// this one.
#include "trace/Vemotrace_join.h"

#include <future>

#include "base/Vemo_runcontrol.h"
#include "trace/Vemotrace_records.h"
#include "trace/join/Vemotrace_joinjunctions.h"
#include "trace/join/Vemotrace_joinshape.h"

using namespace join::shape;
using join::Joiner;
using join::junctions::straightenJunctions;

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
    const Polylines found = diagonalRuns(bitmap);
    DiagonalRuns runs;
    runs.xy.reserve(2 * found.points.size());
    for (const Point& p : found.points) {
        runs.xy.push_back(p.x);
        runs.xy.push_back(p.y);
    }
    runs.begin = found.begin;
    return runs;
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
    lines.points.reserve(lines.points.size() + runs.xy.size() / 2);
    lines.begin.reserve(lines.begin.size() + runs.begin.size());
    for (std::size_t k = 1; k < runs.begin.size(); ++k) {
        for (std::size_t i = runs.begin[k - 1]; i < runs.begin[k]; ++i) {
            lines.points.push_back({runs.xy[2 * i], runs.xy[2 * i + 1]});
        }
        lines.begin.push_back(lines.points.size());
    }
    // A stopped run ends between the rules (the progress stays where stage 5 left it).
    const auto checkpoint = [] { RunCheckpoint(1, 1); };
    Joiner joiner(lines, m_bitmap);
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
    checkpoint();

    // The chains, open ones first, each from the lower of its free ends,
    // and then the rings, which close on their first point. An open chain
    // is found from either end alone, so the ends are taken two at a time,
    // and each block of them shapes its chains into an array of its own.
    std::vector<uint8_t> visited(static_cast<std::size_t>(lines.count()), 0);
    const std::size_t ends = 2 * static_cast<std::size_t>(lines.count());
    std::vector<Polylines> shaped((ends + kThreadBlock - 1) / kThreadBlock + 1);
    inTwoThreads(ends, [&](std::size_t first, std::size_t last) {
        Polylines& out = shaped[first / kThreadBlock];
        ChainShaper shaper(m_bitmap);
        std::vector<Point> chain, kept, junctions;
        for (std::size_t k = first; k < last; ++k) {
            const auto end = static_cast<int32_t>(k);
            if (joiner.removed[end / 2] || joiner.partner[end] != kNone) continue;
            const int32_t other = joiner.chainEnd(end);
            if (other < end) continue;  // the chain is taken from there
            chain.clear();
            for (int32_t at = end;; at = joiner.partner[at ^ 1]) {
                visited[at / 2] = 1;
                appendPolyline(lines, at, chain);
                if ((at ^ 1) == other) break;
            }
            if (joiner.isFree(end) && joiner.isFree(other)) {
                const double length = chainLength(chain);
                if (length < kDotLength && isDot(m_bitmap, chain.front())) continue;
                if (length <= kDustLength && isDust(m_bitmap, chain)) continue;
            }
            junctions.clear();
            if (joiner.isJunction(end)) junctions.push_back(lines.endPoint(end));
            if (joiner.isJunction(other)) junctions.push_back(lines.endPoint(other));
            shaper.Shape(chain, junctions, kept);
            out.points.insert(out.points.end(), kept.begin(), kept.end());
            out.begin.push_back(out.points.size());
        }
    });
    {
        Polylines& rings = shaped.back();
        ChainShaper shaper(m_bitmap);
        std::vector<Point> chain, kept;
        for (int32_t i = 0; i < lines.count(); ++i) {
            if (joiner.removed[i] || visited[i]) continue;
            chain.clear();
            for (int32_t at = 2 * i; at != kNone && !visited[at / 2]; at = joiner.partner[at ^ 1]) {
                visited[at / 2] = 1;
                appendPolyline(lines, at, chain);
            }
            if (!(chain.back() == chain.front())) chain.push_back(chain.front());
            shaper.Shape(chain, {}, kept);
            rings.points.insert(rings.points.end(), kept.begin(), kept.end());
            rings.begin.push_back(rings.points.size());
        }
    }

    // Only the shaped chains are written: the traced lines go first, and
    // each block once written.
    lines = Polylines{};
    m_polylineCount = 0;
    m_vertexCount = 0;
    RecordWriter writer(m_linesPath);
    writer.Open();
    for (Polylines& block : shaped) {
        writePolylines(block, writer, m_polylineCount, m_vertexCount);
        block = Polylines{};
    }
    writer.Close();
}
