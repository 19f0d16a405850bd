// Vemo_dib: BMP files and packed DIBs into rows (see the header).
#include "image/Vemo_dib.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "common/Vemo_texts.h"
#include "image/Vemo_spi.h"

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeader = 12;      // OS/2 1.x, BITMAPCOREHEADER
constexpr uint32_t kOs2ShortHeader = 16;  // OS/2 2.x, fields up to the bit count
constexpr uint32_t kInfoHeader = 40;      // BITMAPINFOHEADER
constexpr uint32_t kV2Header = 52;        // + red, green and blue masks
constexpr uint32_t kV3Header = 56;        // + alpha mask
constexpr uint32_t kOs2Header = 64;       // OS/2 2.x, full
constexpr uint32_t kV4Header = 108;
constexpr uint32_t kV5Header = 124;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Get32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Needed bytes of uncompressed rows: the last row's padding may be missing,
// its pixels may not.
uint64_t UncompressedBytes(uint64_t width, uint64_t height, uint64_t bitCount) {
    return DibRowBytes(width, bitCount) * (height - 1) + (width * bitCount + 7) / 8;
}

bool IsContiguous(uint32_t mask) {
    if (mask == 0) return true;
    const uint32_t shifted = mask >> std::countr_zero(mask);
    return (shifted & (shifted + 1)) == 0;
}

// One colour component of a bit-field pixel, scaled to 0..255.
class Channel {
public:
    explicit Channel(uint32_t mask)
        : m_mask(mask), m_shift(mask != 0 ? std::countr_zero(mask) : 0),
          m_max(mask != 0 ? uint64_t{mask >> m_shift} : 0) {}
    uint32_t Of(uint32_t pixel) const {
        if (m_max == 0) return 0;
        const uint64_t value = (pixel & m_mask) >> m_shift;
        return m_max == 255 ? static_cast<uint32_t>(value) : static_cast<uint32_t>((value * 255 + m_max / 2) / m_max);
    }

private:
    uint32_t m_mask;
    int m_shift;
    uint64_t m_max;
};

}  // namespace

TVemo_dib TVemo_dib::FromBmpFile(std::span<const uint8_t> file) {
    TVemo_dib dib;
    if (file.size() < 2 || file[0] != 'B' || file[1] != 'M') {
        dib.m_error = DibError::NotBmp;
        return dib;
    }
    if (file.size() < kFileHeaderSize) {
        dib.m_error = DibError::Truncated;
        return dib;
    }
    const uint32_t pixelOffset = Get32(&file[10]);
    const std::size_t tableLimit = pixelOffset >= kFileHeaderSize ? pixelOffset - kFileHeaderSize : 0;
    const std::size_t tableEnd = dib.ParseInfo(file.subspan(kFileHeaderSize), tableLimit);
    if (dib.m_error != DibError::None) return dib;
    // The pixels start at the file's pixel offset; writers that leave it
    // wrong (pointing into the headers) get the bytes after the colour table.
    std::size_t start = kFileHeaderSize + tableEnd;
    if (pixelOffset >= kFileHeaderSize + dib.m_headerSize) start = pixelOffset;
    dib.m_pixelStart = start;
    dib.m_pixels = file.subspan(std::min(start, file.size()));
    return dib;
}

TVemo_dib TVemo_dib::FromPackedDib(std::span<const uint8_t> info, std::span<const uint8_t> bits) {
    TVemo_dib dib;
    dib.ParseInfo(info, std::numeric_limits<std::size_t>::max());
    dib.m_pixels = bits;
    return dib;
}

