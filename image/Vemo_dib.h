// Vemo_dib: reads device-independent bitmaps: BMP files and the packed DIBs
// that image plug-ins hand back.
//
// Qt's own BMP reader refuses pictures over 16384 x 16384 pixels (268
// megapixels, less than an A0 scan at 600 dpi) whatever the allocation
// limit, leaves pixels skipped by RLE deltas and the rows missing from a
// truncated file undefined, and gives one message for every fault. This
// reader accepts up to kSpiMaxPixels, defines every pixel, and names what
// is wrong with a file it refuses.
//
// Accepted: headers of 12 (OS/2 1.x), 16 and 64 (OS/2 2.x), 40, 52, 56, 108
// and 124 bytes; 1, 4, 8, 16, 24 and 32 bits per pixel; uncompressed, RLE8,
// RLE4 and bit fields; bottom-up and top-down rows. Refused with a reason:
// other depths (2-bit), JPEG/PNG/Huffman/RLE24 compression, a colour table
// or pixel data cut short, sizes that make no sense, too many pixels.
//
// Rows come out top row first in one of four formats: Mono (1-bit, the
// file's bits, first pixel in the top bit), Indexed8 (4- and 8-bit; indexes
// into Colours()), Rgb32 or Argb32 (16-, 24- and 32-bit; one native
// 0xAARRGGBB word per pixel, alpha not pre-multiplied). Pixels that RLE
// skips are the colour nearest to white: the paper of a drawing.
//
// Plain C++: the command line reads images without any GUI library.
//
// A BMP file need not be in memory: FromBmpFile can be given only its
// first bytes (headers and colour table) and DecodeStreamed then reads the
// pixel data through a callback, uncompressed rows a bounded block at a
// time, so that a scan is never held twice.
//
// Reads: the bytes given (not owned; they must outlive the object), or
// through the reader given to DecodeStreamed. Writes: nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

// A colour as 0xAARRGGBB (the same values as the framework's colours).
using Rgb = uint32_t;
constexpr Rgb MakeRgb(int red, int green, int blue, int alpha = 255) {
    return (static_cast<Rgb>(alpha & 0xFF) << 24) | (static_cast<Rgb>(red & 0xFF) << 16) |
           (static_cast<Rgb>(green & 0xFF) << 8) | static_cast<Rgb>(blue & 0xFF);
}
constexpr int RedOf(Rgb colour) { return static_cast<int>((colour >> 16) & 0xFF); }
constexpr int GreenOf(Rgb colour) { return static_cast<int>((colour >> 8) & 0xFF); }
constexpr int BlueOf(Rgb colour) { return static_cast<int>(colour & 0xFF); }
constexpr int AlphaOf(Rgb colour) { return static_cast<int>(colour >> 24); }

enum class DibRowFormat { Invalid, Mono, Indexed8, Rgb32, Argb32 };

// A whole decoded picture, rows of RowBytes() bytes in Format, top row
// first; what a plug-in hands back once its blocks are freed.
struct DibPicture {
    int width = 0;
    int height = 0;
    DibRowFormat format = DibRowFormat::Invalid;
    std::vector<Rgb> colours;  // Mono and Indexed8: every index a row can hold
    std::vector<uint8_t> pixels;

    bool IsNull() const { return width <= 0 || height <= 0; }
    std::size_t RowBytes() const;
    const uint8_t* Row(int y) const { return pixels.data() + static_cast<std::size_t>(y) * RowBytes(); }
};

// A picture's resolution in dots per inch; 0 where none is stored.
struct ImageResolution {
    double xDpi = 0.0;
    double yDpi = 0.0;
    bool IsKnown() const { return xDpi > 0.0 && yDpi > 0.0; }
};

// The resolution of a header's pixels per metre. They are whole numbers,
// so 600 dpi is stored as 23622 (599.9988 dpi): a whole dpi within the
// rounding of one pixel per metre is taken as the one meant. Where only one
// direction is stored, pixels are taken to be square; where neither is,
// the resolution is unknown.
ImageResolution ResolutionFromPelsPerMeter(int32_t xPelsPerMeter, int32_t yPelsPerMeter);

