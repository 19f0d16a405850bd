// Vemo_colourmap: nearest base colour through lookup tables (see the header).
#include "image/Vemo_colourmap.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Large enough that the few colours of a scan never evict each other, small
// enough (320 KB) to stay in cache.
constexpr std::size_t kCacheBits = 16;
constexpr std::size_t kCacheSize = std::size_t{1} << kCacheBits;

Rgb OverWhite(Rgb colour) {
    const int alpha = AlphaOf(colour);
    if (alpha == 255) return colour;
    const auto blend = [alpha](int value) { return (value * alpha + 255 * (255 - alpha) + 127) / 255; };
    return MakeRgb(blend(RedOf(colour)), blend(GreenOf(colour)), blend(BlueOf(colour)));
}

Rgb ColourAt(const std::vector<Rgb>& colours, int index) {
    // An index past the table shows black, as the decoder pads tables.
    return static_cast<std::size_t>(index) < colours.size() ? colours[static_cast<std::size_t>(index)]
                                                            : MakeRgb(0, 0, 0);
}

// A 1-bit row holds its first pixel in the top bit of each byte; the ink
// words want it in the lowest. Reverses the bits of each of the 8 bytes.
uint64_t ReverseBitsOfEachByte(uint64_t v) {
    v = ((v >> 1) & 0x5555555555555555ULL) | ((v & 0x5555555555555555ULL) << 1);
    v = ((v >> 2) & 0x3333333333333333ULL) | ((v & 0x3333333333333333ULL) << 2);
    v = ((v >> 4) & 0x0F0F0F0F0F0F0F0FULL) | ((v & 0x0F0F0F0F0F0F0F0FULL) << 4);
    return v;
}

// The 8 bytes at `bytes` as a word whose lowest byte is the first.
uint64_t LoadLittle(const uint8_t* bytes) {
    uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // One load: the byte loop below is not merged into one by g++ -O2.
        std::memcpy(&v, bytes, sizeof v);
    } else {
        for (int i = 7; i >= 0; --i) v = (v << 8) | bytes[i];
    }
    return v;
}

}  // namespace

TVemo_colourmap::TVemo_colourmap(const std::vector<Rgb>& baseColours) {
    for (std::size_t i = 0; i < baseColours.size() && i < 256; ++i) {
        const Rgb c = baseColours[i];
        bool seen = false;
        for (const BaseColour& d : m_distinct) {
            seen = seen || (d.red == RedOf(c) && d.green == GreenOf(c) && d.blue == BlueOf(c));
        }
        if (!seen) m_distinct.push_back({RedOf(c), GreenOf(c), BlueOf(c), static_cast<uint8_t>(i)});
    }
}

uint8_t TVemo_colourmap::Nearest(Rgb colour) const { return NearestOpaque(OverWhite(colour)); }

uint8_t TVemo_colourmap::NearestOpaque(Rgb colour) const {
    uint8_t best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (const BaseColour& d : m_distinct) {
        const int distance =
            std::abs(RedOf(colour) - d.red) + std::abs(GreenOf(colour) - d.green) + std::abs(BlueOf(colour) - d.blue);
        if (distance < bestDistance) {  // strict: the lower index keeps a tie
            bestDistance = distance;
            best = d.index;
        }
    }
    return best;
}

uint8_t TVemo_colourmap::Cached(Rgb colour) {
    const uint32_t rgb = colour & 0x00FFFFFFu;
    const std::size_t slot = static_cast<uint32_t>(rgb * 2654435761u) >> (32 - kCacheBits);
    if (m_cacheKeys[slot] == rgb + 1) return m_cacheValues[slot];
    const uint8_t index = NearestOpaque(colour);
    m_cacheKeys[slot] = rgb + 1;
    m_cacheValues[slot] = index;
    return index;
}

