// Vemospi_png: the PNG image plug-in (vemo_png.spi).
//
// Reads a PNG file (or a PNG held in memory) with libpng's simplified API
// and hands it back as a DIB:
//  - palette pictures as an 8-bit DIB with their palette, or a 1-bit DIB
//    when the palette has two entries;
//  - grey pictures as an 8-bit DIB with a grey ramp, or a 1-bit black and
//    white DIB when every pixel is black or white (1-bit scans);
//  - colour pictures as a 24-bit DIB.
// A pHYs resolution in pixels per metre goes into the header.
// Transparency is composited onto white in plain sRGB values, palette
// entries included. 16-bit samples without gamma information are taken as
// sRGB, so they are scaled to 8 bits rather than gamma-converted. libpng's
// simplified API keeps its warnings in the png_image; nothing is printed.
//
// Reads: the picture. Writes: the two malloc blocks GetPicture returns.
#include <cstring>
#include <vector>

#include <png.h>

#include "plugins/Vemospi_common.h"

namespace {

const char* const kPluginInfo[] = {"00IN", "Vemo PNG plug-in 1.0 (libpng)", "*.png", "PNG"};
const uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// png_image_free on every way out; harmless after png_image_finish_read.
class PngImage {
public:
    PngImage() {
        std::memset(&m_image, 0, sizeof m_image);
        m_image.version = PNG_IMAGE_VERSION;
    }
    ~PngImage() { png_image_free(&m_image); }
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;
    png_image* operator->() { return &m_image; }
    png_image* get() { return &m_image; }

private:
    png_image m_image;
};

int BeginRead(std::span<const uint8_t> bytes, PngImage& image) {
    if (!spi::StartsWith(bytes, kSignature)) return kSpiNotSupport;
    if (!png_image_begin_read_from_memory(image.get(), bytes.data(), bytes.size())) return kSpiOutOfOrder;
    if (!spi::WithinPixelLimit(image->width, image->height)) return kSpiNoMemory;
    image->flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    return kSpiAllRight;
}

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// The pHYs chunk's resolution, when it is in pixels per metre (unit 1; unit
// 0 gives only an aspect ratio). libpng's simplified API does not report
// it, so the chunks before the first IDAT are walked here; libpng has
// checked their layout and checksums by the time this runs.
void StoreResolution(std::span<const uint8_t> bytes, spi::DibBlocks& dib) {
    std::size_t pos = sizeof kSignature;
    while (bytes.size() - pos >= 12) {
        const uint32_t length = BigEndian32(&bytes[pos]);
        const uint8_t* type = &bytes[pos + 4];
        if (std::memcmp(type, "IDAT", 4) == 0 || length > bytes.size() - pos - 12) return;
        if (std::memcmp(type, "pHYs", 4) == 0 && length == 9) {
            const uint8_t* data = type + 4;
            if (data[8] == 1) dib.SetPelsPerMeter(BigEndian32(data), BigEndian32(data + 4));
            return;
        }
        pos += std::size_t{12} + length;
    }
}

std::vector<uint32_t> GreyRamp() {
    std::vector<uint32_t> ramp(256);
    for (uint32_t i = 0; i < 256; ++i) ramp[i] = i * 0x010101u;
    return ramp;
}

int ReadPalettePicture(PngImage& image, spi::DibBlocks& dib) {
    const uint32_t width = image->width;
    const uint32_t height = image->height;
    image->format = PNG_FORMAT_RGBA_COLORMAP;
    std::vector<uint8_t> colormap(PNG_IMAGE_MAXIMUM_COLORMAP_COMPONENTS(PNG_FORMAT_RGBA_COLORMAP));
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height);
    if (!png_image_finish_read(image.get(), nullptr, pixels.data(), static_cast<png_int_32>(width), colormap.data())) {
        return kSpiOutOfOrder;
    }
    std::vector<uint32_t> palette(image->colormap_entries);
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const uint8_t* entry = &colormap[4 * i];
        palette[i] = (uint32_t{spi::OverWhite(entry[0], entry[3])} << 16) |
                     (uint32_t{spi::OverWhite(entry[1], entry[3])} << 8) | spi::OverWhite(entry[2], entry[3]);
    }
    return spi::MakeIndexedDib(pixels.data(), width, width, height, palette, dib);
}

