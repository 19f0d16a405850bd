// Vemotrace_joinshape: a joined chain shaped for writing: re-centred across
// thick ink, simplified, corners that the trace cuts across restored.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "trace/Vemotrace_packed.h"
#include "trace/join/Vemotrace_joinink.h"

namespace join::shape {

using namespace join::ink;

// A point is re-centred when the ink on either side of it reaches less
// than this far (pixels): a 1 mm pen at 600 dpi (24 pixels) with its points
// up to 4 pixels off its middle; beyond is a blob. The junctions measure
// across as far.
constexpr double kRecentreReach = 16.0;
// On a stroke wider than that, whose usual width the chain measures, a
// point may lie anywhere across it (on a curve the squares put points near
// its inner edge): there the ink is measured up to this far.
constexpr double kWideRecentreReach = 26.0;
// Two lines meet at a corner when the sine of their angle exceeds this
// (the sine of 30 degrees); the free ends' corners use it too.
constexpr double kCornerSine = 0.5;

// The ink across a chain at one of its points: how far it reaches along
// the unit normal n and against it.
struct Across {
    double a = 0.0;
    double b = 0.0;
    Point n;
};

void recentre(const PackedBitmap& bitmap, std::vector<Point>& chain, std::vector<Point>& dense,
              std::vector<uint8_t>& movable, std::vector<Across>& shifts, std::vector<double>& widths,
              std::span<const Point> junctions, std::span<const Point> corners = {});
// Marks in `keep` the vertices that hold the chain within half a pixel of
// its course; returns how many times it weighed a point, which is at most
// the budget (see work::kSimplifyBudget) plus the chain's length times
// 1 + log2 of it.
std::size_t simplify(const std::vector<Point>& chain, std::vector<uint8_t>& keep);
void sharpenCorners(const PackedBitmap& bitmap, std::vector<Point>& line);

// True when a lone chain (both its ends free) is not written: a dot of
// dirt (shorter than TVemotrace_join::kDotLength, see isDot) or a speck of
// dust (see isDust). The crowds of dust are dropped up front by this test.
bool isDustChain(const PackedBitmap& bitmap, std::span<const Point> chain);

// Shapes a chain for writing: re-centred across thick ink, simplified,
// corners sharpened. Keeps its scratch vectors from chain to chain; one
// per thread.
class ChainShaper {
public:
    explicit ChainShaper(const PackedBitmap& bitmap) : m_bitmap(bitmap) {}

    // `junctions`: the chain's ends that lie where three or more lines meet;
    // `corners`: its points that a rule put where a sharp corner's legs
    // meet, which stay there.
    void Shape(std::span<const Point> chain, std::span<const Point> junctions, std::vector<Point>& kept,
               std::span<const Point> corners = {}) {
        kept.clear();
        if (chain.size() < 2) return;
        m_chain.assign(chain.begin(), chain.end());
        recentre(m_bitmap, m_chain, m_dense, m_movable, m_shifts, m_widths, junctions, corners);
        simplify(m_chain, m_keep);
        for (std::size_t k = 0; k < m_chain.size(); ++k) {
            if (m_keep[k]) kept.push_back(m_chain[k]);
        }
        sharpenCorners(m_bitmap, kept);
    }

private:
    const PackedBitmap& m_bitmap;
    std::vector<uint8_t> m_keep;
    std::vector<Point> m_chain;
    std::vector<Point> m_dense;
    std::vector<uint8_t> m_movable;
    std::vector<Across> m_shifts;
    std::vector<double> m_widths;
};
}  // namespace join::shape
