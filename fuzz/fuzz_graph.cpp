// Fuzz target: stages 4 and 5 of the trace on damaged intermediate files.
// Each stage must either succeed, leaving files that hold exactly what it
// counted, or throw FileError; never crash, hang or allocate without bound.
//
// Input   byte 0       flags (below)
//         bytes 1, 2   image width - 1 and height - 1 (mod 64)
//         bytes 3..10  group, member, point and link counts, int16 each
//                      (so negative and too large ones occur, but no count
//                      asks for more memory than a real trace could)
//         byte 11      n, then n squares of 3 bytes (x, y, size 1..16),
//                      the square table; some lie outside the image
//         then         int16 length and the groups file, int16 length and
//                      the points file, and the rest: the lines file (link
//                      form, 8-byte records)
// Flags   1   the groups file is written by stage 3 from the table, with
//             stage 3's counts ...
//         4   ... but the counts of the input are kept
//         8   ... and the groups bytes of the input are XORed onto it
//         2   stage 5 reads stage 4's files, with stage 4's counts (when
//             stage 4 succeeded) ...
//         16  ... with the points and lines bytes XORed onto them
// Checks  after stage 4: points = groups, temp.pxy 16 x points bytes, every
//         point inside the image; temp.lix 8 x links bytes, each link
//         (lower, higher) with lower < higher < points, ordered by the lower
//         point, every pair once. After stage 5: temp.lix is a sequence of
//         polylines of n >= 2 vertices, 4 x polylines + 16 x vertices bytes;
//         the vertices lie inside the image when stage 5 read stage 4's
//         files undamaged.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "trace/Vemotrace_compv3.h"
#include "trace/Vemotrace_compv4.h"
#include "trace/Vemotrace_compv5.h"
#include "trace/Vemotrace_records.h"
#include "trace/Vemotrace_types.h"

