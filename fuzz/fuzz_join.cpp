// Fuzzes the join step on a damaged or hostile lines file (temp.lix) over a
// small bitmap. The first kBitmapBytes bytes paint the bitmap (one bit per
// pixel, set = ink), the rest is the lines file. Any bytes must end in a
// well-formed lines file or a FileError, never in a crash, a hang or a huge
// allocation.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "trace/Vemotrace_join.h"
#include "trace/Vemotrace_packed.h"
#include "trace/Vemotrace_records.h"

namespace {

constexpr int32_t kSide = 48;
constexpr std::size_t kBitmapBytes = kSide * kSide / 8;

// Every joined polyline stays within the limit and every point is a number.
FUZZ_UNCOVERED void CheckJoined(const std::vector<uint8_t>& bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const int32_t n = records::GetInt32(bytes.data() + at);
        Require(static_cast<std::size_t>(n) <= TVemotrace_join::kMaxJoinedPoints, "a joined polyline over the limit");
        at += records::kPolylineCountSize;
        for (int32_t k = 0; k < n; ++k, at += records::kVertexSize) {
            Require(std::isfinite(records::GetDouble(bytes.data() + at)) &&
                        std::isfinite(records::GetDouble(bytes.data() + at + 8)),
                    "a joined point that is not a number");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> pixels(kSide * kSide, 1);
    for (std::size_t i = 0; i < pixels.size() && i / 8 < size && i / 8 < kBitmapBytes; ++i) {
        if ((data[i / 8] >> (i % 8)) & 1) pixels[i] = 0;
    }
    const std::size_t skip = size < kBitmapBytes ? size : kBitmapBytes;

    const std::string linesPath = std::string(ScratchFolder()) + "/temp.lix";
    std::FILE* file = std::fopen(linesPath.c_str(), "wb");
    Require(file != nullptr, "the scratch lines file can be created");
    if (size > skip) std::fwrite(data + skip, 1, size - skip, file);
    std::fclose(file);

    const PackedBitmap bitmap = PackedBitmap::FromBytes(BitmapView{kSide, kSide, pixels.data(), kSide});
    TVemotrace_join joiner(linesPath, bitmap);
    try {
        joiner.JoinLines();
    } catch (const FileError&) {
        return 0;  // a damaged lines file is refused
    }
    const std::vector<uint8_t> bytes = ReadAll(linesPath);
    CheckPolylineFile(bytes, static_cast<std::size_t>(joiner.PolylineCount()),
                      static_cast<std::size_t>(joiner.VertexCount()), kSide, kSide, false);
    CheckJoined(bytes);
    return 0;
}