enum class DibError {
    None,
    NotBmp,          // no "BM" signature
    HeaderSize,      // information header of an unknown size
    BitCount,        // bits per pixel not 1, 4, 8, 16, 24 or 32
    Compression,     // a compression this reader does not decode
    BadSize,         // width <= 0, height 0, broken masks or colour count
    TooLarge,        // more than kSpiMaxPixels
    Truncated,       // colour table or pixel data cut short
    NoMemory,        // the image could not be allocated
};

// Receives one decoded row: y counted from the top, the row in RowFormat().
using DibRowSink = std::function<void(int y, const uint8_t* row)>;
// Reads up to `bytes` bytes of a BMP file from `offset` into `into`;
// returns how many it read, fewer only where the data ends or fails.
using DibFileReader = std::function<std::size_t(uint64_t offset, uint8_t* into, std::size_t bytes)>;

class TVemo_dib {
public:
    // A whole BMP file in memory, or its start for DecodeStreamed.
    static TVemo_dib FromBmpFile(std::span<const uint8_t> file);
    // A packed DIB: the information block (header, masks, colour table) and
    // the bits in blocks of their own, each no longer than given.
    static TVemo_dib FromPackedDib(std::span<const uint8_t> info, std::span<const uint8_t> bits);

    DibError Error() const { return m_error; }
    // The user-facing reason for Error(), or for an error Decode returned.
    std::string Reason() const;
    std::string Reason(DibError error) const;

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int BitCount() const { return m_bitCount; }
    DibRowFormat RowFormat() const { return m_rowFormat; }
    // The colour table as the file gives it; empty for direct colour.
    const std::vector<Rgb>& DeclaredColours() const { return m_declared; }
    // The table the rows index: the declared table padded with black to
    // 1 << BitCount() entries, so every index a row can hold has a colour.
    const std::vector<Rgb>& Colours() const { return m_colours; }

    // The resolution the header stores, in pixels per metre; 0 where it
    // stores none (OS/2 1.x headers have no such fields).
    int32_t XPelsPerMeter() const { return m_xPelsPerMeter; }
    int32_t YPelsPerMeter() const { return m_yPelsPerMeter; }

    // Whether the pixel data can hold what the header claims, asked before
    // anything is allocated for the picture: uncompressed rows need every
    // row but the last one's padding, run-length data at least one pair.
    // DibError::None, or Truncated.
    DibError CheckPixelData() const;

    // Decodes every row once, in file order, and hands it to `sink`.
    // Returns DibError::None, or the fault found in the pixel data.
    DibError Decode(const DibRowSink& sink) const;
    // The same for a BMP file of `fileSize` bytes read through `read`:
    // uncompressed rows in blocks of about kStreamBlockBytes, run-length
    // data whole. A block read short is reported as Truncated before any
    // of its rows reaches `sink`.
    DibError DecodeStreamed(const DibFileReader& read, uint64_t fileSize, const DibRowSink& sink) const;
    static constexpr std::size_t kStreamBlockBytes = std::size_t{256} << 10;
    // The whole picture in RowFormat() with Colours(); a null picture when
    // decoding fails (`error` says why).
    DibPicture ToPicture(DibError& error) const;

private:
    TVemo_dib() = default;
    // Reads header, masks and colour table from `info`; `tableLimit` caps
    // the bytes the colour table may use (a BMP file's pixel offset).
    // Sets m_error and returns the bytes consumed.
    std::size_t ParseInfo(std::span<const uint8_t> info, std::size_t tableLimit);
    // From m_pixels, or from the file through `read` when it is given.
    DibError DecodeUncompressed(const DibFileReader* read, uint64_t fileSize, const DibRowSink& sink) const;
    DibError DecodeRle(std::span<const uint8_t> pixels, const DibRowSink& sink) const;

    DibError m_error = DibError::None;
    uint32_t m_headerSize = 0;
    int m_width = 0;
    int m_height = 0;          // always positive
    bool m_topDown = false;
    int m_bitCount = 0;
    uint32_t m_compression = 0;
    uint32_t m_masks[4] = {};  // red, green, blue, alpha (16- and 32-bit)
    bool m_alpha = false;
    DibRowFormat m_rowFormat = DibRowFormat::Invalid;
    std::vector<Rgb> m_declared;
    std::vector<Rgb> m_colours;
    std::span<const uint8_t> m_pixels;
    uint64_t m_pixelStart = 0;  // where a BMP file's pixel data starts
    int32_t m_xPelsPerMeter = 0;
    int32_t m_yPelsPerMeter = 0;
};
