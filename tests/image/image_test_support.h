// Helpers for the image loading tests: one small drawing written in every
// format the loader reads, temporary system folders, and the working
// bitmap a drawing must give.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <QImage>

// A drawing as ASCII art: '#' ink, anything else paper.
struct Drawing {
    std::vector<std::string> rows;
    int Width() const { return static_cast<int>(rows.front().size()); }
    int Height() const { return static_cast<int>(rows.size()); }
    bool Ink(int x, int y) const { return rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] == '#'; }
};

// 13 x 7, odd width so that 1- and 4-bit rows end inside a byte.
const Drawing& TestDrawing();

// Working bitmap bytes row by row (width bytes each, padding dropped).
std::vector<uint8_t> RowBytes(const QImage& image);
// What the drawing must give against the delivered base image: ink 0,
// paper 1 (the first white entry).
std::vector<uint8_t> ExpectedBytes(const Drawing& drawing);

// A QImage of the drawing: black ink on white paper, in `format`.
QImage DrawingImage(const Drawing& drawing, QImage::Format format);

// BMP files written byte by byte, in the variants the loader must read.
enum class BmpKind {
    Bits1, Bits1InkIsOne, Bits4, Bits8, Rle8, Rle4, Bits16, Bits24, Bits32Fields, TopDown, Os2Core, Os2Full
};
std::vector<uint8_t> DrawingBmp(const Drawing& drawing, BmpKind kind);

// A BMP with 8 bits per pixel and the given colour table (0xRRGGBB), every
// pixel `fill`.
std::vector<uint8_t> IndexedBmp(int width, int height, const std::vector<uint32_t>& colours, uint8_t fill = 0);
// A 24-bit BMP from rows of 0xRRGGBB.
std::vector<uint8_t> ColourBmp(const std::vector<std::vector<uint32_t>>& rows);

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// A system folder of its own: Vemo.sys naming `baseName` and the three
// plug-ins, the delivered base image under `baseName` (unless told not to
// write one) and copies of the built plug-ins.
struct SystemFolderLayout {
    std::string baseName = "Vemo_base.bmp";
    bool writeBase = true;
    std::string tifSpi = "vemo_tiff.spi";
    std::string pngSpi = "vemo_png.spi";
    std::string gifSpi = "vemo_gif.spi";
};
void MakeSystemFolder(const std::filesystem::path& folder, const SystemFolderLayout& layout = {});
