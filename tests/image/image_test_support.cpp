// Helpers for the image loading tests (see the header).
#include "image_test_support.h"

#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

struct BmpLayout {
    uint32_t headerSize = 40;
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bits = 8;
    uint32_t compression = 0;
    std::vector<uint32_t> colours;  // 0xRRGGBB
    std::vector<uint32_t> masks;    // written after a 40-byte header
};

// File header, information header, masks, colour table, then `pixels`.
std::vector<uint8_t> AssembleBmp(const BmpLayout& layout, const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> info;
    Put32(info, layout.headerSize);
    if (layout.headerSize == 12) {
        Put16(info, static_cast<uint32_t>(layout.width));
        Put16(info, static_cast<uint32_t>(layout.height));
        Put16(info, 1);
        Put16(info, static_cast<uint32_t>(layout.bits));
    } else {
        Put32(info, static_cast<uint32_t>(layout.width));
        Put32(info, static_cast<uint32_t>(layout.topDown ? -layout.height : layout.height));
        Put16(info, 1);
        Put16(info, static_cast<uint32_t>(layout.bits));
        Put32(info, layout.compression);
        Put32(info, static_cast<uint32_t>(pixels.size()));
        Put32(info, 2835);
        Put32(info, 2835);
        Put32(info, static_cast<uint32_t>(layout.colours.size()));
        Put32(info, 0);
        while (info.size() < layout.headerSize) info.push_back(0);
    }
    for (const uint32_t mask : layout.masks) Put32(info, mask);
    for (const uint32_t colour : layout.colours) {
        info.push_back(static_cast<uint8_t>(colour));
        info.push_back(static_cast<uint8_t>(colour >> 8));
        info.push_back(static_cast<uint8_t>(colour >> 16));
        if (layout.headerSize != 12) info.push_back(0);
    }
    std::vector<uint8_t> file = {'B', 'M'};
    Put32(file, static_cast<uint32_t>(14 + info.size() + pixels.size()));
    Put32(file, 0);
    Put32(file, static_cast<uint32_t>(14 + info.size()));
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

// Uncompressed rows in file order; `value(x, y)` is the pixel's index or
// packed value of `bits` bits.
std::vector<uint8_t> PackRows(int width, int height, int bits, bool topDown,
                              const std::function<uint32_t(int, int)>& value) {
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
    std::vector<uint8_t> out(rowBytes * static_cast<std::size_t>(height), 0);
    for (int s = 0; s < height; ++s) {
        const int y = topDown ? s : height - 1 - s;
        uint8_t* row = &out[static_cast<std::size_t>(s) * rowBytes];
        for (int x = 0; x < width; ++x) {
            const uint32_t v = value(x, y);
            if (bits < 8) {
                const int shift = 8 - bits - (x * bits) % 8;
                row[x * bits / 8] = static_cast<uint8_t>(row[x * bits / 8] | (v << shift));
            } else {
                for (int b = 0; b < bits / 8; ++b) row[x * bits / 8 + b] = static_cast<uint8_t>(v >> (8 * b));
            }
        }
    }
    return out;
}

// Run-length rows (bottom-up): one run per stretch of equal pixels, each
// line ended, the picture ended.
std::vector<uint8_t> EncodeRle(int width, int height, bool fourBit, const std::function<uint8_t(int, int)>& value) {
    std::vector<uint8_t> out;
    for (int s = 0; s < height; ++s) {
        const int y = height - 1 - s;
        int x = 0;
        while (x < width) {
            int run = 1;
            while (x + run < width && run < 255 && value(x + run, y) == value(x, y)) ++run;
            out.push_back(static_cast<uint8_t>(run));
            const uint8_t v = value(x, y);
            out.push_back(fourBit ? static_cast<uint8_t>((v << 4) | v) : v);
            x += run;
        }
        out.push_back(0);
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(1);
    return out;
}

std::vector<uint32_t> Palette(std::size_t size, uint32_t fill) { return std::vector<uint32_t>(size, fill); }

}  // namespace

const Drawing& TestDrawing() {
    static const Drawing drawing{{
        "#............",
        ".###.....#...",
        ".#.#....###..",
        ".###.....#...",
        "......#......",
        "..#######....",
        "............#",
    }};
    return drawing;
}

std::vector<uint8_t> RowBytes(const QImage& image) {
    std::vector<uint8_t> bytes;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        bytes.insert(bytes.end(), row, row + image.width());
    }
    return bytes;
}

std::vector<uint8_t> ExpectedBytes(const Drawing& drawing) {
    std::vector<uint8_t> bytes;
    for (int y = 0; y < drawing.Height(); ++y) {
        for (int x = 0; x < drawing.Width(); ++x) bytes.push_back(drawing.Ink(x, y) ? 0 : 1);
    }
    return bytes;
}

