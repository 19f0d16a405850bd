// Vemotrace_fitpens: what the fitting step measures and settles after the
// shapes: the ink's width across a stroke, the pens the widths fall into,
// and lines snapped to horizontal and vertical.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "trace/Vemotrace_fit.h"

namespace fit::pens {

// Probes walk across the stroke in steps of this (pixels), up to
// kMaxProbe on each side: wider than any pen a drawing is made with, and a
// probe along a stroke's course must stop somewhere.
inline constexpr double kProbeStep = 0.25;
inline constexpr double kMaxProbe = 48.0;
// No width measured comes out wider: a bound that decides some tests
// without probing.
inline constexpr double kMaxWidth = 2 * kMaxProbe + kProbeStep;
// The width given where the centre line misses the ink (a one-pixel
// stroke's centre between two pixels) or no bitmap is known.
inline constexpr double kThinWidth = 1.0;

// The ink's width across the segment from a to b, about its middle and
// square to it.
double segmentWidth(const PackedBitmap& ink, const Point& a, const Point& b);

// The widths across segments, each probed once: dirt, pieces across a
// break and the fitting itself measure many of the same segments (a
// junction's arm, a piece's points, joined or not). A segment is kept by
// its ends' exact values and direction (the probes' places depend on it),
// so a width kept is the width segmentWidth gives.
class InkWidths {
public:
    // `expected`: about how many widths will be kept, so the table is
    // made that large at once instead of grown (each growth places every
    // width kept so far again, all over memory).
    explicit InkWidths(const PackedBitmap& ink, std::size_t expected = 0);
    // segmentWidth, kept.
    double Segment(const Point& a, const Point& b);
    // Each segment's width (points.size() - 1 values), kept.
    std::vector<double> Segments(std::span<const Point> points);
    // The same, from the widths kept where known; keeps none, so
    // threads may share it once the steps that keep widths are done.
    std::vector<double> Known(std::span<const Point> points) const;
    const PackedBitmap& Ink() const { return m_ink; }

private:
    struct Key {
        uint64_t ax, ay, bx, by;
        bool operator==(const Key&) const = default;
    };
    // An open table (linear probing, at most half full): every chain's
    // segments are looked up, and most are not there.
    struct Slot {
        Key key;
        double width;
        bool used;
    };
    static Key KeyOf(const Point& a, const Point& b);
    static std::size_t HashOf(const Key& key);
    // One bit per hash's top bits, set for every key kept: most segments
    // looked up were never kept, and this small table (it stays in the
    // cache) tells so where the slots, spread over megabytes, would each
    // cost a fetch from memory.
    static constexpr int kSeenBits = 20;
    static std::size_t SeenBit(std::size_t hash);
    bool MaybeKept(std::size_t hash) const;
    const Slot* Find(const Key& key) const;
    void Keep(const Key& key, double width);

    const PackedBitmap& m_ink;
    std::vector<Slot> m_slots;
    std::vector<uint64_t> m_seen;
    std::size_t m_kept = 0;
};

// A pen draws a round cap of half its width about its stroke's end, so
// the drawn end of a stroke of `width` lies half the width inside the
// ink's end, while a centre line traced from the ink ends anywhere in the
// cap. The distance to move a free end at `end`, along the unit vector
// `outward` (pointing out of the stroke), so that it lies there: negative
// to go back, at most half the width either way. An end that a break cut
// (the ink ends flat, join::gaps::endsFlat, and goes on beyond a bridgeable
// gap) keeps a quarter of the width to the ink's end instead, as the join
// step leaves it. 0 on pens thinner than
// kMinCapWidth (the cap lies within the tolerance there), off the ink and
// without a bitmap.
inline constexpr double kMinCapWidth = 4.0;
double capShift(const PackedBitmap& ink, const Point& end, const Point& outward, double width);

// The median; kThinWidth for none.
double median(std::span<const double> values);

// Groups the entities' widths into at most TVemotrace_fit::kMaxPens pens,
// widths within a factor of kPenStep of the pen's narrowest sharing one;
// fills result.penWidths and every entity's pen.
void assignPens(FitResult& result);

// Lines within kSnapDegrees of horizontal (vertical) get one y (x) for both
// ends; every end shared with them moves alike, so meeting points stay
// shared. Arcs keep their middle and pass through their ends' new places.
void snapAngles(std::vector<FitEntity>& entities);

}  // namespace fit::pens
