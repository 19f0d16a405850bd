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
#include <new>
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
    m_packed.reset();
    m_image = std::move(image);
    Rebuild();
}

void TVemo_viewimage::SetPacked(PackedBitmap bits, QRgb ink, QRgb paper) {
    m_image = QImage();
    m_packed = std::move(bits);
    m_packedTable = {ink, paper};
    Rebuild();
}

void TVemo_viewimage::ToIndexed(const QList<QRgb>& table, int paperIndex) {
    if (!m_packed) return;
    QImage image(m_packed->Width(), m_packed->Height(), QImage::Format_Indexed8);
    if (image.isNull()) throw std::bad_alloc();
    image.setColorTable(table);
    for (int y = 0; y < image.height(); ++y) {
        uchar* out = image.scanLine(y);
        std::memset(out, paperIndex, static_cast<std::size_t>(image.width()));
        if (!m_packed->RowHasInk(y)) continue;
        for (int x = 0; x < image.width(); ++x) {
            if (m_packed->IsInk(x, y)) out[x] = 0;
        }
    }
    SetImage(std::move(image));
}

void TVemo_viewimage::BuildFirstPackedLevel() {
    const PackedBitmap& bits = *m_packed;
    if (std::max(bits.Width(), bits.Height()) <= kSmallestLevelSide) return;
    Level level;
    level.factor = kReduction;
    level.width = (bits.Width() + kReduction - 1) / kReduction;
    level.height = (bits.Height() + kReduction - 1) / kReduction;
    level.pixels.assign(static_cast<std::size_t>(level.width) * level.height, uint8_t{1});  // paper
    std::vector<uint64_t> merged(bits.WordsPerRow());
    constexpr int kPixelsPerWord = 64;
    for (int y = 0; y < level.height; ++y) {
        // The ink of the block's rows together; rows of paper are not read.
        std::fill(merged.begin(), merged.end(), uint64_t{0});
        bool inked = false;
        const int lastRow = std::min(bits.Height(), (y + 1) * kReduction);
        for (int row = y * kReduction; row < lastRow; ++row) {
            if (!bits.RowHasInk(row)) continue;
            inked = true;
            const uint64_t* words = bits.Row(row);
            for (std::size_t w = 0; w < merged.size(); ++w) merged[w] |= words[w];
        }
        if (!inked) continue;
        uint8_t* out = level.pixels.data() + static_cast<std::size_t>(y) * level.width;
        for (std::size_t w = 0; w < merged.size(); ++w) {
            if (merged[w] == 0) continue;
            // A word holds 16 blocks of 4 columns; the spare bits are 0.
            for (int block = 0; block < kPixelsPerWord / kReduction; ++block) {
                const auto x = static_cast<int>(w) * (kPixelsPerWord / kReduction) + block;
                if (x < level.width && ((merged[w] >> (block * kReduction)) & 0xF) != 0) out[x] = 0;
            }
        }
    }
    m_levels.push_back(std::move(level));
}

void TVemo_viewimage::UnpackRanks(int row, int64_t first, int64_t end, uint8_t* into) const {
    if (!m_packed->RowHasInk(row)) {
        std::memset(into, 1, static_cast<std::size_t>(end - first));
        return;
    }
    const uint64_t* words = m_packed->Row(row);
    for (int64_t c = first; c < end; ++c) into[c - first] = ((words[c / 64] >> (c % 64)) & 1) != 0 ? 0 : 1;
}

void TVemo_viewimage::Rebuild() {
    m_levels.clear();
    if (m_packed) {
        // Ink is rank and index 0, paper rank and index 1 of m_packedTable.
        std::iota(m_rank.begin(), m_rank.end(), 0);
        std::iota(m_indexOfRank.begin(), m_indexOfRank.end(), 0);
        m_rankIsIndex = true;
        BuildFirstPackedLevel();
        BuildLevels();
        return;
    }
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

    BuildLevels();
}

void TVemo_viewimage::BuildLevels() {
    // Each level from the one before it, the first from the image.
    int sourceWidth = m_levels.empty() ? m_image.width() : m_levels.back().width;
    int sourceHeight = m_levels.empty() ? m_image.height() : m_levels.back().height;
    int factor = m_levels.empty() ? 1 : m_levels.back().factor;
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
    if (viewport.isNull() || Width() <= 0 || Height() <= 0 || !(zoom > 0.0)) return;
    viewport.setColorTable(m_packed ? m_packedTable : m_image.colorTable());
    if (zoom >= 1.0) {
        RenderEnlarged(viewport, zoom, left, top);
    } else {
        RenderReduced(viewport, zoom, left, top);
    }
}

void TVemo_viewimage::RenderEnlarged(QImage& viewport, double zoom, int left, int top) const {
    const int width = viewport.width();
    const int64_t lastColumn = Width() - 1;
    const int64_t lastRow = Height() - 1;
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
        previousRow = row;
        if (m_packed) {
            if (!m_packed->RowHasInk(row)) {
                std::memset(out, 1, static_cast<std::size_t>(width));
                continue;
            }
            const uint64_t* words = m_packed->Row(row);
            for (int x = 0; x < width; ++x) {
                const int c = columns[static_cast<std::size_t>(x)];
                out[x] = ((words[c / 64] >> (c % 64)) & 1) != 0 ? 0 : 1;
            }
            continue;
        }
        const uchar* in = m_image.constScanLine(row);
        for (int x = 0; x < width; ++x) out[x] = in[columns[static_cast<std::size_t>(x)]];
    }
}

void TVemo_viewimage::RenderReduced(QImage& viewport, double zoom, int left, int top) const {
    // The coarsest copy whose pixels are still no larger than a screen pixel.
    const double imagePerScreen = 1.0 / zoom;
    const Level* level = nullptr;
    for (const Level& candidate : m_levels) {
        if (candidate.factor <= imagePerScreen) level = &candidate;
    }
    const int sourceWidth = level ? level->width : Width();
    const int sourceHeight = level ? level->height : Height();
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
    // The packed image's rows as ranks, one at a time.
    const bool unpack = !level && m_packed;
    std::vector<uint8_t> unpacked(unpack ? columnMin.size() : 0);
    for (int y = 0; y < viewport.height(); ++y) {
        const auto [firstRow, endRow] = span(int64_t{top} + y, sourceHeight);
        std::fill(columnMin.begin(), columnMin.end(), uint8_t{255});
        for (int64_t row = firstRow; row < endRow; ++row) {
            if (unpack) UnpackRanks(static_cast<int>(row), firstColumn, endColumn, unpacked.data());
            const uint8_t* in = unpack ? unpacked.data() : sourceRow(row) + firstColumn;
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
