// Vemo_viewimage: TVemo_viewimage (rules in the header).
//
// The reduced copies hold darkness ranks, not colour indexes, so that
// "darkest" is a plain minimum of bytes; only the image itself needs the
// rank table, and with the base image's table (black first, then white)
// the rank of an index is the index itself and even that lookup goes.
#include "viewer/Vemo_viewimage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <utility>

namespace {

constexpr int kReduction = 4;
// Reduced copies are made until one fits in this many pixels either way;
// the coarsest one then serves any zoom down to the smallest allowed.
constexpr int kSmallestLevelSide = 256;

// The first image pixel (or reduced pixel) that screen pixel `screen`
// covers, at `perScreen` of them per screen pixel.
int64_t FirstCovered(int64_t screen, double perScreen) {
    return static_cast<int64_t>(std::floor(static_cast<double>(screen) * perScreen));
}

// Minimum of the ranks of `count` pixels from `from`, into `into`.
template <bool kLookup>
void MinInto(uint8_t* into, const uint8_t* from, std::size_t count, const std::array<uint8_t, 256>& rank) {
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t value = kLookup ? rank[from[i]] : from[i];
        into[i] = std::min(into[i], value);
    }
}

}  // namespace

void TVemo_viewimage::SetImage(QImage image) {
    m_image = std::move(image);
    Rebuild();
}

void TVemo_viewimage::Rebuild() {
    m_levels.clear();
    if (m_image.isNull()) return;

    // Luminance order of the table; indexes past its end count as black,
    // which is how an indexed image shows them.
    const QList<QRgb> table = m_image.colorTable();
    std::array<int, 256> luminance{};
    for (int i = 0; i < 256; ++i) {
        const QRgb colour = i < table.size() ? table[i] : qRgb(0, 0, 0);
        luminance[i] = 299 * qRed(colour) + 587 * qGreen(colour) + 114 * qBlue(colour);
    }
    std::array<int, 256> order{};
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return luminance[a] < luminance[b]; });
    for (int r = 0; r < 256; ++r) {
        m_rank[order[r]] = static_cast<uint8_t>(r);
        m_indexOfRank[r] = static_cast<uint8_t>(order[r]);
    }
    m_rankIsIndex = true;
    for (int i = 0; i < 256; ++i) m_rankIsIndex = m_rankIsIndex && m_rank[i] == i;

    // Each level from the one before it, the first from the image.
    int sourceWidth = m_image.width();
    int sourceHeight = m_image.height();
    int factor = 1;
    while (std::max(sourceWidth, sourceHeight) > kSmallestLevelSide) {
        Level level;
        level.factor = factor * kReduction;
        level.width = (sourceWidth + kReduction - 1) / kReduction;
        level.height = (sourceHeight + kReduction - 1) / kReduction;
        level.pixels.resize(static_cast<std::size_t>(level.width) * level.height);
        const Level* previous = m_levels.empty() ? nullptr : &m_levels.back();
        std::vector<uint8_t> rowMin(static_cast<std::size_t>(sourceWidth));
        for (int y = 0; y < level.height; ++y) {
            std::fill(rowMin.begin(), rowMin.end(), uint8_t{255});
            const int lastRow = std::min(sourceHeight, (y + 1) * kReduction);
            for (int row = y * kReduction; row < lastRow; ++row) {
                if (previous) {
                    MinInto<false>(rowMin.data(), previous->pixels.data() + static_cast<std::size_t>(row) * sourceWidth,
                                   rowMin.size(), m_rank);
                } else if (m_rankIsIndex) {
                    MinInto<false>(rowMin.data(), m_image.constScanLine(row), rowMin.size(), m_rank);
                } else {
                    MinInto<true>(rowMin.data(), m_image.constScanLine(row), rowMin.size(), m_rank);
                }
            }
            uint8_t* out = level.pixels.data() + static_cast<std::size_t>(y) * level.width;
            for (int x = 0; x < level.width; ++x) {
                const int first = x * kReduction;
                const int last = std::min(sourceWidth, first + kReduction);
                out[x] = *std::min_element(rowMin.begin() + first, rowMin.begin() + last);
            }
        }
        sourceWidth = level.width;
        sourceHeight = level.height;
        factor = level.factor;
        m_levels.push_back(std::move(level));
    }
}

