// Vemotrace_joinink: the diagonal runs and dots (see the header).
#include "trace/join/Vemotrace_joinink.h"

#include <bit>
#include <numeric>

#include "trace/join/Vemotrace_joinwork.h"

namespace join::ink {

// A dot of dirt has at most this many pixels.
constexpr std::size_t kDotPixels = 4;
// A pinhole has at most this many pixels (a dot of dust at 600 dpi), and
// the ink round it is at least kPinholeRim pixels deep, measured as a
// disc: on a slanted stroke's stepped edge the paper at two pixels along
// both axes lies 2.8 pixels off, and the squares would ring the hole.
constexpr std::size_t kPinholePixels = 8;
constexpr int32_t kPinholeRim = 2;

// The diagonal runs of one-pixel strokes that the trace leaves out: a
// pixel whose four side neighbours are all paper forms a group of its own
// that touches others only at corners, and such groups are never linked,
// so a stroke near 45 degrees loses those pixels. Each chain of such pixels,
// touching corner to corner, becomes a polyline through the pixel centres
// (a lone pixel is no line); the gap rules then join it to the traced
// pieces it continues.
Polylines diagonalRuns(const PackedBitmap& bitmap) {
    Polylines lines;
    // Pixel numbers (y x width + x) in row order. Found 64 pixels at a time: ink with no ink beside, above or below it,
    // but some at a corner.
    std::vector<int64_t> pixels;
    const std::size_t words = bitmap.WordsPerRow();
    // Rows without ink (and those beyond the image) read as this one.
    const std::vector<uint64_t> paper(words, 0);
    const auto rowAt = [&](int32_t y) {
        return y >= 0 && y < bitmap.Height() && bitmap.RowHasInk(y) ? bitmap.Row(y) : paper.data();
    };
    // Each pixel's neighbour to the left (right) moved onto the pixel's bit.
    const auto left = [&](const uint64_t* row, std::size_t i) {
        return (row[i] << 1) | (i > 0 ? row[i - 1] >> 63 : 0);
    };
    const auto right = [&](const uint64_t* row, std::size_t i) {
        return (row[i] >> 1) | (i + 1 < words ? row[i + 1] << 63 : 0);
    };
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        if (!bitmap.RowHasInk(y)) continue;
        const uint64_t* above = rowAt(y - 1);
        const uint64_t* row = bitmap.Row(y);
        const uint64_t* below = rowAt(y + 1);
        for (std::size_t i = 0; i < words; ++i) {
            const uint64_t here = row[i];
            if (here == 0) continue;
            const uint64_t sides = left(row, i) | right(row, i) | above[i] | below[i];
            const uint64_t corners = left(above, i) | right(above, i) | left(below, i) | right(below, i);
            for (uint64_t found = here & ~sides & corners; found != 0; found &= found - 1) {
                pixels.push_back(int64_t{y} * bitmap.Width() + static_cast<int64_t>(i) * 64 + std::countr_zero(found));
            }
        }
    }
    // Where dither or a fine hatching crowds them, they are no strokes.
    work::dropCrowdedPixels(pixels, bitmap.Width(), bitmap.Height());
    // Each row's pixels begin at rowStart[y].
    const int64_t width = bitmap.Width();
    const int32_t height = bitmap.Height();
    std::vector<std::size_t> rowStart(static_cast<std::size_t>(height) + 1, 0);
    for (const int64_t p : pixels) ++rowStart[static_cast<std::size_t>(p / width) + 1];
    std::partial_sum(rowStart.begin(), rowStart.end(), rowStart.begin());
    // What a walk needs of a pixel, in one place: a run leads from row to
    // row, far apart in `pixels`.
    struct RunPixel {
        int32_t x, y;
        // In the rows above and below (side 0, 1): how far from this pixel
        // (in places of `run`) the first pixel at or right of x - 1 lies.
        uint32_t away[2];
        uint8_t corners;  // bits 0 to 3: ink at up left, up right, down left, down right
        uint8_t used;
    };
    // Found for every pixel in one pass: along a row the pixels rise, and
    // so do their neighbours' places in the rows above and below. The pixel
    // straight above or below is paper, so a row's right corner follows its
    // left one. Both lie within two rows' widths.
    std::vector<RunPixel> run(pixels.size());
    for (int32_t y = 0; y < height; ++y) {
        std::size_t cursor[2] = {y > 0 ? rowStart[y - 1] : 0, rowStart[y + 1]};
        for (std::size_t i = rowStart[y]; i < rowStart[y + 1]; ++i) {
            const int64_t x = pixels[i] % width;
            RunPixel& pixel = run[i];
            pixel = {static_cast<int32_t>(x), y, {0, 0}, 0, 0};
            for (int side = 0; side < 2; ++side) {
                const int32_t row = y + (side == 0 ? -1 : 1);
                if (row < 0 || row >= height) continue;
                const std::size_t last = rowStart[row + 1];
                const int64_t left = row * width + x - 1;
                std::size_t& at = cursor[side];
                while (at < last && pixels[at] < left) ++at;
                pixel.away[side] = static_cast<uint32_t>(side == 0 ? i - at : at - i);
                std::size_t k = at;
                if (x > 0 && k < last && pixels[k] == left) pixel.corners |= uint8_t{1} << (2 * side), ++k;
                if (x + 1 < width && k < last && pixels[k] == left + 2) pixel.corners |= uint8_t{2} << (2 * side);
            }
        }
    }
    std::vector<int64_t>().swap(pixels);
    const auto neighbours = [&](std::size_t i, std::size_t(&found)[4]) {
        int count = 0;
        for (int side = 0; side < 2; ++side) {
            const unsigned bits = run[i].corners >> (2 * side);
            const std::size_t at = side == 0 ? i - run[i].away[0] : i + run[i].away[1];
            if (bits & 1) found[count++] = at;
            if (bits & 2) found[count++] = at + (bits & 1);
        }
        return count;
    };
    // Walks from pixel i through pixels with exactly two such neighbours.
    const auto walkFrom = [&](std::size_t i) {
        std::size_t count = 0, found[4];
        for (bool more = true; more && !run[i].used;) {
            run[i].used = 1;
            lines.points.push_back({run[i].x + 0.5, run[i].y + 0.5});
            ++count;
            const int n = neighbours(i, found);
            more = false;
            for (int k = 0; k < n; ++k) {
                if (!run[found[k]].used) i = found[k], more = true;
            }
            if (count > 1 && n != 2) more = false;  // a branch or an end
        }
        if (count >= 2) {
            lines.begin.push_back(lines.points.size());
        } else {
            lines.points.resize(lines.points.size() - count);
        }
    };
    for (std::size_t i = 0; i < run.size(); ++i) {
        if (!run[i].used && std::popcount(run[i].corners) != 2) walkFrom(i);
    }
    for (std::size_t i = 0; i < run.size(); ++i) {
        if (!run[i].used) walkFrom(i);  // rings
    }
    return lines;
}

