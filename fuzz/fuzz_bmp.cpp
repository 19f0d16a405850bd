// Fuzz target: a BMP file through the image loader's reader and colour
// mapping, as TVemo_bmpset reads one (both forms of the working bitmap,
// which must agree on the ink), and the same bytes as a packed DIB, as the
// plug-in loader reads one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "image/Vemo_colourmap.h"
#include "image/Vemo_dib.h"

namespace {

// The delivered base image's table: black, then white.
std::vector<Rgb> BaseColours() {
    std::vector<Rgb> colours(256, MakeRgb(255, 255, 255));
    colours[0] = MakeRgb(0, 0, 0);
    return colours;
}

void MapRows(TVemo_colourmap& colours, int width, const uint8_t* source) {
    std::vector<uint8_t> bytes(static_cast<std::size_t>(width));
    std::vector<uint64_t> ink((static_cast<std::size_t>(width) + 63) / 64);
    colours.MapRow(source, bytes.data(), width);
    colours.MapRowToInk(source, ink.data(), width);
    for (std::size_t x = 0; x < bytes.size(); ++x) {
        if ((bytes[x] == 0) != (((ink[x / 64] >> (x % 64)) & 1) != 0)) std::abort();
    }
}

void MapIntoWorking(const TVemo_dib& dib) {
    if (dib.Error() != DibError::None) return;
    TVemo_colourmap colours(BaseColours());
    colours.PrepareFor(dib.RowFormat(), dib.Colours());
    dib.Decode([&](int, const uint8_t* row) { MapRows(colours, dib.Width(), row); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    MapIntoWorking(TVemo_dib::FromBmpFile(bytes));

    const TVemo_dib packed = TVemo_dib::FromPackedDib(bytes, bytes);
    DibError error = DibError::None;
    const DibPicture picture = packed.ToPicture(error);
    if (!picture.IsNull()) {
        TVemo_colourmap colours(BaseColours());
        colours.PrepareFor(picture.format, picture.colours);
        for (int y = 0; y < picture.height; ++y) MapRows(colours, picture.width, picture.Row(y));
    }
    return 0;
}
