// Vemospi_tiff: the TIFF image plug-in (vemo_tiff.spi).
//
// Reads the first page of a TIFF file (or a TIFF held in memory) with
// libtiff and hands it back as a DIB. Scanner output is read natively,
// strips or tiles, any compression libtiff knows (CCITT G3/G4, LZW,
// PackBits, Deflate, none):
//  - 1-, 4- and 8-bit grey or palette pictures become a DIB of the same
//    depth with the matching colour table (1-bit G4 scans stay 1-bit);
//  - 16-bit grey becomes an 8-bit grey DIB, samples scaled to 8 bits;
//  - 8-bit RGB becomes a 24-bit DIB.
// X/YResolution, in inches or centimetres, go into the header's pixels per
// metre.
// Everything else (16-bit colour, alpha, CMYK, YCbCr, other orientations)
// goes through libtiff's RGBA reader, which scales 16-bit samples to 8,
// and becomes a 24-bit DIB with transparency composited onto white.
//
// libtiff's errors and warnings go to handlers of this plug-in, never to
// standard error; any error while decoding fails the whole picture.
//
// Reads: the picture. Writes: the two malloc blocks GetPicture returns.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <vector>

#include <tiffio.h>

#include "plugins/Vemospi_common.h"

namespace {

const char* const kPluginInfo[] = {"00IN", "Vemo TIFF plug-in 1.0 (libtiff)", "*.tif;*.tiff", "TIFF"};
const uint8_t kLittleEndian[] = {'I', 'I', 42, 0};
const uint8_t kBigEndian[] = {'M', 'M', 0, 42};
const uint8_t kBigTiffLittle[] = {'I', 'I', 43, 0};
const uint8_t kBigTiffBig[] = {'M', 'M', 0, 43};

bool HasSignature(std::span<const uint8_t> bytes) {
    return spi::StartsWith(bytes, kLittleEndian) || spi::StartsWith(bytes, kBigEndian) ||
           spi::StartsWith(bytes, kBigTiffLittle) || spi::StartsWith(bytes, kBigTiffBig);
}

// libtiff reads the picture through these, from memory (a file read whole or
// the caller's buffer).
struct MemoryFile {
    std::span<const uint8_t> bytes;
    uint64_t position = 0;
    bool failed = false;  // set by the error handler
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (size <= 0 || file->position >= file->bytes.size()) return 0;
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(size), file->bytes.size() - file->position);
    std::memcpy(buffer, file->bytes.data() + file->position, static_cast<std::size_t>(n));
    file->position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return 0; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR) base = file->position;
    if (whence == SEEK_END) base = file->bytes.size();
    if (offset > std::numeric_limits<uint64_t>::max() - base) return static_cast<toff_t>(-1);
    file->position = base + offset;
    return file->position;
}

int CloseProc(thandle_t) { return 0; }

toff_t SizeProc(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes.size(); }

// Handing libtiff the bytes as a "mapped file" lets it decode strips in
// place instead of copying them.
int MapProc(thandle_t handle, void** base, toff_t* size) {
    auto* file = static_cast<MemoryFile*>(handle);
    *base = const_cast<uint8_t*>(file->bytes.data());
    *size = file->bytes.size();
    return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char*, va_list) {
    static_cast<MemoryFile*>(user)->failed = true;
    return 1;  // handled: not passed on to the global handler
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The largest single allocation libtiff may make for one picture.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr tmsize_t kMaxSingleAllocation = tmsize_t{64} << 20;
#else
constexpr tmsize_t kMaxSingleAllocation = 0;  // no limit beyond the pixel limit
#endif

// An open TIFF over a MemoryFile; closed on every way out.
class TiffFile {
public:
    explicit TiffFile(MemoryFile& file) {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (options == nullptr) return;
        TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &file);
        TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, &file);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxSingleAllocation);
        m_tiff = TIFFClientOpenExt("picture", "r", &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                   MapProc, UnmapProc, options);
        TIFFOpenOptionsFree(options);
    }
    ~TiffFile() {
        if (m_tiff != nullptr) TIFFClose(m_tiff);
    }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;
    TIFF* get() const { return m_tiff; }

private:
    TIFF* m_tiff = nullptr;
};

// The fields of the first page that decide how it is read.
struct Page {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerSample = 1;
    uint16_t samplesPerPixel = 1;
    uint16_t photometric = 0;
    bool hasPhotometric = false;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t extraSamples = 0;
};

Page ReadPage(TIFF* tiff) {
    Page page;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &page.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &page.height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &page.bitsPerSample);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &page.samplesPerPixel);
    page.hasPhotometric = TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &page.photometric) == 1;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &page.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &page.orientation);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &page.sampleFormat);
    uint16_t* kinds = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &page.extraSamples, &kinds);
    return page;
}

