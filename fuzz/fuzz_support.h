// Helpers shared by the fuzz targets.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "trace/Vemotrace_records.h"

#include <stdlib.h>

// The targets' own checks need no coverage of their own: libFuzzer would
// only spend its time on the branches of a check that holds. Product code
// keeps its instrumentation.
#if defined(__clang__) && __clang_major__ >= 13
#define FUZZ_UNCOVERED __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_UNCOVERED
#endif

// The image targets decode no picture larger than this. A few bytes of
// run-length data can claim millions of pixels, and decoding those in full
// under instrumentation slows a whole run down twenty times over; the
// headers and the size checks are still read for every input. The product
// keeps its own, larger limits.
constexpr int64_t kFuzzMaxPixels = 65536;

inline bool FuzzSmallPicture(int64_t width, int64_t height) {
    return (width < 0 ? -width : width) * (height < 0 ? -height : height) <= kFuzzMaxPixels;
}

// Aborts when an invariant does not hold, so that libFuzzer keeps the input.
FUZZ_UNCOVERED inline void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz: invariant violated: %s\n", what);
    std::abort();
}

// One scratch folder for the whole run, removed when the process exits. A
// plain array, so that no destructor has cleared the name before the
// clean-up at exit runs.
inline const char* ScratchFolder() {
    static char folder[] = "/tmp/vemo-fuzz-XXXXXX";
    static const bool made = [] {
        if (mkdtemp(folder) == nullptr) std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return true;
    }();
    (void)made;
    return folder;
}

// The whole content of a file; empty when there is no such file.
inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    uint8_t chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

// A trace position (image pixels) that lies on the image.
inline bool InsideImage(int32_t width, int32_t height, double x, double y) {
    return std::isfinite(x) && std::isfinite(y) && x >= 0.0 && x <= width && y >= 0.0 && y <= height;
}

// The polyline form of temp.lix holds exactly `polylines` records of at
// least two vertices and `vertices` vertices in all; with `checkInside`,
// every vertex lies on a width x height image.
FUZZ_UNCOVERED inline void CheckPolylineFile(const std::vector<uint8_t>& file, std::size_t polylines, std::size_t vertices,
                              int32_t width, int32_t height, bool checkInside) {
    Require(file.size() == polylines * records::kPolylineCountSize + vertices * records::kVertexSize,
            "temp.lix is not 4 x polylines + 16 x vertices bytes");
    std::size_t at = 0;
    for (std::size_t p = 0; p < polylines; ++p) {
        Require(at + records::kPolylineCountSize <= file.size(), "temp.lix ends inside a polyline");
        const int32_t n = records::GetInt32(file.data() + at);
        at += records::kPolylineCountSize;
        Require(n >= 2, "a polyline of fewer than 2 vertices");
        Require(at + static_cast<std::size_t>(n) * records::kVertexSize <= file.size(),
                "temp.lix ends inside a polyline");
        for (int32_t k = 0; k < n; ++k, at += records::kVertexSize) {
            const double x = records::GetDouble(file.data() + at);
            const double y = records::GetDouble(file.data() + at + 8);
            Require(!checkInside || InsideImage(width, height, x, y), "a vertex outside the image");
        }
    }
    Require(at == file.size(), "temp.lix holds more than the polylines counted");
}
