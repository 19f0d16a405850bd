// Vemospi_common: helpers shared by the image plug-ins (see the header).
#include "plugins/Vemospi_common.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <unistd.h>

namespace spi {

int CopyPluginInfo(std::span<const char* const> table, int infono, char* buf, int buflen) {
    if (buf == nullptr || buflen <= 0 || infono < 0 || static_cast<std::size_t>(infono) >= table.size()) return 0;
    const std::size_t length = std::min(std::strlen(table[infono]), static_cast<std::size_t>(buflen - 1));
    std::memcpy(buf, table[infono], length);
    buf[length] = '\0';
    return static_cast<int>(length);
}

std::vector<uint8_t> ReadHead(SpiDword dw, std::size_t count) {
    std::vector<uint8_t> head;
    if ((dw & 0xFFFF0000u) != 0) return head;
    const int fd = static_cast<int>(dw);
    head.resize(count);
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, head.data() + got, count - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    head.resize(got);
    return head;
}

bool StartsWith(std::span<const uint8_t> bytes, std::span<const uint8_t> signature) {
    return bytes.size() >= signature.size() && std::equal(signature.begin(), signature.end(), bytes.begin());
}

PictureInput::PictureInput(const char* buf, SpiLong len, unsigned int flag) {
    if (buf == nullptr || len < 0) {
        m_status = kSpiOtherError;
        return;
    }
    switch (flag & kSpiInputMask) {
    case kSpiInputFile: {
        m_file = std::make_unique<MappedFile>(buf);
        if (!m_file->IsOpen()) {
            m_status = kSpiFileReadError;
            return;
        }
        const std::span<const uint8_t> whole = m_file->Data();
        if (static_cast<uint64_t>(len) > whole.size()) {
            m_status = kSpiFileReadError;
            return;
        }
        m_bytes = whole.subspan(static_cast<std::size_t>(len));
        return;
    }
    case kSpiInputMemory:
        m_bytes = {reinterpret_cast<const uint8_t*>(buf), static_cast<std::size_t>(len)};
        return;
    default:
        m_status = kSpiNotSupport;
        return;
    }
}

DibBlocks::~DibBlocks() {
    std::free(m_info);
    std::free(m_bits);
}

int DibBlocks::Allocate(uint32_t width, uint32_t height, int bitCount, std::span<const uint32_t> palette) {
    if (width == 0 || height == 0 || width > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
        height > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
        return kSpiOutOfOrder;
    }
    const uint32_t entries = bitCount <= 8 ? (1u << bitCount) : 0u;
    const uint64_t rowBytes = DibRowBytes(width, static_cast<uint64_t>(bitCount));
    const uint64_t bitsSize = rowBytes * height;
    if (bitsSize > std::numeric_limits<std::size_t>::max() / 2) return kSpiNoMemory;

    // calloc: row padding is part of the bits and must not be left
    // undefined, and large zeroed blocks cost nothing until written.
    m_info = std::calloc(1, sizeof(SpiBitmapInfoHeader) + 4u * entries);
    m_bits = static_cast<uint8_t*>(std::calloc(1, static_cast<std::size_t>(bitsSize)));
    if (m_info == nullptr || m_bits == nullptr) return kSpiNoMemory;
    m_height = height;
    m_rowBytes = rowBytes;

    SpiBitmapInfoHeader header{};
    header.size = sizeof(SpiBitmapInfoHeader);
    header.width = static_cast<int32_t>(width);
    header.height = static_cast<int32_t>(height);
    header.planes = 1;
    header.bitCount = static_cast<uint16_t>(bitCount);
    header.compression = kDibRgb;
    header.sizeImage = bitsSize <= std::numeric_limits<uint32_t>::max() ? static_cast<uint32_t>(bitsSize) : 0u;
    header.clrUsed = entries;
    std::memcpy(m_info, &header, sizeof header);

    // RGBQUAD order: blue, green, red, reserved. Missing entries stay black.
    uint8_t* table = static_cast<uint8_t*>(m_info) + sizeof(SpiBitmapInfoHeader);
    for (uint32_t i = 0; i < entries && i < palette.size(); ++i) {
        table[4 * i + 0] = static_cast<uint8_t>(palette[i]);
        table[4 * i + 1] = static_cast<uint8_t>(palette[i] >> 8);
        table[4 * i + 2] = static_cast<uint8_t>(palette[i] >> 16);
    }
    return kSpiAllRight;
}

void DibBlocks::SetPelsPerMeter(double x, double y) {
    if (m_info == nullptr) return;
    const auto stored = [](double value) {
        const bool fits = value >= 0.5 && value < static_cast<double>(std::numeric_limits<int32_t>::max());
        return fits ? static_cast<int32_t>(std::lround(value)) : int32_t{0};
    };
    SpiBitmapInfoHeader header;
    std::memcpy(&header, m_info, sizeof header);
    header.xPelsPerMeter = stored(x);
    header.yPelsPerMeter = stored(y);
    std::memcpy(m_info, &header, sizeof header);
}

uint8_t* DibBlocks::RowFromTop(uint32_t y) { return m_bits + static_cast<uint64_t>(m_height - 1 - y) * m_rowBytes; }

uint8_t* DibBlocks::RowFromBottom(uint32_t i) { return m_bits + static_cast<uint64_t>(i) * m_rowBytes; }

void DibBlocks::Swap(DibBlocks& other) {
    std::swap(m_info, other.m_info);
    std::swap(m_bits, other.m_bits);
    std::swap(m_height, other.m_height);
    std::swap(m_rowBytes, other.m_rowBytes);
}

void DibBlocks::HandOver(SpiHandle* info, SpiHandle* bits) {
    *info = m_info;
    *bits = m_bits;
    m_info = nullptr;
    m_bits = nullptr;
}

namespace {

// Packs one row of 0/1 bytes into a 1-bit DIB row; false at the first
// byte that is neither.
bool PackBits(const uint8_t* row, uint32_t width, uint8_t* out) {
    uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        unsigned byte = 0;
        for (int k = 0; k < 8; ++k) {
            const uint8_t value = row[x + k];
            if (value > 1) return false;
            byte = (byte << 1) | value;
        }
        *out++ = static_cast<uint8_t>(byte);
    }
    if (x < width) {
        unsigned byte = 0;
        int k = 0;
        for (; x < width; ++x, ++k) {
            if (row[x] > 1) return false;
            byte = (byte << 1) | row[x];
        }
        *out = static_cast<uint8_t>(byte << (8 - k));
    }
    return true;
}

}  // namespace