QImage DrawingImage(const Drawing& drawing, QImage::Format format) {
    QImage image(drawing.Width(), drawing.Height(), QImage::Format_ARGB32);
    for (int y = 0; y < drawing.Height(); ++y) {
        for (int x = 0; x < drawing.Width(); ++x) image.setPixel(x, y, drawing.Ink(x, y) ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    }
    return image.convertToFormat(format);
}

std::vector<uint8_t> DrawingBmp(const Drawing& drawing, BmpKind kind) {
    BmpLayout layout;
    layout.width = drawing.Width();
    layout.height = drawing.Height();
    const auto ink = [&](int x, int y) { return drawing.Ink(x, y); };
    std::function<uint32_t(int, int)> value;
    switch (kind) {
    case BmpKind::Bits1:
    case BmpKind::Os2Core:
        layout.headerSize = kind == BmpKind::Os2Core ? 12 : 40;
        layout.bits = 1;
        layout.colours = {0x000000, 0xFFFFFF};
        value = [&](int x, int y) { return ink(x, y) ? 0u : 1u; };
        break;
    case BmpKind::Bits1InkIsOne:
        layout.bits = 1;
        layout.colours = {0xFFFFFF, 0x000000};
        value = [&](int x, int y) { return ink(x, y) ? 1u : 0u; };
        break;
    case BmpKind::Bits4:
    case BmpKind::Rle4:
        // Ink at index 9, so that nibble order matters.
        layout.bits = 4;
        layout.colours = Palette(16, 0xFFFFFF);
        layout.colours[9] = 0x000000;
        layout.compression = kind == BmpKind::Rle4 ? 2 : 0;
        value = [&](int x, int y) { return ink(x, y) ? 9u : 2u; };
        break;
    case BmpKind::Bits8:
    case BmpKind::Rle8:
    case BmpKind::TopDown:
    case BmpKind::Os2Full:
        layout.headerSize = kind == BmpKind::Os2Full ? 64 : 40;
        layout.bits = 8;
        layout.colours = Palette(256, 0xFFFFFF);
        layout.colours[200] = 0x000000;
        layout.compression = kind == BmpKind::Rle8 ? 1 : 0;
        layout.topDown = kind == BmpKind::TopDown;
        value = [&](int x, int y) { return ink(x, y) ? 200u : 7u; };
        break;
    case BmpKind::Bits16:
        layout.bits = 16;
        value = [&](int x, int y) { return ink(x, y) ? 0x0000u : 0x7FFFu; };
        break;
    case BmpKind::Bits24:
        layout.bits = 24;
        value = [&](int x, int y) { return ink(x, y) ? 0x000000u : 0xFFFFFFu; };
        break;
    case BmpKind::Bits32Fields:
        // Unusual masks: red in the top byte, blue in the second lowest.
        layout.bits = 32;
        layout.compression = 3;
        layout.masks = {0xFF000000u, 0x00FF0000u, 0x0000FF00u};
        value = [&](int x, int y) { return ink(x, y) ? 0x00000000u : 0xFFFFFF00u; };
        break;
    }
    std::vector<uint8_t> pixels;
    if (layout.compression == 1 || layout.compression == 2) {
        pixels = EncodeRle(layout.width, layout.height, layout.compression == 2,
                           [&](int x, int y) { return static_cast<uint8_t>(value(x, y)); });
    } else {
        pixels = PackRows(layout.width, layout.height, layout.bits, layout.topDown, value);
    }
    return AssembleBmp(layout, pixels);
}

std::vector<uint8_t> IndexedBmp(int width, int height, const std::vector<uint32_t>& colours, uint8_t fill) {
    BmpLayout layout;
    layout.width = width;
    layout.height = height;
    layout.colours = colours;
    return AssembleBmp(layout, PackRows(width, height, 8, false, [fill](int, int) { return uint32_t{fill}; }));
}

std::vector<uint8_t> ColourBmp(const std::vector<std::vector<uint32_t>>& rows) {
    BmpLayout layout;
    layout.width = static_cast<int>(rows.front().size());
    layout.height = static_cast<int>(rows.size());
    layout.bits = 24;
    return AssembleBmp(layout, PackRows(layout.width, layout.height, 24, false, [&](int x, int y) {
                           return rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
                       }));
}

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vemo-image-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void MakeSystemFolder(const std::filesystem::path& folder, const SystemFolderLayout& layout) {
    std::filesystem::create_directories(folder);
    std::ofstream settings(folder / "Vemo.sys", std::ios::binary);
    settings << "[SYSTEM]\nDEFDATA=\nDEFFLD=\nBASBMP=" << layout.baseName << "\nPIXSTEP=1\n"
             << "[SPINAME]\nTIFSPI=" << layout.tifSpi << "\nPNGSPI=" << layout.pngSpi << "\nGIFSPI=" << layout.gifSpi << "\n";
    settings.close();
    const std::filesystem::path delivered(VEMO_SYSTEM_DIR);
    if (layout.writeBase) {
        std::filesystem::copy_file(delivered / "Vemo_base.bmp", folder / layout.baseName,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    for (const char* plugin : {"vemo_tiff.spi", "vemo_png.spi", "vemo_gif.spi"}) {
        std::filesystem::copy_file(delivered / plugin, folder / plugin, std::filesystem::copy_options::overwrite_existing);
    }
}