std::size_t TVemo_dib::ParseInfo(std::span<const uint8_t> info, std::size_t tableLimit) {
    if (info.size() < 4) {
        m_error = DibError::Truncated;
        return 0;
    }
    const uint8_t* p = info.data();
    m_headerSize = Get32(p);
    const uint32_t size = m_headerSize;
    if (size != kCoreHeader && size != kOs2ShortHeader && size != kInfoHeader && size != kV2Header &&
        size != kV3Header && size != kOs2Header && size != kV4Header && size != kV5Header) {
        m_error = DibError::HeaderSize;
        return 0;
    }
    if (info.size() < size) {
        m_error = DibError::Truncated;
        return 0;
    }
    const bool os2 = size == kCoreHeader || size == kOs2ShortHeader || size == kOs2Header;
    int64_t width = 0;
    int64_t height = 0;
    uint32_t colourCount = 0;
    if (size == kCoreHeader) {
        width = Get16(p + 4);
        height = Get16(p + 6);
        m_bitCount = Get16(p + 10);
    } else {
        width = static_cast<int32_t>(Get32(p + 4));
        height = static_cast<int32_t>(Get32(p + 8));
        m_bitCount = Get16(p + 14);
        if (size >= kInfoHeader) {
            m_compression = Get32(p + 16);
            m_xPelsPerMeter = std::max(0, static_cast<int32_t>(Get32(p + 24)));
            m_yPelsPerMeter = std::max(0, static_cast<int32_t>(Get32(p + 28)));
            colourCount = Get32(p + 32);
        }
    }

    const int bits = m_bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        m_error = DibError::BitCount;
        return 0;
    }
    const bool bitfields = m_compression == kDibBitfields || m_compression == kDibAlphaBitfields;
    const bool compressionFits = m_compression == kDibRgb || (m_compression == kDibRle8 && bits == 8) ||
                                 (m_compression == kDibRle4 && bits == 4) ||
                                 (bitfields && !os2 && (bits == 16 || bits == 32));
    if (!compressionFits || (size == kCoreHeader && (bits == 16 || bits == 32))) {
        m_error = size == kCoreHeader ? DibError::BitCount : DibError::Compression;
        return 0;
    }
    if (width <= 0 || height == 0 || height == std::numeric_limits<int32_t>::min()) {
        m_error = DibError::BadSize;
        return 0;
    }
    m_width = static_cast<int>(width);
    m_height = static_cast<int>(height < 0 ? -height : height);
    m_topDown = height < 0;
    if (static_cast<int64_t>(m_width) * m_height > kSpiMaxPixels) {
        m_error = DibError::TooLarge;
        return 0;
    }

    std::size_t consumed = size;
    if (bits == 16 || bits == 32) {
        if (bitfields) {
            const std::size_t maskCount = m_compression == kDibAlphaBitfields ? 4 : 3;
            if (size >= kV2Header) {
                for (std::size_t i = 0; i < 3; ++i) m_masks[i] = Get32(p + 40 + 4 * i);
                if (size >= kV3Header) m_masks[3] = Get32(p + 52);
            } else {
                if (info.size() < consumed + 4 * maskCount) {
                    m_error = DibError::Truncated;
                    return 0;
                }
                for (std::size_t i = 0; i < maskCount; ++i) m_masks[i] = Get32(p + consumed + 4 * i);
                consumed += 4 * maskCount;
            }
        } else if (bits == 16) {
            m_masks[0] = 0x7C00;
            m_masks[1] = 0x03E0;
            m_masks[2] = 0x001F;
        } else {
            m_masks[0] = 0x00FF0000;
            m_masks[1] = 0x0000FF00;
            m_masks[2] = 0x000000FF;
            // The fourth byte of an uncompressed 32-bit pixel is unused,
            // unless a version 4 or 5 header declares it as alpha.
            if (size >= kV4Header && Get32(p + 52) == 0xFF000000u) m_masks[3] = 0xFF000000u;
        }
        for (const uint32_t mask : m_masks) {
            if (!IsContiguous(mask)) {
                m_error = DibError::BadSize;
                return 0;
            }
        }
        m_alpha = m_masks[3] != 0;
    }

    if (bits <= 8) {
        const std::size_t entrySize = size == kCoreHeader ? 3 : 4;
        const uint32_t maxEntries = 1u << bits;
        if (colourCount > 256) {
            m_error = DibError::BadSize;
            return 0;
        }
        const std::size_t declared = colourCount == 0 ? maxEntries : colourCount;
        std::size_t entries = std::min<std::size_t>(declared, maxEntries);
        const std::size_t tableStart = consumed;
        // A pixel offset inside the table shortens it.
        if (tableLimit >= tableStart && tableLimit < tableStart + entries * entrySize) {
            entries = (tableLimit - tableStart) / entrySize;
        }
        if (entries == 0 || info.size() < tableStart + entries * entrySize) {
            m_error = DibError::Truncated;
            return 0;
        }
        m_declared.reserve(entries);
        for (std::size_t i = 0; i < entries; ++i) {
            const uint8_t* entry = p + tableStart + i * entrySize;
            m_declared.push_back(MakeRgb(entry[2], entry[1], entry[0]));
        }
        m_colours = m_declared;
        m_colours.resize(std::max<std::size_t>(m_colours.size(), maxEntries), MakeRgb(0, 0, 0));
        consumed = std::min(info.size(), tableStart + declared * entrySize);
        m_rowFormat = bits == 1 ? DibRowFormat::Mono : DibRowFormat::Indexed8;
    } else {
        m_rowFormat = m_alpha ? DibRowFormat::Argb32 : DibRowFormat::Rgb32;
    }
    return consumed;
}

