// Vemospi_common: what the three image plug-ins share.
//
// - the GetPluginInfo table lookup and the IsSupported head read;
// - PictureInput: the bytes of a picture, from a file (read whole, from the
//   offset GetPicture names) or from the caller's memory;
// - DibBlocks: the two malloc blocks GetPicture hands back (information
//   block and bits), freed here unless handed over;
// - MakeIndexedDib: an 8-bit-per-pixel picture with its palette turned into
//   a 1-bit DIB when it has two colours (scans usually do: a 1-bit A0 scan
//   is an eighth of the memory) or into an 8-bit DIB otherwise;
// - the picture's resolution, carried in the header's pixels per metre;
// - OverWhite: transparency composited onto white paper in plain sRGB.
//
// Palettes are lists of 0xRRGGBB values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "image/Vemo_mappedfile.h"
#include "image/Vemo_spi.h"

namespace spi {

// GetPluginInfo for a table of description texts: copies entry `infono`
// into buf (cut to buflen - 1 characters, always terminated) and returns
// the number of characters written; 0 for an unknown entry.
int CopyPluginInfo(std::span<const char* const> table, int infono, char* buf, int buflen);

// Up to `count` bytes from the start of the file behind IsSupported's
// handle, read with pread. Empty when `dw` is not a file descriptor (the
// published interface passes a buffer pointer when its upper 16 bits are
// set, which cannot happen with 32 bits on this platform) or unreadable.
std::vector<uint8_t> ReadHead(SpiDword dw, std::size_t count);

// True when `bytes` starts with `signature`.
bool StartsWith(std::span<const uint8_t> bytes, std::span<const uint8_t> signature);

// The bytes of a picture as GetPicture and GetPictureInfo are told to find
// them: kSpiInputFile (buf names the file, len is the offset of the
// picture in it) or kSpiInputMemory (buf points at len bytes).
class PictureInput {
public:
    PictureInput(const char* buf, SpiLong len, unsigned int flag);
    // kSpiAllRight, or the error to return.
    int Status() const { return m_status; }
    std::span<const uint8_t> Bytes() const { return m_bytes; }

private:
    std::unique_ptr<MappedFile> m_file;
    std::span<const uint8_t> m_bytes;
    int m_status = kSpiAllRight;
};

// The information block (a 40-byte header and a full colour table) and
// the bits block of one DIB, rows stored bottom-up.
class DibBlocks {
public:
    DibBlocks() = default;
    ~DibBlocks();
    DibBlocks(const DibBlocks&) = delete;
    DibBlocks& operator=(const DibBlocks&) = delete;

    // bitCount 1, 4 or 8 takes a palette (padded with black to 1 << bitCount
    // entries); 24 takes none. kSpiAllRight, or kSpiNoMemory.
    int Allocate(uint32_t width, uint32_t height, int bitCount, std::span<const uint32_t> palette);
    uint8_t* RowFromTop(uint32_t y);
    uint8_t* RowFromBottom(uint32_t i);
    uint64_t RowBytes() const { return m_rowBytes; }
    // Stores the picture's resolution in the header (biXPelsPerMeter,
    // biYPelsPerMeter), rounded; values that are no positive number or do
    // not fit are left out (0: unknown). Call after Allocate.
    void SetPelsPerMeter(double x, double y);
    void Swap(DibBlocks& other);
    // Gives both blocks to the caller of GetPicture.
    void HandOver(SpiHandle* info, SpiHandle* bits);

private:
    void* m_info = nullptr;
    uint8_t* m_bits = nullptr;
    uint32_t m_height = 0;
    uint64_t m_rowBytes = 0;
};

// Builds the DIB of a picture held one byte per pixel (palette indexes,
// top row first, `stride` bytes apart): 1-bit when the palette has at most
// two entries and every pixel is 0 or 1, otherwise 8-bit.
int MakeIndexedDib(const uint8_t* pixels, std::size_t stride, uint32_t width, uint32_t height,
                   std::span<const uint32_t> palette, DibBlocks& dib);

// A colour component composited onto white with the given opacity.
inline uint8_t OverWhite(unsigned value, unsigned alpha) {
    return static_cast<uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

// The palette index whose colour is nearest to white (lowest index on a tie).
int NearestToWhite(std::span<const uint32_t> palette);

// True when width x height is a picture this system accepts.
bool WithinPixelLimit(uint64_t width, uint64_t height);

// Reports progress to GetPicture's caller; Step returns false when the
// caller asks to stop.
class Progress {
public:
    Progress(SpiProgressCallback callback, SpiLong data) : m_callback(callback), m_data(data) {}
    bool Step(int64_t done, int64_t total) const;

private:
    SpiProgressCallback m_callback;
    SpiLong m_data;
};

// Runs the body of an exported function; no C++ exception may cross the
// C interface.
template <typename Body>
int Guarded(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return kSpiNoMemory;
    } catch (...) {
        return kSpiOtherError;
    }
}

// The body every plug-in's GetPictureInfo shares: checks the arguments,
// finds the picture's bytes and lets `describe(bytes, info)` fill a zeroed
// information block, which reaches the caller only when that succeeded.
template <typename Describe>
int GetPictureInfoWith(char* buf, SpiLong len, unsigned int flag, SpiPictureInfo* info, Describe&& describe) {
    return Guarded([&] {
        if (info == nullptr) return int{kSpiOtherError};
        const PictureInput input(buf, len, flag);
        if (input.Status() != kSpiAllRight) return input.Status();
        SpiPictureInfo found{};
        const int result = describe(input.Bytes(), found);
        if (result == kSpiAllRight) *info = found;
        return result;
    });
}

// The body every plug-in's GetPicture shares: checks the arguments, finds
// the picture's bytes, lets `read(bytes, dib, progress)` decode them into
// DIB blocks, and hands the blocks over only when that succeeded.
template <typename Read>
int GetPictureWith(char* buf, SpiLong len, unsigned int flag, SpiHandle* pHBInfo, SpiHandle* pHBm,
                   SpiProgressCallback progress, SpiLong lData, Read&& read) {
    return Guarded([&] {
        if (pHBInfo == nullptr || pHBm == nullptr) return int{kSpiOtherError};
        const PictureInput input(buf, len, flag);
        if (input.Status() != kSpiAllRight) return input.Status();
        const Progress steps(progress, lData);
        DibBlocks dib;
        const int result = read(input.Bytes(), dib, steps);
        if (result != kSpiAllRight) return result;
        dib.HandOver(pHBInfo, pHBm);
        return int{kSpiAllRight};
    });
}

}  // namespace spi
