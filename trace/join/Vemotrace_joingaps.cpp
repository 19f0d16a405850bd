// Vemotrace_joingaps: bridging gaps (see the header): the pair tests and
// Joiner's rules that move free ends on and bridge them.
#include "trace/join/Vemotrace_joingaps.h"

#include <algorithm>
#include <cmath>

#include "trace/join/Vemotrace_joiner.h"
#include "trace/join/Vemotrace_joinwork.h"

namespace join::gaps {

// Untraced ink beyond a break is looked for this far (pixels): a stroke's
// end of up to about twice its width; a longer piece has squares enough to
// be traced.
constexpr double kUntracedPiece = 4.0 * kMaxInkRadius;
constexpr int32_t kEndCell = 16;
// A free end's ink is looked for this far ahead (pixels): the trace of a
// 1 mm pen at 600 dpi stops up to about a pen's width short of its end.
constexpr double kEndAhead = 2.0 * kMaxInkRadius;
// A stroke cut across by a break ends flat: its ink reaches as far
// kFlatEndSide half widths to either side as in its middle, within
// kFlatEndSlack half widths and half a pixel (a round end's reaches a third
// of a half width less there: on a pen 8 pixels wide, 1.4 pixels). Its end
// stops kFlatEndShort half widths short of the ink's end (a round pen's
// stops a whole one short), so that it lies as near the break as the
// stroke's middle does, and the two sides of the break come within a gap
// of each other. Only wide pens are told so: on thinner ones a pixel's
// step is as large as the difference.
constexpr double kFlatEndSide = 0.75;
constexpr double kFlatEndSlack = 0.1;
constexpr double kFlatEndShort = 0.5;
constexpr double kFlatEndRadius = 4.0;

// True when the ink of the free end at `tip` (pointing along `aim`, its
// half width `across`) ends flat `toEnd` ahead: cut across by a break
// rather than drawn round.
bool endsFlat(const PackedBitmap& bitmap, const Point& tip, const Point& aim, double toEnd, double across) {
    if (across < kFlatEndRadius || toEnd >= kEndAhead) return false;
    const double least = toEnd - kFlatEndSlack * across - 0.5;
    for (const double side : {-kFlatEndSide * across, kFlatEndSide * across}) {
        const Point from{tip.x - side * aim.y, tip.y + side * aim.x};
        if (!isInkAt(bitmap, from) || inkExtent(bitmap, from, aim, kEndAhead) < least) return false;
    }
    return true;
}

bool inkAgainPastBreak(const PackedBitmap& bitmap, const Point& tip, const Point& aim, double toEnd) {
    for (double t = toEnd + kRayStep; t <= toEnd + kBreakAlongBridge; t += kRayStep) {
        if (isInkAt(bitmap, {tip.x + t * aim.x, tip.y + t * aim.y})) return true;
    }
    return false;
}

bool bridgeable(const FreeEnd& a, const FreeEnd& b) {
    const double reach = kGapWidth + std::min(a.radius, kMaxGapRadius) + std::min(b.radius, kMaxGapRadius);
    const double dx = b.at.x - a.at.x, dy = b.at.y - a.at.y;
    if (dx * dx + dy * dy > reach * reach) return false;
    const double gap = std::sqrt(dx * dx + dy * dy);
    if (gap < kTouchingDistance) return -(a.aim.x * b.aim.x + a.aim.y * b.aim.y) >= kTouchingCosine;
    const Point u{(b.at.x - a.at.x) / gap, (b.at.y - a.at.y) / gap};
    const double aimA = a.aim.x * u.x + a.aim.y * u.y;
    const double aimB = -(b.aim.x * u.x + b.aim.y * u.y);
    if (gap <= kNeighbourDistance) return aimA >= kNeighbourCosine && aimB >= kNeighbourCosine;
    return aimA >= kAimCosine && aimB >= kAimCosine;
}

// Two ends that point at each other further apart than bridgeable allows,
// because the trace stops short of where thick ink ends, are joined when
// the way between them crosses no more paper than a break.
bool bridgeableOverInk(const PackedBitmap& bitmap, const FreeEnd& a, const FreeEnd& b) {
    // Each aim within kAimCosine of the way between, compared squared: most
    // pairs are passed over before a root is taken.
    const double dx = b.at.x - a.at.x, dy = b.at.y - a.at.y;
    const double squared = dx * dx + dy * dy;
    const double aimA = a.aim.x * dx + a.aim.y * dy, aimB = -(b.aim.x * dx + b.aim.y * dy);
    const double least = kAimCosine * kAimCosine * squared;
    if (aimA <= 0.0 || aimB <= 0.0 || aimA * aimA < least || aimB * aimB < least) return false;
    const double gap = std::sqrt(squared);
    if (gap < kTouchingDistance) return false;
    const Point u{dx / gap, dy / gap};
    // Both ends on the image, so is every point between: a pixel is found
    // by cutting off the fraction.
    const auto onImage = [&](const Point& p) {
        return p.x >= 0.0 && p.y >= 0.0 && p.x < bitmap.Width() && p.y < bitmap.Height();
    };
    if (!onImage(a.at) || !onImage(b.at)) return false;
    double paper = 0.0;
    for (double t = kBridgeStep / 2; t < gap; t += kBridgeStep) {
        const int32_t x = std::min(static_cast<int32_t>(a.at.x + t * u.x), bitmap.Width() - 1);
        const int32_t y = std::min(static_cast<int32_t>(a.at.y + t * u.y), bitmap.Height() - 1);
        if (!bitmap.IsInk(x, y)) paper += kBridgeStep;
        if (paper > kBreakAlongBridge) return false;
    }
    return true;
}
}  // namespace join::gaps