namespace {

double DpiOf(int32_t pelsPerMeter) {
    constexpr double kInchesPerMetre = 0.0254;
    const double dpi = pelsPerMeter * kInchesPerMetre;
    const double whole = std::round(dpi);
    return std::fabs(dpi - whole) <= 0.5 * kInchesPerMetre ? whole : dpi;
}

}  // namespace

ImageResolution ResolutionFromPelsPerMeter(int32_t xPelsPerMeter, int32_t yPelsPerMeter) {
    const int32_t x = xPelsPerMeter > 0 ? xPelsPerMeter : yPelsPerMeter;
    const int32_t y = yPelsPerMeter > 0 ? yPelsPerMeter : xPelsPerMeter;
    if (x <= 0 || y <= 0) return ImageResolution();
    return ImageResolution{DpiOf(x), DpiOf(y)};
}

std::string TVemo_dib::Reason() const { return Reason(m_error); }

std::string TVemo_dib::Reason(DibError error) const {
    switch (error) {
    case DibError::None: return std::string();
    case DibError::NotBmp: return texts::kReasonNotBmp;
    case DibError::HeaderSize: return texts::ReasonBmpHeaderSize(m_headerSize);
    case DibError::BitCount: return texts::ReasonBmpBitCount(static_cast<unsigned>(m_bitCount));
    case DibError::Compression: return texts::ReasonBmpCompression(m_compression);
    case DibError::BadSize: return texts::kReasonCorrupt;
    case DibError::TooLarge: return texts::ReasonImageTooLarge(m_width, m_height, kSpiMaxPixels);
    case DibError::Truncated: return texts::kReasonTruncated;
    case DibError::NoMemory: return texts::kReasonNoMemory;
    }
    return texts::kReasonCorrupt;
}

DibError TVemo_dib::CheckPixelData() const {
    if (m_error != DibError::None) return m_error;
    if (m_compression == kDibRle8 || m_compression == kDibRle4) {
        return m_pixels.size() >= 2 ? DibError::None : DibError::Truncated;
    }
    const uint64_t needed = UncompressedBytes(static_cast<uint64_t>(m_width), static_cast<uint64_t>(m_height),
                                              static_cast<uint64_t>(m_bitCount));
    return m_pixels.size() >= needed ? DibError::None : DibError::Truncated;
}

DibError TVemo_dib::Decode(const DibRowSink& sink) const {
    if (m_error != DibError::None) return m_error;
    if (m_compression == kDibRle8 || m_compression == kDibRle4) return DecodeRle(m_pixels, sink);
    return DecodeUncompressed(nullptr, 0, sink);
}

