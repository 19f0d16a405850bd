// Fuzz target: the whole trace on small bitmaps, checking what every trace
// must hold whatever the drawing, and aborting when it does not.
//
// Input   byte 0: width - 1 (mod 64), byte 1: height - 1 (mod 64), byte 2:
//         bytes of padding after each row (bits 0-2; the padding is ink, so
//         a pixel read past the row end shows up as a square outside the
//         bitmap or on background) and a scale of 1 to 4 (bits 3-4); then
//         the pixels, one bit each, row by row, 1 = ink, each drawn as a
//         block of scale x scale pixels; missing bits are background. The
//         scale reaches drawings up to 256 pixels wide, with squares above
//         64 pixels and rows longer than a 64-bit word. Background bytes
//         take several non-zero values, since only 0 is ink.
// Checks  members = squares and points = groups; the files hold exactly the
//         records counted (temp.sqr 16 x squares, temp.sqo 8 x members,
//         temp.pxy 16 x points, temp.lix 4 x polylines + 16 x vertices);
//         record i of temp.sqr has index i; every square lies inside the
//         bitmap and holds only ink, and every ink pixel is covered; every
//         square is in exactly one group, groups numbered in runs from 0;
//         every polyline has at least 2 vertices, all inside the image.
// The trace runs in a scratch folder of its own, emptied before each run.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "trace/Vemotrace_compv.h"
#include "trace/Vemotrace_records.h"
#include "trace/Vemotrace_types.h"

namespace {

constexpr int32_t kMaxSide = 64;


std::size_t Count(int32_t value) {
    Require(value >= 0, "a negative count");
    return static_cast<std::size_t>(value);
}

struct Drawing {
    int32_t width = 0;
    int32_t height = 0;
    std::ptrdiff_t stride = 0;
    std::vector<uint8_t> bytes;  // height x stride
    std::vector<uint8_t> ink;    // width x height, 1 = ink