namespace join {

Point Joiner::direction(int32_t end, double reach) const {
    const int32_t i = end / 2;
    const Point& tip = lines.endPoint(end);
    const std::size_t count = lines.size(i);
    Point from = tip;
    for (std::size_t k = 1; k < count; ++k) {
        from = lines.fromEnd(end, k);
        if (!closerThan(from, tip, reach)) break;
    }
    const double d = distance(from, tip);
    if (d < 1e-9) return {};
    return {(tip.x - from.x) / d, (tip.y - from.y) / d};
}

void Joiner::extendFreeEnds() {
    const int32_t ends = 2 * lines.count();
    const auto isOpen = [&](int32_t end) { return !removed[end / 2] && partner[end] == kNone && isFree(end); };
    // The hooked ends are found first, two at a time, on the lines as
    // they are. A hook lies in its own polyline, which only the
    // polyline's other end changes here: once that end has been cut or
    // moved, this one is looked at again in its turn.
    std::vector<uint8_t> hooked(static_cast<std::size_t>(ends), 0);
    inTwoThreads(hooked.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t k = first; k < last; ++k) {
            const auto end = static_cast<int32_t>(k);
            hooked[k] = isOpen(end) && trimEndHook(end, false);
        }
    });
    std::vector<uint8_t> changed(static_cast<std::size_t>(lines.count()), 0);
    for (int32_t end = 0; end < ends; ++end) {
        if (!isOpen(end)) continue;
        if ((hooked[end] || changed[end / 2]) && trimEndHook(end)) {
            known[end] = kNone;
            changed[end / 2] = 1;
        }
        const FreeEnd& info = freeEnd(end);
        // Ink two pixels wide or less has its trace on the pixel centres.
        if (info.radius <= 1.0 || (info.aim.x == 0.0 && info.aim.y == 0.0)) continue;
        const Point aim = info.aim;
        Point& tip = lines.fromEnd(end, 0);
        const double across =
            (inkExtent(bitmap, tip, {-aim.y, aim.x}) + inkExtent(bitmap, tip, {aim.y, -aim.x})) / 2;
        const double toEnd = inkExtent(bitmap, tip, aim, kEndAhead);
        if (2.0 * across < kThickInk || across >= kMaxInkRadius) continue;
        double reach = toEnd - (endsFlat(bitmap, tip, aim, toEnd, across) ? kFlatEndShort : 1.0) * across;
        if (toEnd < kEndAhead) {
            const double further = untracedInkBeyond(tip, aim, toEnd, across);
            if (further > 0.0) reach = further - across;
        }
        if (!(reach > 0.0)) continue;
        const Point moved{tip.x + reach * aim.x, tip.y + reach * aim.y};
        if (!std::isfinite(moved.x) || !std::isfinite(moved.y)) continue;
        tip = moved;
        known[end] = kNone;  // to be measured again where it is now
        movedEnd[end] = 1;
        changed[end / 2] = 1;
    }
}