// True when the ink under p is a lone dot of at most kDotPixels pixels
// (touching at sides or corners), not a piece of a stroke the trace lost.
bool isDot(const PackedBitmap& bitmap, const Point& p) {
    const auto isInk = [&](int64_t x, int64_t y) {
        return x >= 0 && y >= 0 && x < bitmap.Width() && y < bitmap.Height() &&
               bitmap.IsInk(static_cast<int32_t>(x), static_cast<int32_t>(y));
    };
    std::vector<std::pair<int64_t, int64_t>> found{{pixelOf(p.x), pixelOf(p.y)}};
    if (!isInk(found[0].first, found[0].second)) return true;
    for (std::size_t k = 0; k < found.size(); ++k) {
        for (int64_t dy = -1; dy <= 1; ++dy) {
            for (int64_t dx = -1; dx <= 1; ++dx) {
                const std::pair<int64_t, int64_t> q{found[k].first + dx, found[k].second + dy};
                if (!isInk(q.first, q.second) || std::find(found.begin(), found.end(), q) != found.end()) continue;
                if (found.size() == kDotPixels) return false;
                found.push_back(q);
            }
        }
    }
    return true;
}

bool enclosesPaper(const PackedBitmap& bitmap, std::span<const Point> ring) {
    if (ring.size() < 3) return false;
    double left = ring[0].x, right = left, top = ring[0].y, bottom = top;
    for (const Point& p : ring) {
        left = std::min(left, p.x), right = std::max(right, p.x);
        top = std::min(top, p.y), bottom = std::max(bottom, p.y);
    }
    // Off the image nothing is drawn: the box is cut to it, which also
    // bounds the work for a damaged file's far points.
    const int32_t x0 = std::max(pixelOf(left), 0), x1 = std::min(pixelOf(right), bitmap.Width() - 1);
    const int32_t y0 = std::max(pixelOf(top), 0), y1 = std::min(pixelOf(bottom), bitmap.Height() - 1);
    for (int32_t y = y0; y <= y1; ++y) {
        for (int32_t x = x0; x <= x1; ++x) {
            const Point c{x + 0.5, y + 0.5};
            if (isInkAt(bitmap, c)) continue;
            bool inside = false;
            for (std::size_t k = 0, j = ring.size() - 1; k < ring.size(); j = k++) {
                const Point& a = ring[k];
                const Point& b = ring[j];
                if ((a.y > c.y) != (b.y > c.y) && c.x < a.x + (b.x - a.x) * (c.y - a.y) / (b.y - a.y)) inside = !inside;
            }
            if (inside) return true;
        }
    }
    return false;
}