// The page's resolution in pixels per metre (0 where unknown): X/YResolution
// in the page's unit, inch unless it says centimetre; a unit of "none" gives
// only an aspect ratio, no size.
void StoreResolution(TIFF* tiff, spi::DibBlocks& dib) {
    float x = 0.0f;
    float y = 0.0f;
    uint16_t unit = RESUNIT_INCH;
    const bool hasX = TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x) == 1;
    const bool hasY = TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y) == 1;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (!hasX || !hasY || unit == RESUNIT_NONE) return;
    const double perMetre = unit == RESUNIT_CENTIMETER ? 100.0 : 1.0 / 0.0254;
    dib.SetPelsPerMeter(x * perMetre, y * perMetre);
}

bool IsNativeIndexed(const Page& page) {
    const bool depth = page.bitsPerSample == 1 || page.bitsPerSample == 4 || page.bitsPerSample == 8;
    const bool kind = page.photometric == PHOTOMETRIC_MINISWHITE || page.photometric == PHOTOMETRIC_MINISBLACK ||
                      page.photometric == PHOTOMETRIC_PALETTE;
    return page.hasPhotometric && kind && depth && page.samplesPerPixel == 1 &&
           page.orientation == ORIENTATION_TOPLEFT && page.sampleFormat == SAMPLEFORMAT_UINT;
}

// 16-bit grey: handed over as 8-bit grey, a third of the 24-bit form the
// RGBA reader would give (and without its 4-byte-per-pixel raster).
bool IsNativeGrey16(const Page& page) {
    const bool grey = page.photometric == PHOTOMETRIC_MINISWHITE || page.photometric == PHOTOMETRIC_MINISBLACK;
    return page.hasPhotometric && grey && page.bitsPerSample == 16 && page.samplesPerPixel == 1 &&
           page.orientation == ORIENTATION_TOPLEFT && page.sampleFormat == SAMPLEFORMAT_UINT;
}

bool IsNativeRgb(const Page& page) {
    return page.hasPhotometric && page.photometric == PHOTOMETRIC_RGB && page.bitsPerSample == 8 &&
           page.samplesPerPixel == 3 && page.extraSamples == 0 && page.planar == PLANARCONFIG_CONTIG &&
           page.orientation == ORIENTATION_TOPLEFT && page.sampleFormat == SAMPLEFORMAT_UINT;
}

// 16-bit colour map values scaled to 8 bits. Some writers store 8-bit
// values in the 16-bit fields; libtiff's own reader accepts that too.
std::vector<uint32_t> ColourMap(TIFF* tiff, uint16_t bits) {
    uint16_t* red = nullptr;
    uint16_t* green = nullptr;
    uint16_t* blue = nullptr;
    const std::size_t count = std::size_t{1} << bits;
    std::vector<uint32_t> palette(count, 0x000000);
    if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue) return palette;
    bool eightBit = true;
    for (std::size_t i = 0; i < count && eightBit; ++i) eightBit = red[i] < 256 && green[i] < 256 && blue[i] < 256;
    const auto scale = [eightBit](uint16_t v) { return eightBit ? uint32_t{v} : (uint32_t{v} + 128u) / 257u; };
    for (std::size_t i = 0; i < count; ++i) palette[i] = (scale(red[i]) << 16) | (scale(green[i]) << 8) | scale(blue[i]);
    return palette;
}

std::vector<uint32_t> GreyPalette(uint16_t bits, bool whiteIsZero) {
    const uint32_t count = 1u << bits;
    std::vector<uint32_t> palette(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t grey = i * 255u / (count - 1);
        if (whiteIsZero) grey = 255u - grey;
        palette[i] = grey * 0x010101u;
    }
    return palette;
}

