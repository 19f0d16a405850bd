// Fuzz target: a BMP file through the image loader's reader and colour
// mapping, as TVemo_bmpset reads one (both forms of the working bitmap,
// which must agree on the ink), the same file streamed from its first
// bytes (which must give the same rows as the file in memory), and the
// same bytes as a packed DIB, as the plug-in loader reads one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "image/Vemo_colourmap.h"
#include "image/Vemo_dib.h"

namespace {

// The delivered base image's table: black, then white.
std::vector<Rgb> BaseColours() {
    std::vector<Rgb> colours(256, MakeRgb(255, 255, 255));
    colours[0] = MakeRgb(0, 0, 0);
    return colours;
}

FUZZ_UNCOVERED void CheckSameInk(const std::vector<uint8_t>& bytes, const std::vector<uint64_t>& ink) {
    for (std::size_t x = 0; x < bytes.size(); ++x) {
        if ((bytes[x] == 0) != (((ink[x / 64] >> (x % 64)) & 1) != 0)) std::abort();
    }
}

void MapRows(TVemo_colourmap& colours, int width, const uint8_t* source) {
    std::vector<uint8_t> bytes(static_cast<std::size_t>(width));
    std::vector<uint64_t> ink((static_cast<std::size_t>(width) + 63) / 64);
    colours.MapRow(source, bytes.data(), width);
    colours.MapRowToInk(source, ink.data(), width);
    CheckSameInk(bytes, ink);
}

void MapIntoWorking(const TVemo_dib& dib) {
    if (dib.Error() != DibError::None || !FuzzSmallPicture(dib.Width(), dib.Height())) return;
    TVemo_colourmap colours(BaseColours());
    colours.PrepareFor(dib.RowFormat(), dib.Colours());
    dib.Decode([&](int, const uint8_t* row) { MapRows(colours, dib.Width(), row); });
}

// The loader reads only the file's first bytes whole, the rest through
// reads at offsets.
void CompareStreamed(std::span<const uint8_t> file) {
    const TVemo_dib whole = TVemo_dib::FromBmpFile(file);
    const TVemo_dib streamed = TVemo_dib::FromBmpFile(file.first(std::min<std::size_t>(file.size(), 4096)));
    if (whole.Error() != streamed.Error()) std::abort();
    if (whole.Error() != DibError::None || !FuzzSmallPicture(whole.Width(), whole.Height())) return;
    DibError error = DibError::None;
    const DibPicture picture = whole.ToPicture(error);
    const auto read = [file](uint64_t offset, uint8_t* into, std::size_t bytes) {
        const std::size_t n = offset < file.size() ? std::min<std::size_t>(bytes, file.size() - offset) : 0;
        std::memcpy(into, file.data() + offset, n);
        return n;
    };
    bool same = true;
    const DibError streamedError = streamed.DecodeStreamed(read, file.size(), [&](int y, const uint8_t* row) {
        same = same && !picture.IsNull() && std::memcmp(row, picture.Row(y), picture.RowBytes()) == 0;
    });
    if (streamedError != error || (error == DibError::None && !same)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    MapIntoWorking(TVemo_dib::FromBmpFile(bytes));
    CompareStreamed(bytes);

    const TVemo_dib packed = TVemo_dib::FromPackedDib(bytes, bytes);
    if (!FuzzSmallPicture(packed.Width(), packed.Height())) return 0;
    DibError error = DibError::None;
    const DibPicture picture = packed.ToPicture(error);
    if (!picture.IsNull()) {
        TVemo_colourmap colours(BaseColours());
        colours.PrepareFor(picture.format, picture.colours);
        for (int y = 0; y < picture.height; ++y) MapRows(colours, picture.width, picture.Row(y));
    }
    return 0;
}