// A dot of dust 0.2 mm across at 600 dpi covers about 20 pixels; a dot of
// 0.25 mm or more (a full stop drawn with the finest pen) is kept.
constexpr std::size_t kDustPixels = 24;
// The ratio of a dot's longest axis to its shortest (their second moments'
// roots): a round dot with bumps on its edge measures up to about 1.4; a
// drawn dash of a pen's width is at least twice as long as wide.
constexpr double kDustElongation = 1.6;

bool isDust(const PackedBitmap& bitmap, std::span<const Point> chain) {
    if (chain.empty()) return false;
    // Dots that the gap rules strung together.
    if (std::all_of(chain.begin(), chain.end(), [&](const Point& p) { return isDot(bitmap, p); })) return true;
    const Point& p = chain[chain.size() / 2];
    const auto isInk = [&](int32_t x, int32_t y) {
        return x >= 0 && y >= 0 && x < bitmap.Width() && y < bitmap.Height() && bitmap.IsInk(x, y);
    };
    const int32_t x0 = pixelOf(p.x), y0 = pixelOf(p.y);
    if (!isInk(x0, y0)) return false;
    // The pixels found, and a mark for each in a window round the first
    // that a piece of kDustPixels pixels cannot leave.
    constexpr auto kSide = static_cast<int32_t>(kDustPixels);
    std::pair<int32_t, int32_t> found[kDustPixels];
    uint64_t seen[2 * kDustPixels + 1] = {};
    static_assert(2 * kDustPixels + 1 <= 64, "a window row is one word");
    std::size_t count = 0;
    const auto see = [&](int32_t x, int32_t y) {
        seen[y - y0 + kSide] |= uint64_t{1} << (x - x0 + kSide);
        found[count++] = {x, y};
    };
    see(x0, y0);
    for (std::size_t k = 0; k < count; ++k) {
        for (int32_t dy = -1; dy <= 1; ++dy) {
            for (int32_t dx = -1; dx <= 1; ++dx) {
                const int32_t x = found[k].first + dx, y = found[k].second + dy;
                if ((seen[y - y0 + kSide] >> (x - x0 + kSide)) & 1 || !isInk(x, y)) continue;
                if (count == kDustPixels) return false;
                see(x, y);
            }
        }
    }
    // The second moments of the pixels about their mean: their
    // eigenvalues are the squared spreads along the dot's axes.
    double mx = 0.0, my = 0.0;
    for (std::size_t k = 0; k < count; ++k) mx += found[k].first, my += found[k].second;
    mx /= static_cast<double>(count);
    my /= static_cast<double>(count);
    // A pixel is a square, not a point: it spreads 1/12 along each axis.
    double xx = 1.0 / 12, xy = 0.0, yy = 1.0 / 12;
    for (std::size_t k = 0; k < count; ++k) {
        const double dx = found[k].first - mx, dy = found[k].second - my;
        xx += dx * dx / static_cast<double>(count);
        xy += dx * dy / static_cast<double>(count);
        yy += dy * dy / static_cast<double>(count);
    }
    const double half = (xx + yy) / 2, root = std::sqrt(std::max(0.0, half * half - (xx * yy - xy * xy)));
    const double longest = half + root, shortest = half - root;
    return longest <= kDustElongation * kDustElongation * shortest;
}