void TVemo_viewimage::Render(QImage& viewport, double zoom, int left, int top) const {
    if (viewport.isNull() || m_image.isNull() || !(zoom > 0.0)) return;
    viewport.setColorTable(m_image.colorTable());
    if (zoom >= 1.0) {
        RenderEnlarged(viewport, zoom, left, top);
    } else {
        RenderReduced(viewport, zoom, left, top);
    }
}

void TVemo_viewimage::RenderEnlarged(QImage& viewport, double zoom, int left, int top) const {
    const int width = viewport.width();
    const int64_t lastColumn = m_image.width() - 1;
    const int64_t lastRow = m_image.height() - 1;
    // Image column under the centre of each screen column.
    std::vector<int> columns(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
        const auto column = static_cast<int64_t>(std::floor((int64_t{left} + x + 0.5) / zoom));
        columns[static_cast<std::size_t>(x)] = static_cast<int>(std::clamp<int64_t>(column, 0, lastColumn));
    }
    int previousRow = -1;
    for (int y = 0; y < viewport.height(); ++y) {
        const auto row = static_cast<int>(
            std::clamp<int64_t>(static_cast<int64_t>(std::floor((int64_t{top} + y + 0.5) / zoom)), 0, lastRow));
        uchar* out = viewport.scanLine(y);
        if (row == previousRow) {
            std::memcpy(out, viewport.constScanLine(y - 1), static_cast<std::size_t>(width));
            continue;
        }
        const uchar* in = m_image.constScanLine(row);
        for (int x = 0; x < width; ++x) out[x] = in[columns[static_cast<std::size_t>(x)]];
        previousRow = row;
    }
}

void TVemo_viewimage::RenderReduced(QImage& viewport, double zoom, int left, int top) const {
    // The coarsest copy whose pixels are still no larger than a screen pixel.
    const double imagePerScreen = 1.0 / zoom;
    const Level* level = nullptr;
    for (const Level& candidate : m_levels) {
        if (candidate.factor <= imagePerScreen) level = &candidate;
    }
    const int sourceWidth = level ? level->width : m_image.width();
    const int sourceHeight = level ? level->height : m_image.height();
    const double perScreen = imagePerScreen / (level ? level->factor : 1);
    const bool lookup = !level && !m_rankIsIndex;
    const auto sourceRow = [&](int64_t y) -> const uint8_t* {
        return level ? level->pixels.data() + y * sourceWidth : m_image.constScanLine(static_cast<int>(y));
    };

    // The source columns [first, end) each screen column covers, at least
    // one, within the source.
    const int width = viewport.width();
    const auto span = [&](int64_t screen, int64_t size) {
        int64_t first = std::clamp<int64_t>(FirstCovered(screen, perScreen), 0, size - 1);
        int64_t end = std::clamp<int64_t>(FirstCovered(screen + 1, perScreen), first + 1, size);
        return std::pair<int64_t, int64_t>(first, end);
    };
    std::vector<std::pair<int64_t, int64_t>> columns(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) columns[static_cast<std::size_t>(x)] = span(int64_t{left} + x, sourceWidth);
    const int64_t firstColumn = columns.front().first;
    const int64_t endColumn = columns.back().second;

    std::vector<uint8_t> columnMin(static_cast<std::size_t>(endColumn - firstColumn));
    for (int y = 0; y < viewport.height(); ++y) {
        const auto [firstRow, endRow] = span(int64_t{top} + y, sourceHeight);
        std::fill(columnMin.begin(), columnMin.end(), uint8_t{255});
        for (int64_t row = firstRow; row < endRow; ++row) {
            const uint8_t* in = sourceRow(row) + firstColumn;
            if (lookup) {
                MinInto<true>(columnMin.data(), in, columnMin.size(), m_rank);
            } else {
                MinInto<false>(columnMin.data(), in, columnMin.size(), m_rank);
            }
        }
        uchar* out = viewport.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const auto [first, end] = columns[static_cast<std::size_t>(x)];
            uint8_t darkest = 255;
            for (int64_t c = first; c < end; ++c) darkest = std::min(darkest, columnMin[c - firstColumn]);
            out[x] = m_indexOfRank[darkest];
        }
    }
}