DibError TVemo_dib::DecodeStreamed(const DibFileReader& read, uint64_t fileSize, const DibRowSink& sink) const {
    if (m_error != DibError::None) return m_error;
    if (m_compression != kDibRle8 && m_compression != kDibRle4) return DecodeUncompressed(&read, fileSize, sink);
    // Run-length data is read whole: it is small, and its rows have no
    // fixed place in the file.
    const uint64_t size = fileSize > m_pixelStart ? fileSize - m_pixelStart : 0;
    if (size > std::numeric_limits<std::size_t>::max()) return DibError::NoMemory;
    std::vector<uint8_t> pixels;
    try {
        pixels.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return DibError::NoMemory;
    }
    const std::size_t got = pixels.empty() ? 0 : read(m_pixelStart, pixels.data(), pixels.size());
    return DecodeRle(std::span<const uint8_t>(pixels.data(), got), sink);
}

DibError TVemo_dib::DecodeUncompressed(const DibFileReader* read, uint64_t fileSize, const DibRowSink& sink) const {
    const uint64_t width = static_cast<uint64_t>(m_width);
    const uint64_t height = static_cast<uint64_t>(m_height);
    const uint64_t rowBytes = DibRowBytes(width, static_cast<uint64_t>(m_bitCount));
    const uint64_t needed = UncompressedBytes(width, height, static_cast<uint64_t>(m_bitCount));
    const uint64_t available = read ? (fileSize > m_pixelStart ? fileSize - m_pixelStart : 0) : m_pixels.size();
    if (available < needed) return DibError::Truncated;

    // Read from a file, the rows pass through one block of a few hundred
    // kilobytes, which stays in the cache between the read and the sink.
    uint64_t rowsPerBlock = height;
    std::vector<uint8_t> block;
    std::vector<uint8_t> buffer;
    try {
        if (read) {
            rowsPerBlock = std::clamp<uint64_t>(kStreamBlockBytes / rowBytes, 1, height);
            block.resize(rowsPerBlock * rowBytes);
        }
        if (m_bitCount == 4) buffer.resize(width);
        if (m_bitCount > 8) buffer.resize(width * sizeof(Rgb));
    } catch (const std::bad_alloc&) {
        return DibError::NoMemory;
    }
    const Channel red(m_masks[0]);
    const Channel green(m_masks[1]);
    const Channel blue(m_masks[2]);
    const Channel alpha(m_masks[3]);

    for (uint64_t first = 0; first < height; first += rowsPerBlock) {
        const uint64_t count = std::min(rowsPerBlock, height - first);
        const uint64_t offset = first * rowBytes;
        const uint8_t* data = block.data();
        if (read) {
            const std::size_t bytes = static_cast<std::size_t>(std::min(count * rowBytes, needed - offset));
            if ((*read)(m_pixelStart + offset, block.data(), bytes) < bytes) return DibError::Truncated;
        } else {
            data = m_pixels.data() + offset;
        }
        for (uint64_t i = 0; i < count; ++i) {
            const uint8_t* in = data + i * rowBytes;
            const uint64_t s = first + i;
            const int y = static_cast<int>(m_topDown ? s : height - 1 - s);
            if (m_bitCount == 1 || m_bitCount == 8) {
                sink(y, in);
                continue;
            }
            if (m_bitCount == 4) {
                for (uint64_t x = 0; x < width; ++x) buffer[x] = (x & 1) ? (in[x / 2] & 0x0F) : (in[x / 2] >> 4);
                sink(y, buffer.data());
                continue;
            }
            Rgb* out = reinterpret_cast<Rgb*>(buffer.data());
            if (m_bitCount == 24) {
                for (uint64_t x = 0; x < width; ++x, in += 3) out[x] = MakeRgb(in[2], in[1], in[0]);
            } else {
                const bool wide = m_bitCount == 32;
                for (uint64_t x = 0; x < width; ++x) {
                    const uint32_t pixel = wide ? Get32(in + 4 * x) : Get16(in + 2 * x);
                    out[x] = MakeRgb(static_cast<int>(red.Of(pixel)), static_cast<int>(green.Of(pixel)),
                                     static_cast<int>(blue.Of(pixel)),
                                     m_alpha ? static_cast<int>(alpha.Of(pixel)) : 255);
                }
            }
            sink(y, buffer.data());
        }
    }
    return DibError::None;
}