namespace {

constexpr int32_t kMaxSide = 64;
constexpr int32_t kMaxSquareSize = 16;
constexpr std::size_t kSpareEntries = 10;  // as the square table has

enum Flag : uint8_t {
    kGroupsFromStage3 = 1,
    kStage5ReadsStage4 = 2,
    kKeepInputCounts = 4,
    kDamageGroups = 8,
    kDamageGraph = 16,
};


// Reads the input front to back; past its end every value is 0.
class Input {
public:
    Input(const uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    int32_t Int16() {
        const auto low = Byte();
        return static_cast<int16_t>(static_cast<uint16_t>(low | Byte() << 8));
    }
    std::vector<uint8_t> Bytes(std::size_t count) {
        count = std::min(count, m_size - m_at);
        std::vector<uint8_t> bytes(m_data + m_at, m_data + m_at + count);
        m_at += count;
        return bytes;
    }
    std::vector<uint8_t> Rest() { return Bytes(m_size - m_at); }

private:
    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::abort();
    if (std::fclose(file) != 0) std::abort();
}

// XORs `damage` onto the start of the file.
void Damage(const std::string& path, const std::vector<uint8_t>& damage) {
    std::vector<uint8_t> bytes = ReadAll(path);
    for (std::size_t i = 0; i < std::min(bytes.size(), damage.size()); ++i) bytes[i] ^= damage[i];
    WriteAll(path, bytes);
}

SquareTable MakeTable(Input& input, int32_t width, int32_t height) {
    SquareTable table;
    const int32_t count = input.Byte();
    const std::size_t entries = static_cast<std::size_t>(count) + kSpareEntries;
    table.x.assign(entries, 0);
    table.y.assign(entries, 0);
    table.size.assign(entries, 0);
    table.useCount.assign(entries, 0);
    for (int32_t i = 0; i < count; ++i) {
        table.x[i] = input.Byte();
        table.y[i] = input.Byte();
        table.size[i] = 1 + input.Byte() % kMaxSquareSize;
        table.largestSize = std::max(table.largestSize, table.size[i]);
    }
    table.count = count;
    table.width = width;
    table.height = height;
    return table;
}

bool InsideImage(const SquareTable& table, double x, double y) {
    return ::InsideImage(table.width, table.height, x, y);
}

void CheckGraph(const SquareTable& table, const std::string& pointsPath, const std::string& linesPath,
                int32_t groups, const TVemotrace_compV4& stage4) {
    Require(stage4.PointCount() == groups, "point count differs from group count");
    Require(stage4.LinkCount() >= 0, "a negative link count");
    const auto points = static_cast<std::size_t>(stage4.PointCount());
    const auto links = static_cast<std::size_t>(stage4.LinkCount());
    const std::vector<uint8_t> pointBytes = ReadAll(pointsPath);
    Require(pointBytes.size() == points * records::kPointRecordSize, "temp.pxy is not 16 x points bytes");
    for (std::size_t i = 0; i < points; ++i) {
        const uint8_t* record = pointBytes.data() + i * records::kPointRecordSize;
        Require(InsideImage(table, records::GetDouble(record), records::GetDouble(record + 8)),
                "a point outside the image");
    }
    const std::vector<uint8_t> linkBytes = ReadAll(linesPath);
    Require(linkBytes.size() == links * records::kLinkRecordSize, "temp.lix is not 8 x links bytes");
    std::set<std::pair<int32_t, int32_t>> seen;
    int32_t previousLower = 0;
    for (std::size_t i = 0; i < links; ++i) {
        const int32_t lower = records::GetInt32(linkBytes.data() + i * records::kLinkRecordSize);
        const int32_t higher = records::GetInt32(linkBytes.data() + i * records::kLinkRecordSize + 4);
        Require(lower >= 0 && lower < higher && higher < stage4.PointCount(), "a link is not lower < higher < points");
        Require(lower >= previousLower, "links not ordered by their lower point");
        Require(seen.emplace(lower, higher).second, "a pair linked twice");
        previousLower = lower;
    }
}

void CheckPolylines(const SquareTable& table, const std::string& linesPath, const TVemotrace_compV5& stage5,
                    bool insideImage) {
    Require(stage5.PolylineCount() >= 0 && stage5.VertexCount() >= 0, "a negative count");
    CheckPolylineFile(ReadAll(linesPath), static_cast<std::size_t>(stage5.PolylineCount()),
                      static_cast<std::size_t>(stage5.VertexCount()), table.width, table.height, insideImage);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input(data, size);
    const uint8_t flags = input.Byte();
    const int32_t width = 1 + input.Byte() % kMaxSide;
    const int32_t height = 1 + input.Byte() % kMaxSide;
    int32_t groups = input.Int16();
    int32_t members = input.Int16();
    int32_t points = input.Int16();
    int32_t links = input.Int16();
    SquareTable table = MakeTable(input, width, height);
    const std::vector<uint8_t> groupsBytes = input.Bytes(static_cast<uint16_t>(input.Int16()));
    const std::vector<uint8_t> pointsBytes = input.Bytes(static_cast<uint16_t>(input.Int16()));
    const std::vector<uint8_t> linesBytes = input.Rest();

    const std::string folder = ScratchFolder();
    const std::string groupsPath = folder + "/" + records::kGroupsFileName;
    const std::string pointsPath = folder + "/" + records::kPointsFileName;
    const std::string linesPath = folder + "/" + records::kLinesFileName;
    WriteAll(groupsPath, groupsBytes);
    WriteAll(pointsPath, pointsBytes);
    WriteAll(linesPath, linesBytes);

    // Stage 4, on the groups file of the input or of stage 3.
    bool graphWritten = false;
    try {
        if ((flags & kGroupsFromStage3) != 0) {
            const TVemotrace_compV3 stage3(groupsPath, table);
            if ((flags & kKeepInputCounts) == 0) {
                groups = stage3.GroupCount();
                members = stage3.MemberCount();
            }
            if ((flags & kDamageGroups) != 0) Damage(groupsPath, groupsBytes);
        }
        const TVemotrace_compV4 stage4(groupsPath, pointsPath, linesPath, table, groups, members);
        CheckGraph(table, pointsPath, linesPath, groups, stage4);
        graphWritten = true;
        if ((flags & kStage5ReadsStage4) != 0) {
            points = stage4.PointCount();
            links = stage4.LinkCount();
        }
    } catch (const FileError&) {
        // Refused: the expected end for damaged input.
    }

    // Stage 5, on the files of stage 4 or of the input.
    bool undamagedGraph = false;
    if (graphWritten && (flags & kStage5ReadsStage4) != 0) {
        if ((flags & kDamageGraph) != 0) {
            Damage(pointsPath, pointsBytes);
            Damage(linesPath, linesBytes);
        } else {
            undamagedGraph = true;
        }
    } else {
        WriteAll(pointsPath, pointsBytes);
        WriteAll(linesPath, linesBytes);
    }
    try {
        TVemotrace_compV5 stage5(pointsPath, linesPath, points, links);
        stage5.AdjustLines();
        CheckPolylines(table, linesPath, stage5, undamagedGraph);
    } catch (const FileError&) {
        // Refused.
    }
    return 0;
}
