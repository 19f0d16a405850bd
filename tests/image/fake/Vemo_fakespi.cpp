// Fake image plug-ins for the plug-in loader's tests: one source, one
// behaviour per build (a VEMO_FAKE_* definition), each ending the load in
// one of the designed states.
//
// Where IsSupported answers at all, it answers 1 only when the handle it is
// given reads "FAKE" at offset 0: that proves the host passes a descriptor
// of the image file, open for reading.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <unistd.h>

#include "image/Vemo_spi.h"

namespace {

[[maybe_unused]] SpiBitmapInfoHeader Header(int32_t width, int32_t height, uint16_t bitCount, uint32_t colours) {
    SpiBitmapInfoHeader header{};
    header.size = sizeof header;
    header.width = width;
    header.height = height;
    header.planes = 1;
    header.bitCount = bitCount;
    header.clrUsed = colours;
    return header;
}

// A block from malloc holding `header` and `colours` (0xRRGGBB) as RGBQUADs.
[[maybe_unused]] void* InfoBlock(const SpiBitmapInfoHeader& header, std::initializer_list<uint32_t> colours) {
    auto* block = static_cast<uint8_t*>(std::calloc(1, sizeof header + 4 * colours.size()));
    std::memcpy(block, &header, sizeof header);
    uint8_t* entry = block + sizeof header;
    for (const uint32_t colour : colours) {
        entry[0] = static_cast<uint8_t>(colour);
        entry[1] = static_cast<uint8_t>(colour >> 8);
        entry[2] = static_cast<uint8_t>(colour >> 16);
        entry += 4;
    }
    return block;
}

[[maybe_unused]] void* BitsBlock(std::initializer_list<uint8_t> bytes) {
    auto* block = static_cast<uint8_t*>(std::malloc(bytes.size()));
    std::memcpy(block, bytes.begin(), bytes.size());
    return block;
}

}  // namespace

#if !defined(VEMO_FAKE_NO_ISSUPPORTED)
VEMO_SPI_EXPORT int IsSupported(char*, SpiDword dw) {
#if defined(VEMO_FAKE_REFUSES)
    (void)dw;
    return 0;
#else
    char head[4] = {};
    if (pread(static_cast<int>(dw), head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return 0;
    return std::memcmp(head, "FAKE", 4) == 0 ? 1 : 0;
#endif
}
#endif

#if !defined(VEMO_FAKE_NO_GETPICTURE)
VEMO_SPI_EXPORT int GetPicture(char*, SpiLong, unsigned int, SpiHandle* pHBInfo, SpiHandle* pHBm,
                               SpiProgressCallback, SpiLong) {
#if defined(VEMO_FAKE_KILLED)
    // As the kernel ends a process when memory runs out: no handler runs.
    (void)pHBInfo;
    (void)pHBm;
    ::kill(::getpid(), SIGKILL);
    return kSpiOutOfOrder;
#elif defined(VEMO_FAKE_EXITS)
    // A plug-in that gives up by ending the whole process, successfully.
    (void)pHBInfo;
    (void)pHBm;
    std::exit(0);
#elif defined(VEMO_FAKE_GETPICTURE_FAILS)
    // Handles it never filled: a host that frees them crashes.
    *pHBInfo = reinterpret_cast<SpiHandle>(0x10);
    *pHBm = reinterpret_cast<SpiHandle>(0x20);
    return kSpiOutOfOrder;
#elif defined(VEMO_FAKE_NULL_BLOCK)
    *pHBInfo = nullptr;
    *pHBm = BitsBlock({0, 0, 0, 0});
    return kSpiAllRight;
#elif defined(VEMO_FAKE_BAD_HEADER)
    *pHBInfo = InfoBlock(Header(3, 2, 7, 0), {});
    *pHBm = BitsBlock({0, 0, 0, 0, 0, 0, 0, 0});
    return kSpiAllRight;
#elif defined(VEMO_FAKE_SHORT_BITS)
    // Claims 1000 x 1000 pixels and hands back ten bytes.
    *pHBInfo = InfoBlock(Header(1000, 1000, 8, 2), {0xFFFFFF, 0x000000});
    *pHBm = BitsBlock({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    return kSpiAllRight;
#elif defined(VEMO_FAKE_HUGE_HEADER)
    *pHBInfo = InfoBlock(Header(40000, 30000, 1, 2), {0xFFFFFF, 0x000000});
    *pHBm = BitsBlock({0, 0, 0, 0});
    return kSpiAllRight;
#elif defined(VEMO_FAKE_LYING_HEADER)
    // Claims 30000 x 30000 pixels (within the pixel limit) in a 16-byte block.
    *pHBInfo = InfoBlock(Header(30000, 30000, 8, 2), {0xFFFFFF, 0x000000});
    *pHBm = BitsBlock({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    return kSpiAllRight;
#else
    // 3 x 2, 8-bit, rows bottom-up padded to 4 bytes. Top row: black,
    // white, red; bottom row: grey 140, white, black.
    *pHBInfo = InfoBlock(Header(3, 2, 8, 4), {0xFFFFFF, 0x000000, 0xFF0000, 0x8C8C8C});
    *pHBm = BitsBlock({3, 0, 1, 0, 1, 0, 2, 0});
    return kSpiAllRight;
#endif
}
#endif