// Decodes the page row by row, top row first, handing each decoded row
// (TIFFScanlineSize bytes) to `take`. Works for strips and for tiles.
template <typename Take>
int ForEachRow(TIFF* tiff, const Page& page, const spi::Progress& steps, Take&& take) {
    const uint64_t rowBytes = static_cast<uint64_t>(TIFFScanlineSize64(tiff));
    const uint64_t pixelBits = uint64_t{page.bitsPerSample} * page.samplesPerPixel;
    if (rowBytes == 0 || rowBytes < (uint64_t{page.width} * pixelBits + 7) / 8) return kSpiOutOfOrder;

    if (!TIFFIsTiled(tiff)) {
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, page.height);
        std::vector<uint8_t> strip(static_cast<std::size_t>(rowBytes * rowsPerStrip));
        for (uint32_t top = 0; top < page.height; top += rowsPerStrip) {
            const uint32_t rows = std::min(rowsPerStrip, page.height - top);
            const tmsize_t want = static_cast<tmsize_t>(rowBytes * rows);
            const tmsize_t got = TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, top, 0), strip.data(), want);
            if (got != want) return kSpiOutOfOrder;
            for (uint32_t r = 0; r < rows; ++r) take(top + r, &strip[static_cast<std::size_t>(r * rowBytes)]);
            if (!steps.Step(top + rows, page.height)) return kSpiAbort;
        }
        return kSpiAllRight;
    }

    uint32_t tileWidth = 0;
    uint32_t tileHeight = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    // Tiles must start on byte boundaries for the copy below, and a tile
    // much larger than the picture is a broken file, not a picture.
    const uint64_t tilePixels = uint64_t{tileWidth} * tileHeight;
    if (tileWidth == 0 || tileHeight == 0 || (tileWidth * pixelBits) % 8 != 0 ||
        tilePixels > std::max<uint64_t>(uint64_t{page.width} * page.height, uint64_t{1} << 24)) {
        return kSpiOutOfOrder;
    }
    const uint64_t tileRowBytes = static_cast<uint64_t>(TIFFTileRowSize64(tiff));
    const uint64_t tileBytes = static_cast<uint64_t>(TIFFTileSize64(tiff));
    if (tileRowBytes != tileWidth * pixelBits / 8 || tileBytes != tileRowBytes * tileHeight) return kSpiOutOfOrder;
    std::vector<uint8_t> tile(static_cast<std::size_t>(tileBytes));
    const uint32_t bandRows = std::min(tileHeight, page.height);
    std::vector<uint8_t> band(static_cast<std::size_t>(rowBytes * bandRows));
    for (uint32_t top = 0; top < page.height; top += tileHeight) {
        const uint32_t rows = std::min(tileHeight, page.height - top);
        for (uint32_t left = 0; left < page.width; left += tileWidth) {
            const tmsize_t got = TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, left, top, 0, 0), tile.data(),
                                                     static_cast<tmsize_t>(tileBytes));
            if (got != static_cast<tmsize_t>(tileBytes)) return kSpiOutOfOrder;
            const uint64_t offset = uint64_t{left} * pixelBits / 8;
            const uint64_t bytes = std::min(tileRowBytes, rowBytes - offset);
            for (uint32_t r = 0; r < rows; ++r) {
                std::memcpy(&band[static_cast<std::size_t>(r * rowBytes + offset)],
                            &tile[static_cast<std::size_t>(r * tileRowBytes)], static_cast<std::size_t>(bytes));
            }
        }
        for (uint32_t r = 0; r < rows; ++r) take(top + r, &band[static_cast<std::size_t>(r * rowBytes)]);
        if (!steps.Step(top + rows, page.height)) return kSpiAbort;
    }
    return kSpiAllRight;
}

int ReadIndexed(TIFF* tiff, const Page& page, spi::DibBlocks& dib, const spi::Progress& steps) {
    const std::vector<uint32_t> palette = page.photometric == PHOTOMETRIC_PALETTE
                                              ? ColourMap(tiff, page.bitsPerSample)
                                              : GreyPalette(page.bitsPerSample,
                                                            page.photometric == PHOTOMETRIC_MINISWHITE);
    const int result = dib.Allocate(page.width, page.height, page.bitsPerSample, palette);
    if (result != kSpiAllRight) return result;
    // TIFF packs low-depth samples high bits first, as a DIB does.
    const std::size_t used = static_cast<std::size_t>((uint64_t{page.width} * page.bitsPerSample + 7) / 8);
    return ForEachRow(tiff, page, steps, [&](uint32_t y, const uint8_t* row) { std::memcpy(dib.RowFromTop(y), row, used); });
}

int ReadGrey16(TIFF* tiff, const Page& page, spi::DibBlocks& dib, const spi::Progress& steps) {
    const int result =
        dib.Allocate(page.width, page.height, 8, GreyPalette(8, page.photometric == PHOTOMETRIC_MINISWHITE));
    if (result != kSpiAllRight) return result;
    // libtiff hands 16-bit samples over in the host's byte order.
    return ForEachRow(tiff, page, steps, [&](uint32_t y, const uint8_t* row) {
        uint8_t* out = dib.RowFromTop(y);
        for (uint32_t x = 0; x < page.width; ++x) {
            uint16_t sample = 0;
            std::memcpy(&sample, row + 2 * x, sizeof sample);
            out[x] = static_cast<uint8_t>((uint32_t{sample} * 255u + 32767u) / 65535u);
        }
    });
}

int ReadRgb(TIFF* tiff, const Page& page, spi::DibBlocks& dib, const spi::Progress& steps) {
    const int result = dib.Allocate(page.width, page.height, 24, {});
    if (result != kSpiAllRight) return result;
    return ForEachRow(tiff, page, steps, [&](uint32_t y, const uint8_t* row) {
        uint8_t* out = dib.RowFromTop(y);
        for (uint32_t x = 0; x < page.width; ++x, row += 3, out += 3) {
            out[0] = row[2];
            out[1] = row[1];
            out[2] = row[0];
        }
    });
}