// Run-length data: pairs (count, value) paint `count` pixels; (0, 0) ends
// a line, (0, 1) ends the picture, (0, 2, dx, dy) moves right and up
// (forward in the file's row order), (0, n) is followed by n literal pixels
// padded to an even byte count. Runs past the end of a line are cut off.
DibError TVemo_dib::DecodeRle(std::span<const uint8_t> pixels, const DibRowSink& sink) const {
    const bool rle8 = m_compression == kDibRle8;
    const std::size_t width = static_cast<std::size_t>(m_width);
    uint8_t paper = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (std::size_t i = 0; i < m_declared.size(); ++i) {
        const Rgb c = m_declared[i];
        const int distance = (255 - RedOf(c)) + (255 - GreenOf(c)) + (255 - BlueOf(c));
        if (distance < bestDistance) {
            bestDistance = distance;
            paper = static_cast<uint8_t>(i);
        }
    }
    std::vector<uint8_t> row(width, paper);
    const uint8_t* data = pixels.data();
    const std::size_t size = pixels.size();
    std::size_t pos = 0;
    int s = 0;            // row in file order
    std::size_t x = 0;    // column, at most width
    const auto emitRow = [&] {
        sink(m_topDown ? s : m_height - 1 - s, row.data());
        std::fill(row.begin(), row.end(), paper);
        ++s;
    };
    const auto put = [&](uint8_t value) {
        if (x < width) row[x++] = value;
    };

    while (s < m_height) {
        if (size - pos < 2) return DibError::Truncated;
        const uint8_t count = data[pos];
        const uint8_t value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) put(rle8 ? value : ((i & 1) ? (value & 0x0F) : (value >> 4)));
        } else if (value == 0) {
            emitRow();
            x = 0;
        } else if (value == 1) {
            while (s < m_height) emitRow();
        } else if (value == 2) {
            if (size - pos < 2) return DibError::Truncated;
            const uint8_t dx = data[pos];
            const uint8_t dy = data[pos + 1];
            pos += 2;
            for (int k = 0; k < dy && s < m_height; ++k) emitRow();
            x = std::min(x + dx, width);
        } else {
            const std::size_t bytes = rle8 ? value : (value + 1u) / 2u;
            if (size - pos < bytes) return DibError::Truncated;
            for (int i = 0; i < value; ++i) {
                put(rle8 ? data[pos + i] : ((i & 1) ? (data[pos + i / 2] & 0x0F) : (data[pos + i / 2] >> 4)));
            }
            pos = std::min(size, pos + bytes + (bytes & 1));
        }
    }
    return DibError::None;
}

std::size_t DibPicture::RowBytes() const {
    const auto w = static_cast<std::size_t>(std::max(width, 0));
    switch (format) {
    case DibRowFormat::Mono: return (w + 7) / 8;
    case DibRowFormat::Indexed8: return w;
    case DibRowFormat::Rgb32:
    case DibRowFormat::Argb32: return w * sizeof(Rgb);
    case DibRowFormat::Invalid: break;
    }
    return 0;
}

DibPicture TVemo_dib::ToPicture(DibError& error) const {
    // Checked first: a header that claims far more than its data holds
    // must not cost the picture's memory before it is refused.
    error = CheckPixelData();
    if (error != DibError::None) return DibPicture();
    DibPicture picture;
    picture.width = m_width;
    picture.height = m_height;
    picture.format = m_rowFormat;
    const std::size_t rowBytes = picture.RowBytes();
    try {
        picture.pixels.resize(rowBytes * static_cast<std::size_t>(m_height));
    } catch (const std::bad_alloc&) {
        error = DibError::NoMemory;
        return DibPicture();
    }
    if (m_rowFormat == DibRowFormat::Mono || m_rowFormat == DibRowFormat::Indexed8) picture.colours = m_colours;
    uint8_t* bits = picture.pixels.data();
    error = Decode([&](int y, const uint8_t* row) { std::memcpy(bits + static_cast<std::size_t>(y) * rowBytes, row, rowBytes); });
    if (error != DibError::None) return DibPicture();
    return picture;
}
