// Vemospi_gif: the GIF image plug-in (vemo_gif.spi).
//
// Reads the first frame of a GIF file (or a GIF held in memory) with
// giflib 5 and places it on the file's logical screen, as a viewer shows
// the file before any animation runs. Screen pixels the frame does not
// cover, and the frame's transparent pixels, are white paper. Later frames
// are never decoded. The result is an 8-bit DIB with the frame's colour
// table, or a 1-bit DIB when the picture has two colours. A frame whose
// data ends early is refused rather than handed back half blank.
//
// Reads: the picture. Writes: the two malloc blocks GetPicture returns.
// giflib reports through return codes only; nothing is printed.
#include <algorithm>
#include <cstring>
#include <vector>

#include <gif_lib.h>

#include "plugins/Vemospi_common.h"

namespace {

const char* const kPluginInfo[] = {"00IN", "Vemo GIF plug-in 1.0 (giflib)", "*.gif", "GIF"};
const uint8_t kSignature87[] = {'G', 'I', 'F', '8', '7', 'a'};
const uint8_t kSignature89[] = {'G', 'I', 'F', '8', '9', 'a'};

bool HasSignature(std::span<const uint8_t> bytes) {
    return spi::StartsWith(bytes, kSignature87) || spi::StartsWith(bytes, kSignature89);
}

struct MemoryReader {
    std::span<const uint8_t> bytes;
    std::size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int count) {
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    if (count <= 0) return 0;
    const std::size_t n = std::min(static_cast<std::size_t>(count), reader->bytes.size() - reader->position);
    std::memcpy(out, reader->bytes.data() + reader->position, n);
    reader->position += n;
    return static_cast<int>(n);
}

// DGifCloseFile on every way out.
class GifFile {
public:
    explicit GifFile(MemoryReader& reader) {
        int error = 0;
        m_gif = DGifOpen(&reader, ReadFromMemory, &error);
    }
    ~GifFile() {
        int error = 0;
        if (m_gif != nullptr) DGifCloseFile(m_gif, &error);
    }
    GifFile(const GifFile&) = delete;
    GifFile& operator=(const GifFile&) = delete;
    GifFileType* get() const { return m_gif; }

private:
    GifFileType* m_gif = nullptr;
};

// The logical screen: its size, or the frame's extent when the screen is
// given as 0 x 0 (some writers do).
struct Screen {
    uint32_t width = 0;
    uint32_t height = 0;
};

Screen ScreenOf(const GifFileType* gif) {
    Screen screen{static_cast<uint32_t>(std::max(gif->SWidth, 0)), static_cast<uint32_t>(std::max(gif->SHeight, 0))};
    if (screen.width == 0 || screen.height == 0) {
        screen.width = static_cast<uint32_t>(std::max(gif->Image.Left, 0) + std::max(gif->Image.Width, 0));
        screen.height = static_cast<uint32_t>(std::max(gif->Image.Top, 0) + std::max(gif->Image.Height, 0));
    }
    return screen;
}

// Reads records up to the first image descriptor, keeping the transparent
// index of the graphic control extension in front of it (-1: none).
int FindFirstFrame(GifFileType* gif, int& transparent) {
    transparent = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return kSpiOutOfOrder;
        if (type == IMAGE_DESC_RECORD_TYPE) {
            return DGifGetImageDesc(gif) == GIF_ERROR ? kSpiOutOfOrder : kSpiAllRight;
        }
        if (type != EXTENSION_RECORD_TYPE) return kSpiOutOfOrder;  // trailer before any frame
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return kSpiOutOfOrder;
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
            transparent = (block[1] & 0x01) ? block[4] : -1;
        }
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return kSpiOutOfOrder;
        }
    }
}