int ReadGreyPicture(PngImage& image, spi::DibBlocks& dib) {
    const uint32_t width = image->width;
    const uint32_t height = image->height;
    const bool alpha = (image->format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image->format = alpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY;
    const std::size_t channels = alpha ? 2 : 1;
    const std::size_t count = static_cast<std::size_t>(width) * height;
    std::vector<uint8_t> pixels(count * channels);
    if (!png_image_finish_read(image.get(), nullptr, pixels.data(), static_cast<png_int_32>(width * channels),
                               nullptr)) {
        return kSpiOutOfOrder;
    }
    if (alpha) {
        for (std::size_t i = 0; i < count; ++i) pixels[i] = spi::OverWhite(pixels[2 * i], pixels[2 * i + 1]);
    }
    bool bilevel = true;
    for (std::size_t i = 0; i < count && bilevel; ++i) bilevel = pixels[i] == 0 || pixels[i] == 255;
    if (bilevel) {
        for (std::size_t i = 0; i < count; ++i) pixels[i] = pixels[i] != 0 ? 1 : 0;
        const uint32_t blackWhite[] = {0x000000, 0xFFFFFF};
        return spi::MakeIndexedDib(pixels.data(), width, width, height, blackWhite, dib);
    }
    return spi::MakeIndexedDib(pixels.data(), width, width, height, GreyRamp(), dib);
}

int ReadColourPicture(PngImage& image, spi::DibBlocks& dib) {
    const uint32_t width = image->width;
    const uint32_t height = image->height;
    const bool alpha = (image->format & PNG_FORMAT_FLAG_ALPHA) != 0;
    int result = dib.Allocate(width, height, 24, {});
    if (result != kSpiAllRight) return result;
    if (!alpha) {
        // Straight into the DIB: BGR order, bottom row first (negative stride).
        if (dib.RowBytes() > static_cast<uint64_t>(INT32_MAX)) return kSpiNoMemory;
        image->format = PNG_FORMAT_BGR;
        return png_image_finish_read(image.get(), nullptr, dib.RowFromBottom(0),
                                     -static_cast<png_int_32>(dib.RowBytes()), nullptr)
                   ? kSpiAllRight
                   : kSpiOutOfOrder;
    }
    image->format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    if (!png_image_finish_read(image.get(), nullptr, pixels.data(), static_cast<png_int_32>(width * 4), nullptr)) {
        return kSpiOutOfOrder;
    }
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = &pixels[static_cast<std::size_t>(y) * width * 4];
        uint8_t* out = dib.RowFromTop(y);
        for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
            out[0] = spi::OverWhite(in[0], in[3]);
            out[1] = spi::OverWhite(in[1], in[3]);
            out[2] = spi::OverWhite(in[2], in[3]);
        }
    }
    return kSpiAllRight;
}

int ReadPicture(std::span<const uint8_t> bytes, spi::DibBlocks& dib) {
    PngImage image;
    const int result = BeginRead(bytes, image);
    if (result != kSpiAllRight) return result;
    if (static_cast<uint64_t>(image->width) * 4 > static_cast<uint64_t>(INT32_MAX)) return kSpiNoMemory;
    const int read = (image->format & PNG_FORMAT_FLAG_COLORMAP) ? ReadPalettePicture(image, dib)
                     : !(image->format & PNG_FORMAT_FLAG_COLOR)  ? ReadGreyPicture(image, dib)
                                                                 : ReadColourPicture(image, dib);
    if (read == kSpiAllRight) StoreResolution(bytes, dib);
    return read;
}

}  // namespace

VEMO_SPI_EXPORT int GetPluginInfo(int infono, char* buf, int buflen) {
    return spi::CopyPluginInfo(kPluginInfo, infono, buf, buflen);
}

VEMO_SPI_EXPORT int IsSupported(char* /*filename*/, SpiDword dw) {
    return spi::Guarded([&] { return spi::StartsWith(spi::ReadHead(dw, sizeof kSignature), kSignature) ? 1 : 0; });
}

VEMO_SPI_EXPORT int GetPictureInfo(char* buf, SpiLong len, unsigned int flag, SpiPictureInfo* info) {
    return spi::GetPictureInfoWith(buf, len, flag, info, [](std::span<const uint8_t> bytes, SpiPictureInfo& found) {
        PngImage image;
        const int result = BeginRead(bytes, image);
        if (result != kSpiAllRight) return result;
        found.width = static_cast<SpiLong>(image->width);
        found.height = static_cast<SpiLong>(image->height);
        found.colorDepth = (image->format & PNG_FORMAT_FLAG_COLORMAP) ? 8
                           : (image->format & PNG_FORMAT_FLAG_COLOR) ? 24
                                                                      : 8;
        return int{kSpiAllRight};
    });
}

VEMO_SPI_EXPORT int GetPicture(char* buf, SpiLong len, unsigned int flag, SpiHandle* pHBInfo, SpiHandle* pHBm,
                               SpiProgressCallback progress, SpiLong lData) {
    return spi::GetPictureWith(buf, len, flag, pHBInfo, pHBm, progress, lData,
                               [](std::span<const uint8_t> bytes, spi::DibBlocks& dib, const spi::Progress& steps) {
                                   if (!steps.Step(0, 1)) return int{kSpiAbort};
                                   const int result = ReadPicture(bytes, dib);
                                   if (result != kSpiAllRight) return result;
                                   return steps.Step(1, 1) ? int{kSpiAllRight} : int{kSpiAbort};
                               });
}