int32_t fillPinholes(PackedBitmap& bitmap) {
    const int32_t width = bitmap.Width(), height = bitmap.Height();
    const auto isInk = [&](int32_t x, int32_t y) {
        return x >= 0 && y >= 0 && x < width && y < height && bitmap.IsInk(x, y);
    };
    int32_t filled = 0;
    std::vector<std::pair<int32_t, int32_t>> hole;
    const auto fillFrom = [&](int32_t x0, int32_t y0) {
        // The paper that touches (x0, y0), up to one pixel more than a
        // pinhole holds; the image's edge is no ink.
        hole.assign(1, {x0, y0});
        for (std::size_t k = 0; k < hole.size(); ++k) {
            for (int32_t dy = -1; dy <= 1; ++dy) {
                for (int32_t dx = -1; dx <= 1; ++dx) {
                    const int32_t x = hole[k].first + dx, y = hole[k].second + dy;
                    if (x < 0 || y < 0 || x >= width || y >= height) return;
                    if (isInk(x, y) || std::find(hole.begin(), hole.end(), std::pair{x, y}) != hole.end()) continue;
                    if (hole.size() == kPinholePixels) return;
                    hole.push_back({x, y});
                }
            }
        }
        for (const auto& [hx, hy] : hole) {
            for (int32_t dy = -kPinholeRim; dy <= kPinholeRim; ++dy) {
                for (int32_t dx = -kPinholeRim; dx <= kPinholeRim; ++dx) {
                    if (dx * dx + dy * dy > kPinholeRim * kPinholeRim) continue;
                    const std::pair<int32_t, int32_t> q{hx + dx, hy + dy};
                    if (!isInk(q.first, q.second) && std::find(hole.begin(), hole.end(), q) == hole.end()) return;
                }
            }
        }
        for (const auto& [hx, hy] : hole) bitmap.Row(hy)[hx / 64] |= uint64_t{1} << (hx % 64);
        ++filled;
    };
    // A hole's first pixel in row order has ink to its left, above it and
    // at both upper corners: such paper is looked for 64 pixels at a time.
    const std::size_t words = bitmap.WordsPerRow();
    const auto lastMask = [&](std::size_t i) {
        const int32_t bits = width - static_cast<int32_t>(i) * 64;
        return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
    };
    for (int32_t y = 1; y + 1 < height; ++y) {
        if (!bitmap.RowHasInk(y) || !bitmap.RowHasInk(y - 1)) continue;
        for (std::size_t i = 0; i < words; ++i) {
            const uint64_t* above = bitmap.Row(y - 1);
            const uint64_t* row = bitmap.Row(y);
            const uint64_t paper = ~row[i] & lastMask(i);
            if (paper == 0) continue;
            const uint64_t left = (row[i] << 1) | (i > 0 ? row[i - 1] >> 63 : 0);
            const uint64_t upLeft = (above[i] << 1) | (i > 0 ? above[i - 1] >> 63 : 0);
            const uint64_t upRight = (above[i] >> 1) | (i + 1 < words ? above[i + 1] << 63 : 0);
            for (uint64_t found = paper & left & above[i] & upLeft & upRight; found != 0; found &= found - 1) {
                const int32_t x = static_cast<int32_t>(i) * 64 + std::countr_zero(found);
                if (!bitmap.IsInk(x, y)) fillFrom(x, y);
            }
        }
    }
    return filled;
}
}  // namespace join::ink
