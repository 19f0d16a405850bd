// vemo-trace --svg end to end: the sample plan traced, its SVG rendered by
// a real SVG renderer (rsvg-convert), and the rendering laid over the scan.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <png.h>

#include "test_support.h"

namespace {

// A picture as a grid of flags: ink in the scan, paint in the rendering.
struct Grid {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> set;

    bool At(int x, int y) const {
        return x >= 0 && y >= 0 && x < width && y < height && set[static_cast<std::size_t>(y) * width + x] != 0;
    }
    // True when a set cell lies within `radius` cells (a square window).
    bool Near(int x, int y, int radius) const {
        for (int dy = -radius; dy <= radius; ++dy) {
            for (int dx = -radius; dx <= radius; ++dx) {
                if (At(x + dx, y + dy)) return true;
            }
        }
        return false;
    }
};

uint32_t Little(const std::string& bytes, std::size_t at, int size) {
    uint32_t value = 0;
    for (int i = 0; i < size; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
    return value;
}

// The ink of a 1-bit bottom-up BMP: the pixels whose colour entry is dark.
Grid ReadMonochromeBmp(const std::string& path) {
    const std::string bytes = ReadFile(path);
    Grid grid;
    if (bytes.size() < 62 || bytes.substr(0, 2) != "BM" || Little(bytes, 28, 2) != 1) {
        ADD_FAILURE() << path << " is not a 1-bit BMP";
        return grid;
    }
    const uint32_t pixels = Little(bytes, 10, 4);
    const uint32_t headerSize = Little(bytes, 14, 4);
    grid.width = static_cast<int>(Little(bytes, 18, 4));
    grid.height = static_cast<int>(Little(bytes, 22, 4));
    bool inkEntry[2];
    for (int entry = 0; entry < 2; ++entry) {
        const std::size_t at = 14 + headerSize + 4 * entry;
        inkEntry[entry] = Little(bytes, at, 1) + Little(bytes, at + 1, 1) + Little(bytes, at + 2, 1) < 384;
    }
    const std::size_t stride = (static_cast<std::size_t>(grid.width) + 31) / 32 * 4;
    grid.set.resize(static_cast<std::size_t>(grid.width) * grid.height);
    for (int y = 0; y < grid.height; ++y) {
        const std::size_t row = pixels + (grid.height - 1 - y) * stride;
        for (int x = 0; x < grid.width; ++x) {
            const int bit = (static_cast<uint8_t>(bytes.at(row + x / 8)) >> (7 - x % 8)) & 1;
            grid.set[static_cast<std::size_t>(y) * grid.width + x] = inkEntry[bit] ? 1 : 0;
        }
    }
    return grid;
}

// The painted pixels of a PNG rendered on a transparent background.
Grid ReadPaint(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Grid grid;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        ADD_FAILURE() << path << ": " << image.message;
        return grid;
    }
    image.format = PNG_FORMAT_GA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) {
        ADD_FAILURE() << path << ": " << image.message;
        return grid;
    }
    grid.width = static_cast<int>(image.width);
    grid.height = static_cast<int>(image.height);
    grid.set.resize(static_cast<std::size_t>(grid.width) * grid.height);
    for (std::size_t i = 0; i < grid.set.size(); ++i) grid.set[i] = pixels[2 * i + 1] >= 128 && pixels[2 * i] < 128;
    return grid;
}

// Catches a y axis turned upward, a lost or doubled ratio, a wrong size or
// viewBox, lost polylines and a file no renderer accepts: the centre lines
// must lie on the ink, and the ink must lie along the centre lines.
// With --fit the entities are drawn with their pens' widths: a pen
// measured wider than its ink would paint off it.
class CliSvg : public testing::TestWithParam<const char*> {};

INSTANTIATE_TEST_SUITE_P(PolylinesAndEntities, CliSvg, testing::Values("", "--fit"));

TEST_P(CliSvg, TheRenderingLiesOnTheInkOfTheScan) {
    TempFolder folder;
    const std::string scan = std::string(VEMO_SOURCE_DIR) + "/samples/plan.bmp";
    std::filesystem::copy_file(scan, folder.File("plan.bmp"));
    const std::string trace = std::string("'") + VEMO_BUILD_DIR + "/vemo-trace' --quiet --svg --no-txt --no-dxf " + GetParam() + " " +
                              "--no-a10 '" + folder.File("plan.bmp") + "' >/dev/null";
    ASSERT_EQ(std::system(trace.c_str()), 0);
    ASSERT_EQ(FilesIn(folder.Path()).size(), 2u) << "the scan and its SVG, nothing else";
    const std::string render = "rsvg-convert -o '" + folder.File("plan.png") + "' '" + folder.File("plan.svg") + "'";
    ASSERT_EQ(std::system(render.c_str()), 0) << "rsvg-convert (librsvg2-bin) refuses the file";

    const Grid ink = ReadMonochromeBmp(folder.File("plan.bmp"));
    const Grid paint = ReadPaint(folder.File("plan.png"));
    ASSERT_EQ(paint.width, ink.width);
    ASSERT_EQ(paint.height, ink.height);

    // The outer walls of the sample are 9 pixels thick: their ink lies
    // within 5 pixels of the centre line. The line's own pixels, its round
    // caps included, lie within 2 pixels of ink.
    long inkPixels = 0, inkFarFromPaint = 0, paintPixels = 0, paintOffInk = 0;
    for (int y = 0; y < ink.height; ++y) {
        for (int x = 0; x < ink.width; ++x) {
            if (ink.At(x, y)) {
                ++inkPixels;
                if (!paint.Near(x, y, 5)) ++inkFarFromPaint;
            }
            if (paint.At(x, y)) {
                ++paintPixels;
                if (!ink.Near(x, y, 2)) ++paintOffInk;
            }
        }
    }
    ASSERT_GT(inkPixels, 1000);
    ASSERT_GT(paintPixels, 1000);
    // A few corner pixels of the thickest walls may stay uncovered.
    EXPECT_LE(inkFarFromPaint * 1000, inkPixels) << inkFarFromPaint << " of " << inkPixels << " ink pixels uncovered";
    EXPECT_LE(paintOffInk * 1000, paintPixels) << paintOffInk << " of " << paintPixels << " painted pixels off the ink";
}

}  // namespace
