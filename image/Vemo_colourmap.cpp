// Vemo_colourmap: nearest base colour through lookup tables (see the header).
#include "image/Vemo_colourmap.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Large enough that the few colours of a scan never evict each other, small
// enough (320 KB) to stay in cache.
constexpr std::size_t kCacheBits = 16;
constexpr std::size_t kCacheSize = std::size_t{1} << kCacheBits;

QRgb OverWhite(QRgb colour) {
    const int alpha = qAlpha(colour);
    if (alpha == 255) return colour;
    const auto blend = [alpha](int value) { return (value * alpha + 255 * (255 - alpha) + 127) / 255; };
    return qRgb(blend(qRed(colour)), blend(qGreen(colour)), blend(qBlue(colour)));
}

QRgb ColourAt(const QList<QRgb>& colours, int index) {
    // An index past the table shows black, as the decoder pads tables.
    return index < colours.size() ? colours[index] : qRgb(0, 0, 0);
}

}  // namespace

TVemo_colourmap::TVemo_colourmap(const QList<QRgb>& baseColours) {
    for (qsizetype i = 0; i < baseColours.size() && i < 256; ++i) {
        const QRgb c = baseColours[i];
        bool seen = false;
        for (const BaseColour& d : m_distinct) seen = seen || (d.red == qRed(c) && d.green == qGreen(c) && d.blue == qBlue(c));
        if (!seen) m_distinct.push_back({qRed(c), qGreen(c), qBlue(c), static_cast<uint8_t>(i)});
    }
}

uint8_t TVemo_colourmap::Nearest(QRgb colour) const { return NearestOpaque(OverWhite(colour)); }

uint8_t TVemo_colourmap::NearestOpaque(QRgb colour) const {
    uint8_t best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (const BaseColour& d : m_distinct) {
        const int distance =
            std::abs(qRed(colour) - d.red) + std::abs(qGreen(colour) - d.green) + std::abs(qBlue(colour) - d.blue);
        if (distance < bestDistance) {  // strict: the lower index keeps a tie
            bestDistance = distance;
            best = d.index;
        }
    }
    return best;
}

uint8_t TVemo_colourmap::Cached(QRgb colour) {
    const uint32_t rgb = colour & 0x00FFFFFFu;
    const std::size_t slot = static_cast<uint32_t>(rgb * 2654435761u) >> (32 - kCacheBits);
    if (m_cacheKeys[slot] == rgb + 1) return m_cacheValues[slot];
    const uint8_t index = NearestOpaque(colour);
    m_cacheKeys[slot] = rgb + 1;
    m_cacheValues[slot] = index;
    return index;
}

void TVemo_colourmap::PrepareFor(QImage::Format format, const QList<QRgb>& colours) {
    m_format = format;
    switch (format) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: {
        const uint8_t zero = Nearest(ColourAt(colours, 0));
        const uint8_t one = Nearest(ColourAt(colours, 1));
        for (int byte = 0; byte < 256; ++byte) {
            uint8_t eight[8];
            for (int k = 0; k < 8; ++k) {
                const int bit = format == QImage::Format_Mono ? (byte >> (7 - k)) & 1 : (byte >> k) & 1;
                eight[k] = bit ? one : zero;
            }
            std::memcpy(&m_eightPixels[static_cast<std::size_t>(byte)], eight, 8);
        }
        break;
    }
    case QImage::Format_Indexed8:
        for (int i = 0; i < 256; ++i) m_byteTable[static_cast<std::size_t>(i)] = Nearest(ColourAt(colours, i));
        break;
    case QImage::Format_Grayscale8:
        for (int i = 0; i < 256; ++i) m_byteTable[static_cast<std::size_t>(i)] = Nearest(qRgb(i, i, i));
        break;
    default:
        m_cacheKeys.assign(kCacheSize, 0);
        m_cacheValues.assign(kCacheSize, 0);
        break;
    }
}

void TVemo_colourmap::MapRow(const uchar* source, uchar* target, int width) {
    const std::size_t count = static_cast<std::size_t>(width);
    switch (m_format) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: {
        const std::size_t whole = count / 8;
        for (std::size_t i = 0; i < whole; ++i) std::memcpy(target + 8 * i, &m_eightPixels[source[i]], 8);
        if (count % 8 != 0) std::memcpy(target + 8 * whole, &m_eightPixels[source[whole]], count % 8);
        return;
    }
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
        for (std::size_t x = 0; x < count; ++x) target[x] = m_byteTable[source[x]];
        return;
    default: {
        const QRgb* pixels = reinterpret_cast<const QRgb*>(source);
        const bool alpha = m_format == QImage::Format_ARGB32;
        // Runs of one colour are the rule in a scan: skip the cache for them.
        QRgb last = 0;
        uint8_t lastIndex = 0;
        bool haveLast = false;
        for (std::size_t x = 0; x < count; ++x) {
            const QRgb colour = alpha ? OverWhite(pixels[x]) : (pixels[x] | 0xFF000000u);
            if (!haveLast || colour != last) {
                last = colour;
                lastIndex = Cached(colour);
                haveLast = true;
            }
            target[x] = lastIndex;
        }
        return;
    }
    }
}

void TVemo_colourmap::MapImage(const QImage& source, QImage& working) {
    QImage converted;
    const QImage* rows = &source;
    switch (source.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        break;
    default:
        converted = source.convertToFormat(QImage::Format_ARGB32);
        rows = &converted;
        break;
    }
    PrepareFor(rows->format(), rows->colorTable());
    uchar* bits = working.bits();
    const qsizetype stride = working.bytesPerLine();
    for (int y = 0; y < rows->height(); ++y) MapRow(rows->constScanLine(y), bits + y * stride, rows->width());
}
