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

// Vertices within this distance (pixels) of the simplified line go.
constexpr double kVertexTolerance = 0.5;
// Re-centring across thick ink: a point every kRecentreStep pixels, ink at
// least kThickInk across, measured in steps of kRayStep; a point stays when
// the ink on one side reaches more than kMaxImbalance times further.
constexpr double kRecentreStep = 2.0;
// The chain's course at a point is taken over this much of it (pixels)
// either side.
constexpr double kRecentreSpan = 3.0;
// Strokes up to 24 pixels wide (2 mm at 300 dpi) are re-centred;
// beyond is a blob.
constexpr double kRecentreReach = 12.0;
constexpr double kMaxImbalance = 2.0;
// A point is as far across as the stroke usually is when it measures at
// most kWidthSlack times that (plus a pixel); it is moved however far off
// the middle it lies.
constexpr double kWidthSlack = 1.2;
// Edges this close to equally far on both sides (pixels) mean the middle.
constexpr double kCentred = 0.5;
// A corner cut is at most kCornerCutSegments segments and kCornerCut times
// the ink's half width (plus a pixel) long, over the sine of half the
// corner's angle (at least kSharpestHalfSine), and so is the way from the
// cut to the restored corner; the lines must meet at more than kCornerSine
// (the sine of 30 degrees). The legs before and after are at least
// kCornerLegs times as long as the cut, kEndCornerLegs where a leg ends
// the line.
constexpr double kCornerCut = 2.0;
constexpr double kCornerSine = 0.5;
constexpr std::size_t kCornerCutSegments = 4;
constexpr double kCornerLegs = 1.0;
constexpr double kEndCornerLegs = 2.0;
constexpr double kSharpestHalfSine = 0.25;
// With legs shorter than twice the cut the corner lies at least this many
// half widths off the cut.
constexpr double kShortLegCornerOff = 0.5;

// The ink across a chain at one of its points: how far it reaches along
// the unit normal n and against it.
struct Across {
    double a = 0.0;
    double b = 0.0;
    Point n;
};

void recentre(const PackedBitmap& bitmap, std::vector<Point>& chain, std::vector<Point>& dense,
              std::vector<uint8_t>& movable, std::vector<Across>& shifts, std::vector<double>& widths,
              std::span<const Point> junctions);
void simplify(const std::vector<Point>& chain, std::vector<uint8_t>& keep);
void sharpenCorners(const PackedBitmap& bitmap, std::vector<Point>& line);

// Shapes a chain for writing: re-centred across thick ink, simplified,
// corners sharpened. Keeps its scratch vectors from chain to chain; one
// per thread.
class ChainShaper {
public:
    explicit ChainShaper(const PackedBitmap& bitmap) : m_bitmap(bitmap) {}

    // `junctions`: the chain's ends that lie where three or more lines meet.
    void Shape(std::span<const Point> chain, std::span<const Point> junctions, std::vector<Point>& kept) {
        kept.clear();
        if (chain.size() < 2) return;
        m_chain.assign(chain.begin(), chain.end());
        recentre(m_bitmap, m_chain, m_dense, m_movable, m_shifts, m_widths, junctions);
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