// libtiff's RGBA reader: any layout it understands, colour components
// pre-multiplied by alpha, so compositing onto white adds what alpha
// leaves uncovered.
int ReadThroughRgba(TIFF* tiff, const Page& page, spi::DibBlocks& dib) {
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tiff, message)) return kSpiNotSupport;
    std::vector<uint32_t> raster(static_cast<std::size_t>(page.width) * page.height);
    if (!TIFFReadRGBAImageOriented(tiff, page.width, page.height, raster.data(), ORIENTATION_BOTLEFT, 1)) {
        return kSpiOutOfOrder;
    }
    const int result = dib.Allocate(page.width, page.height, 24, {});
    if (result != kSpiAllRight) return result;
    const auto overWhite = [](uint32_t premultiplied, uint32_t alpha) {
        return static_cast<uint8_t>(std::min<uint32_t>(255u, premultiplied + 255u - alpha));
    };
    for (uint32_t i = 0; i < page.height; ++i) {
        const uint32_t* in = &raster[static_cast<std::size_t>(i) * page.width];
        uint8_t* out = dib.RowFromBottom(i);  // raster row 0 is the bottom row, as in the DIB
        for (uint32_t x = 0; x < page.width; ++x, out += 3) {
            const uint32_t alpha = TIFFGetA(in[x]);
            out[0] = overWhite(TIFFGetB(in[x]), alpha);
            out[1] = overWhite(TIFFGetG(in[x]), alpha);
            out[2] = overWhite(TIFFGetR(in[x]), alpha);
        }
    }
    return kSpiAllRight;
}

int ReadPicture(std::span<const uint8_t> bytes, spi::DibBlocks& dib, const spi::Progress& steps) {
    if (!HasSignature(bytes)) return kSpiNotSupport;
    MemoryFile file{bytes};
    const TiffFile tiffFile(file);
    TIFF* tiff = tiffFile.get();
    if (tiff == nullptr) return kSpiOutOfOrder;
    const Page page = ReadPage(tiff);
    if (!spi::WithinPixelLimit(page.width, page.height)) return page.width == 0 || page.height == 0 ? kSpiOutOfOrder : kSpiNoMemory;

    int result = kSpiAllRight;
    if (IsNativeIndexed(page)) {
        result = ReadIndexed(tiff, page, dib, steps);
    } else if (IsNativeGrey16(page)) {
        result = ReadGrey16(tiff, page, dib, steps);
    } else if (IsNativeRgb(page)) {
        result = ReadRgb(tiff, page, dib, steps);
    } else {
        result = ReadThroughRgba(tiff, page, dib);
    }
    if (result == kSpiAllRight && file.failed) result = kSpiOutOfOrder;
    if (result == kSpiAllRight) StoreResolution(tiff, dib);
    return result;
}

}  // namespace

VEMO_SPI_EXPORT int GetPluginInfo(int infono, char* buf, int buflen) {
    return spi::CopyPluginInfo(kPluginInfo, infono, buf, buflen);
}

VEMO_SPI_EXPORT int IsSupported(char* /*filename*/, SpiDword dw) {
    return spi::Guarded([&] { return HasSignature(spi::ReadHead(dw, sizeof kLittleEndian)) ? 1 : 0; });
}

VEMO_SPI_EXPORT int GetPictureInfo(char* buf, SpiLong len, unsigned int flag, SpiPictureInfo* info) {
    return spi::GetPictureInfoWith(buf, len, flag, info, [](std::span<const uint8_t> bytes, SpiPictureInfo& found) {
        if (!HasSignature(bytes)) return int{kSpiNotSupport};
        MemoryFile file{bytes};
        const TiffFile tiffFile(file);
        if (tiffFile.get() == nullptr) return int{kSpiOutOfOrder};
        const Page page = ReadPage(tiffFile.get());
        if (!spi::WithinPixelLimit(page.width, page.height)) return int{kSpiOutOfOrder};
        found.width = static_cast<SpiLong>(page.width);
        found.height = static_cast<SpiLong>(page.height);
        found.colorDepth = static_cast<int16_t>(IsNativeIndexed(page) ? page.bitsPerSample
                                                : IsNativeGrey16(page) ? 8
                                                                       : 24);
        return int{kSpiAllRight};
    });
}

VEMO_SPI_EXPORT int GetPicture(char* buf, SpiLong len, unsigned int flag, SpiHandle* pHBInfo, SpiHandle* pHBm,
                               SpiProgressCallback progress, SpiLong lData) {
    return spi::GetPictureWith(buf, len, flag, pHBInfo, pHBm, progress, lData, ReadPicture);
}