double Joiner::untracedInkBeyond(const Point& tip, const Point& aim, double toEnd, double across) {
    const auto isInk = [&](double t) { return isInkAt(bitmap, {tip.x + t * aim.x, tip.y + t * aim.y}); };
    double t = toEnd + kRayStep;
    while (t <= toEnd + kBreakAlongBridge && !isInk(t)) t += kRayStep;
    if (!isInk(t)) return 0.0;
    const Point start{tip.x + t * aim.x, tip.y + t * aim.y};
    const double length = inkExtent(bitmap, start, aim, kUntracedPiece);
    if (length >= kUntracedPiece || length <= across) return 0.0;
    // As wide as the stroke: not a stroke across its way.
    const Point middle{start.x + length / 2 * aim.x, start.y + length / 2 * aim.y};
    const double side = across + kCornerInk;
    if (inkExtent(bitmap, middle, {-aim.y, aim.x}) > side || inkExtent(bitmap, middle, {aim.y, -aim.x}) > side) {
        return 0.0;
    }
    return anyEndNear(middle, length / 2 + across) ? 0.0 : t + length;
}

bool Joiner::anyEndNear(const Point& p, double radius) {
    const int32_t across = bitmap.Width() / kEndCell + 1, down = bitmap.Height() / kEndCell + 1;
    const auto cellOf = [](double v, int32_t cells) {
        return std::clamp(pixelOf(v / kEndCell), int32_t{0}, cells - 1);
    };
    const auto cellAt = [&](const Point& at) {
        return static_cast<std::size_t>(cellOf(at.y, down)) * across + cellOf(at.x, across);
    };
    if (endCells.first.empty()) {
        std::vector<int32_t> live;
        for (int32_t end = 0; end < 2 * lines.count(); ++end) {
            if (!removed[end / 2]) live.push_back(end);
        }
        endCells = dealToCells(live, static_cast<std::size_t>(across) * down,
                               [&](int32_t end) { return cellAt(lines.endPoint(end)); });
    }
    for (int32_t cy = cellOf(p.y - radius, down); cy <= cellOf(p.y + radius, down); ++cy) {
        for (int32_t cx = cellOf(p.x - radius, across); cx <= cellOf(p.x + radius, across); ++cx) {
            const std::size_t cell = static_cast<std::size_t>(cy) * across + cx;
            for (int32_t k = endCells.first[cell]; k < endCells.first[cell + 1]; ++k) {
                const int32_t end = endCells.items[k];
                if (!removed[end / 2] && distance(lines.endPoint(end), p) <= radius) return true;
            }
        }
    }
    return false;
}