int ReadPicture(std::span<const uint8_t> bytes, spi::DibBlocks& dib, const spi::Progress& steps) {
    if (!HasSignature(bytes)) return kSpiNotSupport;
    MemoryReader reader{bytes};
    const GifFile file(reader);
    GifFileType* gif = file.get();
    if (gif == nullptr) return kSpiOutOfOrder;
    int transparent = -1;
    int result = FindFirstFrame(gif, transparent);
    if (result != kSpiAllRight) return result;

    const GifImageDesc& frame = gif->Image;
    const Screen screen = ScreenOf(gif);
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0) return kSpiOutOfOrder;
    if (!spi::WithinPixelLimit(screen.width, screen.height) || !spi::WithinPixelLimit(frame.Width, frame.Height)) {
        return kSpiNoMemory;
    }

    // Colour table: the frame's own, else the global one, else a grey ramp
    // (a GIF may leave the colours to the decoder). Always 256 entries so
    // that every index a broken file might hold has a colour.
    const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    std::vector<uint32_t> palette(256, 0x000000);
    std::size_t used = 256;
    if (map != nullptr && map->Colors != nullptr) {
        used = static_cast<std::size_t>(std::clamp(map->ColorCount, 1, 256));
        for (std::size_t i = 0; i < used; ++i) {
            const GifColorType& c = map->Colors[i];
            palette[i] = (uint32_t{c.Red} << 16) | (uint32_t{c.Green} << 8) | c.Blue;
        }
    } else {
        for (uint32_t i = 0; i < 256; ++i) palette[i] = i * 0x010101u;
    }
    if (transparent >= 0) {
        palette[static_cast<std::size_t>(transparent)] = 0xFFFFFF;
        used = std::max(used, static_cast<std::size_t>(transparent) + 1);
    }
    // The paper around the frame.
    int paper = transparent;
    if (paper < 0 && used < 256) {
        paper = static_cast<int>(used++);
        palette[static_cast<std::size_t>(paper)] = 0xFFFFFF;
    } else if (paper < 0) {
        paper = spi::NearestToWhite(palette);
    }

    std::vector<uint8_t> canvas(static_cast<std::size_t>(screen.width) * screen.height, static_cast<uint8_t>(paper));
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    const uint32_t left = static_cast<uint32_t>(frame.Left);
    const uint32_t top = static_cast<uint32_t>(frame.Top);
    const uint32_t copyWidth = left < screen.width ? std::min<uint32_t>(frame.Width, screen.width - left) : 0;

    // Interlaced frames arrive in four passes.
    const int interlacedStart[] = {0, 4, 2, 1};
    const int interlacedStep[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    int rowsDone = 0;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = frame.Interlace ? interlacedStart[pass] : 0;
        const int step = frame.Interlace ? interlacedStep[pass] : 1;
        for (int row = start; row < frame.Height; row += step) {
            if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) return kSpiOutOfOrder;
            const uint32_t y = top + static_cast<uint32_t>(row);
            if (y < screen.height && copyWidth > 0) {
                std::memcpy(&canvas[static_cast<std::size_t>(y) * screen.width + left], line.data(), copyWidth);
            }
            if ((++rowsDone & 255) == 0 && !steps.Step(rowsDone, frame.Height)) return kSpiAbort;
        }
    }
    palette.resize(used);
    return spi::MakeIndexedDib(canvas.data(), screen.width, screen.width, screen.height, palette, dib);
}

}  // namespace

VEMO_SPI_EXPORT int GetPluginInfo(int infono, char* buf, int buflen) {
    return spi::CopyPluginInfo(kPluginInfo, infono, buf, buflen);
}

VEMO_SPI_EXPORT int IsSupported(char* /*filename*/, SpiDword dw) {
    return spi::Guarded([&] { return HasSignature(spi::ReadHead(dw, sizeof kSignature89)) ? 1 : 0; });
}

VEMO_SPI_EXPORT int GetPictureInfo(char* buf, SpiLong len, unsigned int flag, SpiPictureInfo* info) {
    return spi::GetPictureInfoWith(buf, len, flag, info, [](std::span<const uint8_t> bytes, SpiPictureInfo& found) {
        if (!HasSignature(bytes)) return int{kSpiNotSupport};
        MemoryReader reader{bytes};
        const GifFile file(reader);
        if (file.get() == nullptr) return int{kSpiOutOfOrder};
        int transparent = -1;
        const int result = FindFirstFrame(file.get(), transparent);
        if (result != kSpiAllRight) return result;
        const Screen screen = ScreenOf(file.get());
        found.width = static_cast<SpiLong>(screen.width);
        found.height = static_cast<SpiLong>(screen.height);
        found.colorDepth = 8;
        return int{kSpiAllRight};
    });
}

VEMO_SPI_EXPORT int GetPicture(char* buf, SpiLong len, unsigned int flag, SpiHandle* pHBInfo, SpiHandle* pHBm,
                               SpiProgressCallback progress, SpiLong lData) {
    return spi::GetPictureWith(buf, len, flag, pHBInfo, pHBm, progress, lData, ReadPicture);
}