int MakeIndexedDib(const uint8_t* pixels, std::size_t stride, uint32_t width, uint32_t height,
                   std::span<const uint32_t> palette, DibBlocks& dib) {
    if (palette.size() <= 2) {
        DibBlocks bilevel;
        int result = bilevel.Allocate(width, height, 1, palette);
        if (result != kSpiAllRight) return result;
        bool packed = true;
        for (uint32_t y = 0; y < height && packed; ++y) {
            packed = PackBits(pixels + y * stride, width, bilevel.RowFromTop(y));
        }
        if (packed) {
            dib.Swap(bilevel);
            return kSpiAllRight;
        }
    }
    const int result = dib.Allocate(width, height, 8, palette);
    if (result != kSpiAllRight) return result;
    for (uint32_t y = 0; y < height; ++y) std::memcpy(dib.RowFromTop(y), pixels + y * stride, width);
    return kSpiAllRight;
}

int NearestToWhite(std::span<const uint32_t> palette) {
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const int distance = (255 - static_cast<int>((palette[i] >> 16) & 0xFF)) +
                             (255 - static_cast<int>((palette[i] >> 8) & 0xFF)) +
                             (255 - static_cast<int>(palette[i] & 0xFF));
        if (distance < bestDistance) {
            best = static_cast<int>(i);
            bestDistance = distance;
        }
    }
    return best;
}

bool WithinPixelLimit(uint64_t width, uint64_t height) {
    return width > 0 && height > 0 && width <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) &&
           height <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) &&
           width * height <= static_cast<uint64_t>(kSpiMaxPixels);
}

bool Progress::Step(int64_t done, int64_t total) const {
    if (m_callback == nullptr) return true;
    // The callback takes ints; scale so that large pictures still fit.
    while (total > std::numeric_limits<int>::max()) {
        total >>= 1;
        done >>= 1;
    }
    return m_callback(static_cast<int>(done), static_cast<int>(total), m_data) == 0;
}

}  // namespace spi