void TVemo_colourmap::PrepareFor(DibRowFormat format, const std::vector<Rgb>& colours) {
    m_format = format;
    switch (format) {
    case DibRowFormat::Mono: {
        const uint8_t zero = Nearest(ColourAt(colours, 0));
        const uint8_t one = Nearest(ColourAt(colours, 1));
        m_zeroIsInk = zero == 0;
        m_oneIsInk = one == 0;
        for (int byte = 0; byte < 256; ++byte) {
            uint8_t eight[8];
            for (int k = 0; k < 8; ++k) eight[k] = (byte >> (7 - k)) & 1 ? one : zero;
            std::memcpy(&m_eightPixels[static_cast<std::size_t>(byte)], eight, 8);
        }
        break;
    }
    case DibRowFormat::Indexed8:
        for (int i = 0; i < 256; ++i) m_byteTable[static_cast<std::size_t>(i)] = Nearest(ColourAt(colours, i));
        break;
    default:
        m_cacheKeys.assign(kCacheSize, 0);
        m_cacheValues.assign(kCacheSize, 0);
        break;
    }
}

void TVemo_colourmap::MapRow(const uint8_t* source, uint8_t* target, int width) {
    const std::size_t count = static_cast<std::size_t>(width);
    switch (m_format) {
    case DibRowFormat::Mono: {
        const std::size_t whole = count / 8;
        for (std::size_t i = 0; i < whole; ++i) std::memcpy(target + 8 * i, &m_eightPixels[source[i]], 8);
        if (count % 8 != 0) std::memcpy(target + 8 * whole, &m_eightPixels[source[whole]], count % 8);
        return;
    }
    case DibRowFormat::Indexed8:
        for (std::size_t x = 0; x < count; ++x) target[x] = m_byteTable[source[x]];
        return;
    default: {
        const Rgb* pixels = reinterpret_cast<const Rgb*>(source);
        const bool alpha = m_format == DibRowFormat::Argb32;
        // Runs of one colour are the rule in a scan: skip the cache for them.
        Rgb last = 0;
        uint8_t lastIndex = 0;
        bool haveLast = false;
        for (std::size_t x = 0; x < count; ++x) {
            const Rgb colour = alpha ? OverWhite(pixels[x]) : (pixels[x] | 0xFF000000u);
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

bool TVemo_colourmap::MapRowToInk(const uint8_t* source, uint64_t* target, int width) {
    const std::size_t count = static_cast<std::size_t>(width);
    const std::size_t words = (count + 63) / 64;
    if (m_format != DibRowFormat::Mono) {
        // Through the byte mapping, a word's worth of pixels at a time.
        uint8_t indexes[64];
        uint64_t any = 0;
        for (std::size_t w = 0; w < words; ++w) {
            const std::size_t first = 64 * w;
            const std::size_t n = std::min<std::size_t>(64, count - first);
            MapRow(m_format == DibRowFormat::Indexed8 ? source + first : source + first * sizeof(Rgb), indexes,
                   static_cast<int>(n));
            uint64_t bits = 0;
            for (std::size_t i = 0; i < n; ++i) bits |= uint64_t{indexes[i] == 0} << i;
            target[w] = bits;
            any |= bits;
        }
        return any != 0;
    }
    // A 1-bit row: each word is 8 source bytes, taken as they are, inverted,
    // or replaced, by which colour is ink, then with the bits of each byte
    // reversed (the order does not matter: both act on every bit alike).
    // Most rows of a drawing are paper, so a first pass only looks for ink
    // in the file's bits; a row without any is cleared, not reversed.
    const std::size_t bytes = (count + 7) / 8;
    const std::size_t full = count / 64;  // words whose 64 pixels all lie in the row
    const uint64_t oneMask = m_oneIsInk ? ~uint64_t{0} : 0;
    const uint64_t zeroMask = m_zeroIsInk ? ~uint64_t{0} : 0;
    const auto inkInFileOrder = [oneMask, zeroMask](uint64_t v) { return (v & oneMask) | (~v & zeroMask); };
    uint64_t any = 0;
    if (full < words) {
        uint8_t tail[8] = {};
        std::memcpy(tail, source + 8 * full, bytes - 8 * full);
        target[full] = ReverseBitsOfEachByte(inkInFileOrder(LoadLittle(tail))) & ((uint64_t{1} << (count % 64)) - 1);
        any = target[full];
    }
    for (std::size_t w = 0; w < full; ++w) any |= inkInFileOrder(LoadLittle(source + 8 * w));
    if (any == 0) {
        std::fill_n(target, full, uint64_t{0});
        return false;
    }
    for (std::size_t w = 0; w < full; ++w) target[w] = ReverseBitsOfEachByte(inkInFileOrder(LoadLittle(source + 8 * w)));
    return true;
}