void Joiner::bridgeGaps(bool movedOnly) {
    std::vector<int32_t> ends;
    for (int32_t end = 0; end < 2 * lines.count(); ++end) {
        if (removed[end / 2] || partner[end] != kNone || !isFree(end)) continue;
        ends.push_back(end);
    }
    // Ends in a crowd are not bridged (see join::work); the others come in
    // the cells' order, where ends near each other read the same rows of
    // the bitmap, and those not measured yet are measured so, two at a
    // time.
    ends = work::endsOutsideCrowds(ends, lines, bitmap.Width(), bitmap.Height());
    if (ends.size() < 2) return;
    std::vector<int32_t> unknown;
    for (const int32_t end : ends) {
        if (known[end] == kNone) unknown.push_back(end);
    }
    makeRoomToMeasure(unknown.size());
    const std::size_t before = measured.size();
    measured.resize(before + unknown.size());
    inTwoThreads(unknown.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t k = first; k < last; ++k) measured[before + k] = measure(unknown[k]);
    });
    for (std::size_t k = 0; k < unknown.size(); ++k) known[unknown[k]] = static_cast<int32_t>(before + k);
    std::vector<const FreeEnd*> byCell(ends.size());
    for (std::size_t k = 0; k < byCell.size(); ++k) byCell[k] = &measured[known[ends[k]]];
    struct Pair {
        double gap;
        int32_t a;
        int32_t b;
    };
    // Most ends met in the cells lie further apart than any bridge
    // reaches; they are passed over before the full test. A pair is
    // weighed from its lower end and the pairs are sorted on all they
    // hold, so neither the cells' order nor the threads matter.
    constexpr double kLongestBridge = kGapWidth + 2.0 * kMaxGapRadius;
    const auto consider = [&](const FreeEnd& a, const FreeEnd& b, std::vector<Pair>& found) {
        const double dx = b.at.x - a.at.x, dy = b.at.y - a.at.y;
        const double squared = dx * dx + dy * dy;
        if (squared > kLongestBridge * kLongestBridge) return;
        if (movedOnly && !movedEnd[a.end] && !movedEnd[b.end]) return;
        // Only thick ink stops short of where it ends. Two thin ends
        // bridge no more than a gap and their half widths, as
        // bridgeable tells first: most pairs met are passed over here.
        const bool thick = 2.0 * std::max(a.radius, b.radius) >= kThickInk;
        const double thinReach = kGapWidth + a.radius + b.radius;
        if (!thick && squared > thinReach * thinReach) return;
        if (bridgeable(a, b) || (thick && bridgeableOverInk(bitmap, a, b))) {
            found.push_back({distance(a.at, b.at), a.end, b.end});
        }
    };
    // Weighed from the lower end; with `movedOnly`, only pairs with an end
    // moved by extendFreeEnds.
    const auto weigh = [&](const FreeEnd& a, const FreeEnd& b, std::vector<Pair>& found) {
        if (a.end < b.end) {
            consider(a, b, found);
        } else {
            consider(b, a, found);
        }
    };
    std::vector<std::vector<Pair>> found = work::weighNearPairs<Pair>(byCell, bitmap.Width(), bitmap.Height(),
                                                                      movedOnly ? &movedEnd : nullptr, weigh);
    // Gathered block by block, each block's memory given back at once.
    std::vector<Pair> pairs;
    std::size_t total = 0;
    for (const std::vector<Pair>& block : found) total += block.size();
    pairs.reserve(total);
    for (std::vector<Pair>& block : found) {
        pairs.insert(pairs.end(), block.begin(), block.end());
        std::vector<Pair>().swap(block);
    }
    // Each half sorted on a core of its own, then the two merged.
    const auto nearer = [](const Pair& p, const Pair& q) {
        return p.gap != q.gap ? p.gap < q.gap : p.a != q.a ? p.a < q.a : p.b < q.b;
    };
    const auto half = pairs.begin() + static_cast<std::ptrdiff_t>(pairs.size() / 2);
    auto firstHalf = std::async(std::launch::async | std::launch::deferred,
                                [&] { std::sort(pairs.begin(), half, nearer); });
    std::sort(half, pairs.end(), nearer);
    firstHalf.get();
    std::inplace_merge(pairs.begin(), half, pairs.end(), nearer);
    for (const Pair& pair : pairs) {
        if (partner[pair.a] != kNone || partner[pair.b] != kNone) continue;
        // The two ends of one polyline close a ring only around a real
        // loop, not across a short hook.
        if (pair.a / 2 == pair.b / 2 && lengths[pair.a / 2] < 4.0 * pair.gap + 4.0) continue;
        partner[pair.a] = pair.b;
        partner[pair.b] = pair.a;
    }
}

}  // namespace join
