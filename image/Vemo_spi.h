// Vemo_spi: the binary interface between the image loader and its image
// plug-ins, shared by both sides.
//
// A plug-in is a shared library (".spi") in the system folder. It follows
// the published 32-bit Susie import-filter interface ("00IN"), carried over
// to this platform as follows:
//  - the host loads it with dlopen on its full path (RTLD_NOW | RTLD_LOCAL)
//    and finds the functions by name with dlsym; they have C linkage (the
//    Windows calling convention means nothing on x86-64);
//  - the Windows types keep their widths: DWORD and long are 32 bits, so a
//    plug-in built against this header and one built from the published
//    declarations with these widths are interchangeable;
//  - the file handle that IsSupported receives is a POSIX file descriptor
//    open for reading (its upper 16 bits are therefore 0, which in the
//    published interface marks a handle rather than a buffer pointer); a
//    plug-in reads it with pread, so the descriptor's offset does not matter;
//  - the two blocks that GetPicture hands back come from malloc, and the
//    host frees them with free (LocalFree on Windows). The information block
//    is a BITMAPINFOHEADER followed by its colour table; the bits block holds
//    the rows of the device-independent bitmap that header describes.
//
// Reads: nothing. Writes: nothing. Declarations only.
#pragma once

#include <cstdint>

extern "C" {

using SpiDword = uint32_t;  // DWORD
using SpiLong = int32_t;    // long on Windows, 32 bits
using SpiHandle = void*;    // HLOCAL: a block from malloc

// Called by GetPicture as it goes (num of denom done); a non-zero return
// asks the plug-in to stop, and GetPicture then returns kSpiAbort.
using SpiProgressCallback = int (*)(int num, int denom, SpiLong data);

// GetPictureInfo's answer. The published layout is packed.
#pragma pack(push, 1)
struct SpiPictureInfo {
    SpiLong left;        // where the image is placed (always 0 for ours)
    SpiLong top;
    SpiLong width;       // pixels
    SpiLong height;      // pixels
    uint16_t xDensity;   // pixels per metre, 0 when unknown
    uint16_t yDensity;
    int16_t colorDepth;  // bits per pixel of the picture GetPicture returns
    SpiHandle hInfo;     // text information from malloc, freed by the caller; ours give none
};
#pragma pack(pop)

// The header at the start of GetPicture's information block. Plug-ins may
// hand back any header size the host understands (12, 16, 40, 52, 56, 64,
// 108, 124 bytes); ours write this 40-byte form.
struct SpiBitmapInfoHeader {
    uint32_t size;           // 40
    int32_t width;           // pixels, > 0
    int32_t height;          // pixels; > 0: rows bottom-up, < 0: top-down
    uint16_t planes;         // 1
    uint16_t bitCount;       // 1, 4, 8, 16, 24 or 32
    uint32_t compression;    // kDibRgb, kDibRle8, kDibRle4, kDibBitfields
    uint32_t sizeImage;      // bytes of the bits block, may be 0 for kDibRgb
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;        // colour table entries, 0: 1 << bitCount
    uint32_t clrImportant;
};
static_assert(sizeof(SpiBitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");

// The four functions of an import filter, as the host calls them.
using SpiGetPluginInfoFn = int (*)(int infono, char* buf, int buflen);
using SpiIsSupportedFn = int (*)(char* filename, SpiDword dw);
using SpiGetPictureInfoFn = int (*)(char* buf, SpiLong len, unsigned int flag, SpiPictureInfo* info);
using SpiGetPictureFn = int (*)(char* buf, SpiLong len, unsigned int flag, SpiHandle* pHBInfo,
                                SpiHandle* pHBm, SpiProgressCallback progress, SpiLong lData);

}  // extern "C"

// Names the host looks up.
inline constexpr const char* kSpiIsSupportedName = "IsSupported";
inline constexpr const char* kSpiGetPictureName = "GetPicture";

// Results of GetPictureInfo and GetPicture.
enum SpiResult : int {
    kSpiNoFunction = -1,   // not implemented
    kSpiAllRight = 0,
    kSpiAbort = 1,         // the progress callback asked to stop
    kSpiNotSupport = 2,    // unknown format
    kSpiOutOfOrder = 3,    // the data is broken
    kSpiNoMemory = 4,      // memory could not be had (also: image too large)
    kSpiMemoryError = 5,
    kSpiFileReadError = 6,
    kSpiWindowError = 7,
    kSpiOtherError = 8,
};

// The low three bits of `flag`: where the picture comes from. For a file,
// `buf` is the file name and `len` the offset of the picture in it; for
// memory, `buf` points at the picture's bytes and `len` is their count.
inline constexpr unsigned int kSpiInputMask = 7;
inline constexpr unsigned int kSpiInputFile = 0;
inline constexpr unsigned int kSpiInputMemory = 1;

// DIB compression values.
inline constexpr uint32_t kDibRgb = 0;
inline constexpr uint32_t kDibRle8 = 1;
inline constexpr uint32_t kDibRle4 = 2;
inline constexpr uint32_t kDibBitfields = 3;
inline constexpr uint32_t kDibAlphaBitfields = 6;

// The largest picture host and plug-ins accept: 1,000 megapixels covers an
// A0 scan at 600 dpi (about 560 megapixels) with room to spare, and a
// working bitmap of that size (one byte per pixel) still fits in memory.
// Fuzzing builds lower it: otherwise a 100-byte file announcing a huge
// picture makes every run slow and hides real faults behind memory limits.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
inline constexpr int64_t kSpiMaxPixels = 4'000'000;
#else
inline constexpr int64_t kSpiMaxPixels = 1'000'000'000;
#endif

// Bytes in one DIB row: rows are padded to a multiple of 4 bytes.
inline constexpr uint64_t DibRowBytes(uint64_t width, uint64_t bitCount) {
    return (width * bitCount + 31) / 32 * 4;
}

// What plug-ins export; declared here so that each definition is checked
// against the interface.
#define VEMO_SPI_EXPORT extern "C" __attribute__((visibility("default")))
VEMO_SPI_EXPORT int GetPluginInfo(int infono, char* buf, int buflen);
VEMO_SPI_EXPORT int IsSupported(char* filename, SpiDword dw);
VEMO_SPI_EXPORT int GetPictureInfo(char* buf, SpiLong len, unsigned int flag, SpiPictureInfo* info);
VEMO_SPI_EXPORT int GetPicture(char* buf, SpiLong len, unsigned int flag, SpiHandle* pHBInfo,
                               SpiHandle* pHBm, SpiProgressCallback progress, SpiLong lData);
