// Fuzz target for one image plug-in (linked in directly): GetPictureInfo
// and GetPicture on a picture held in memory, then what the host does with
// the two blocks. A bitmap the plug-in hands back that the host refuses
// breaks the interface between them and stops the run.
//
// Inputs that start like a PNG get their chunk checksums recomputed first:
// libpng refuses a chunk whose CRC is wrong, and the fuzzer cannot guess
// CRCs, so without this almost no mutation would reach the decoder.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include <malloc.h>

#include "fuzz/fuzz_support.h"
#include "image/Vemo_colourmap.h"
#include "image/Vemo_dib.h"
#include "image/Vemo_spi.h"

namespace {

FUZZ_UNCOVERED uint32_t Crc32(const uint8_t* bytes, std::size_t count) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

FUZZ_UNCOVERED void FixPngChecksums(std::vector<uint8_t>& png) {
    static const uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (png.size() < sizeof kSignature || std::memcmp(png.data(), kSignature, sizeof kSignature) != 0) return;
    std::size_t pos = sizeof kSignature;
    while (png.size() - pos >= 12) {
        const uint32_t length = (uint32_t{png[pos]} << 24) | (uint32_t{png[pos + 1]} << 16) |
                                (uint32_t{png[pos + 2]} << 8) | png[pos + 3];
        if (length > png.size() - pos - 12) return;
        const uint32_t crc = Crc32(&png[pos + 4], length + 4);
        const std::size_t at = pos + 8 + length;
        for (int i = 0; i < 4; ++i) png[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        pos = at + 4;
    }
}

// Both forms of the working bitmap must agree on the ink.
FUZZ_UNCOVERED void CheckSameInk(const std::vector<uint8_t>& row, const std::vector<uint64_t>& ink) {
    for (std::size_t x = 0; x < row.size(); ++x) {
        if ((row[x] == 0) != (((ink[x / 64] >> (x % 64)) & 1) != 0)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(std::numeric_limits<SpiLong>::max())) return 0;
    std::vector<uint8_t> input(data, data + size);
    FixPngChecksums(input);
    char* buf = reinterpret_cast<char*>(input.data());
    const SpiLong len = static_cast<SpiLong>(size);

    SpiPictureInfo info{};
    if (GetPictureInfo(buf, len, kSpiInputMemory, &info) == kSpiAllRight &&
        !FuzzSmallPicture(info.width, info.height)) {
        return 0;
    }

    SpiHandle infoBlock = nullptr;
    SpiHandle bitsBlock = nullptr;
    if (GetPicture(buf, len, kSpiInputMemory, &infoBlock, &bitsBlock, nullptr, 0) != kSpiAllRight) return 0;

    const TVemo_dib dib = TVemo_dib::FromPackedDib(
        {static_cast<const uint8_t*>(infoBlock), malloc_usable_size(infoBlock)},
        {static_cast<const uint8_t*>(bitsBlock), malloc_usable_size(bitsBlock)});
    DibError error = DibError::None;
    const DibPicture picture = dib.ToPicture(error);
    if (error != DibError::None) std::abort();
    std::vector<Rgb> base(256, MakeRgb(255, 255, 255));
    base[0] = MakeRgb(0, 0, 0);
    TVemo_colourmap colours(base);
    colours.PrepareFor(picture.format, picture.colours);
    std::vector<uint8_t> row(static_cast<std::size_t>(picture.width));
    std::vector<uint64_t> ink((static_cast<std::size_t>(picture.width) + 63) / 64);
    for (int y = 0; y < picture.height; ++y) {
        colours.MapRow(picture.Row(y), row.data(), picture.width);
        colours.MapRowToInk(picture.Row(y), ink.data(), picture.width);
        CheckSameInk(row, ink);
    }

    std::free(bitsBlock);
    std::free(infoBlock);
    return 0;
}