    BitmapView View() const { return BitmapView{width, height, bytes.data(), stride}; }
    bool IsInk(int32_t x, int32_t y) const { return ink[static_cast<std::size_t>(y) * width + x] != 0; }
};

Drawing MakeDrawing(const uint8_t* data, std::size_t size) {
    const int32_t columns = 1 + (size > 0 ? data[0] : 0) % kMaxSide;
    const int32_t rows = 1 + (size > 1 ? data[1] : 0) % kMaxSide;
    const uint8_t layout = size > 2 ? data[2] : 0;
    const int32_t scale = 1 + (layout >> 3 & 3);
    const uint8_t* bits = data + std::min<std::size_t>(size, 3);
    const std::size_t bitCount = (size > 3 ? size - 3 : 0) * 8;

    Drawing d;
    d.width = columns * scale;
    d.height = rows * scale;
    d.stride = d.width + (layout & 7);
    d.bytes.assign(static_cast<std::size_t>(d.height * d.stride), 0);  // padding stays ink
    d.ink.assign(static_cast<std::size_t>(d.width * d.height), 0);
    for (int32_t y = 0; y < d.height; ++y) {
        for (int32_t x = 0; x < d.width; ++x) {
            const std::size_t bit = static_cast<std::size_t>(y / scale) * columns + x / scale;
            const bool ink = bit < bitCount && (bits[bit / 8] >> (bit % 8) & 1) != 0;
            const std::size_t i = static_cast<std::size_t>(y) * d.width + x;
            d.ink[i] = ink ? 1 : 0;
            d.bytes[static_cast<std::size_t>(y * d.stride + x)] =
                ink ? 0 : static_cast<uint8_t>(1 + (x * 7 + y * 13) % 255);
        }
    }
    return d;
}

// Squares inside the bitmap, of ink only, covering all of it; record i has
// index i. Returns each square as (x, y, size).
std::vector<int32_t> CheckSquares(const Drawing& d, const std::vector<uint8_t>& file, std::size_t squares) {
    Require(file.size() == squares * records::kSquareRecordSize, "temp.sqr is not 16 x squares bytes");
    std::vector<uint8_t> covered(d.ink.size(), 0);
    std::vector<int32_t> boxes;
    for (std::size_t i = 0; i < squares; ++i) {
        const uint8_t* record = file.data() + i * records::kSquareRecordSize;
        const int32_t index = records::GetInt32(record);
        const int32_t x = records::GetInt32(record + 4);
        const int32_t y = records::GetInt32(record + 8);
        const int32_t side = records::GetInt32(record + 12);
        Require(index == static_cast<int32_t>(i), "record i of temp.sqr does not have index i");
        Require(side >= 1 && x >= 0 && y >= 0 && x + side <= d.width && y + side <= d.height,
                "a square leaves the bitmap");
        for (int32_t row = y; row < y + side; ++row) {
            for (int32_t col = x; col < x + side; ++col) {
                Require(d.IsInk(col, row), "a square holds background");
                covered[static_cast<std::size_t>(row) * d.width + col] = 1;
            }
        }
        boxes.insert(boxes.end(), {x, y, side});
    }
    Require(covered == d.ink, "an ink pixel is not covered");
    return boxes;
}

// Every square in exactly one group; each group one run, numbered from 0
// in the order the runs come.
void CheckGroups(const std::vector<uint8_t>& file, std::size_t members, std::size_t squares, std::size_t groups) {
    Require(file.size() == members * records::kMemberRecordSize, "temp.sqo is not 8 x members bytes");
    std::vector<uint8_t> seen(squares, 0);
    int32_t current = -1;
    for (std::size_t i = 0; i < members; ++i) {
        const int32_t group = records::GetInt32(file.data() + i * records::kMemberRecordSize);
        const int32_t square = records::GetInt32(file.data() + i * records::kMemberRecordSize + 4);
        Require(group == current || group == current + 1, "groups not in runs numbered from 0");
        current = group;
        Require(square >= 0 && static_cast<std::size_t>(square) < squares, "a member names no square");
        Require(seen[static_cast<std::size_t>(square)] == 0, "a square in two groups");
        seen[static_cast<std::size_t>(square)] = 1;
    }
    Require(static_cast<std::size_t>(current + 1) == groups, "the group count differs from the groups file");
}

bool InsideImage(const Drawing& d, double x, double y) { return ::InsideImage(d.width, d.height, x, y); }

void CheckPoints(const Drawing& d, const std::vector<uint8_t>& file, std::size_t points) {
    Require(file.size() == points * records::kPointRecordSize, "temp.pxy is not 16 x points bytes");
    for (std::size_t i = 0; i < points; ++i) {
        const uint8_t* record = file.data() + i * records::kPointRecordSize;
        Require(InsideImage(d, records::GetDouble(record), records::GetDouble(record + 8)),
                "a point outside the image");
    }
}

void CheckPolylines(const Drawing& d, const std::vector<uint8_t>& file, std::size_t polylines, std::size_t vertices) {
    CheckPolylineFile(file, polylines, vertices, d.width, d.height, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Drawing drawing = MakeDrawing(data, size);
    const std::string folder = ScratchFolder();
    // Stages 1 and 3 leave an earlier file alone when they have nothing to
    // write, so start from an empty folder.
    for (const char* name : {records::kSquaresFileName, records::kGroupsFileName, records::kPointsFileName,
                             records::kLinesFileName}) {
        std::filesystem::remove(folder + "/" + name);
    }

    // A FileError here is a failure too: the scratch folder is writable.
    TVemotrace_compV pipeline(folder + "/drawing.bmp");
    pipeline.RunTrace(drawing.View());
    const TraceResult result = pipeline.CollectResults();

    Require(result.imageWidth == drawing.width && result.imageHeight == drawing.height, "wrong image size");
    Require(result.memberCount == result.squareCount, "member count differs from square count");
    Require(pipeline.PointCount() == result.groupCount, "point count differs from group count");
    const std::size_t squares = Count(result.squareCount);
    CheckSquares(drawing, ReadAll(result.squaresPath), squares);
    CheckGroups(ReadAll(result.groupsPath), Count(result.memberCount), squares, Count(result.groupCount));
    CheckPoints(drawing, ReadAll(result.pointsPath), Count(pipeline.PointCount()));
    Require(pipeline.LinkCount() >= 0, "a negative link count");
    CheckPolylines(drawing, ReadAll(result.linesPath), Count(pipeline.PolylineCount()),
                   Count(pipeline.VertexCount()));
    return 0;
}
