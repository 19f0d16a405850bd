// The readers every unit reads the squares file and the lines file through:
// what they hand out at a buffer's refill, at a short file and at a file
// cut inside a record. Each case names the fault it catches.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "square_files.h"
#include "trace/Vemotrace_records.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// Every polyline read whole, in chunks of at most kRecordsPerRead points.
std::vector<std::vector<Point>> ReadAll(PolylineReader& reader, PolylineReader::Head& last) {
    std::vector<std::vector<Point>> polylines;
    int32_t n = 0;
    while ((last = reader.NextCount(n)) == PolylineReader::Head::Count) {
        std::vector<Point>& points = polylines.emplace_back();
        for (int32_t done = 0; done < n;) {
            const auto count = std::min(static_cast<std::size_t>(n - done), records::kRecordsPerRead);
            const uint8_t* vertices = reader.TakeVertices(count);
            if (vertices == nullptr) return polylines;
            for (std::size_t k = 0; k < count; ++k) points.push_back(records::GetVertex(vertices, k));
            done += static_cast<int32_t>(count);
        }
    }
    return polylines;
}

// Faults: a record split by a buffer refill read from the wrong bytes, the
// file and memory readers telling a file apart, a few trailing bytes
// taken for the end (or a count), the last points of a cut file handed out.
TEST(PolylineReader, FileAndMemoryHandOutTheSamePolylinesAcrossRefillsAndCuts) {
    square_files::TempFolder folder;
    const std::string path = folder.File("temp.lix");
    // Polylines of 1 to 9000 points: longer than a chunk, and enough bytes
    // (about 290 kB) that records straddle the buffer's refills.
    std::vector<std::vector<Point>> written;
    {
        RecordWriter writer(path);
        writer.Open();
        for (const int32_t n : {1, 9000, 3, 4097, 0, 5000}) {
            std::vector<Point>& points = written.emplace_back();
            writer.PutInt32(n);
            for (int32_t k = 0; k < n; ++k) {
                points.push_back({k + 0.25 * n, -k - 0.5});
                writer.PutDouble(points.back().x);
                writer.PutDouble(points.back().y);
            }
        }
        writer.Close();
    }
    const std::vector<uint8_t> bytes = Bytes(path);
    PolylineReader::Head last{};
    PolylineReader fromFile(path);
    EXPECT_EQ(ReadAll(fromFile, last), written);
    EXPECT_EQ(last, PolylineReader::Head::End);
    PolylineReader fromMemory(bytes);
    EXPECT_EQ(ReadAll(fromMemory, last), written);
    EXPECT_EQ(last, PolylineReader::Head::End);

    // Two bytes after the last polyline: no count, and not the clean end.
    std::vector<uint8_t> trailing = bytes;
    trailing.insert(trailing.end(), {5, 0});
    WriteBytes(path, trailing);
    PolylineReader trailingFile(path);
    EXPECT_EQ(ReadAll(trailingFile, last), written);
    EXPECT_EQ(last, PolylineReader::Head::Partial);

    // Cut inside the last polyline's final chunk: that chunk is not handed out.
    const std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 8);
    WriteBytes(path, cut);
    PolylineReader cutFile(path);
    const auto fromCut = ReadAll(cutFile, last);
    ASSERT_EQ(fromCut.size(), written.size());
    EXPECT_EQ(fromCut.back().size(), std::size_t{4096});
    PolylineReader cutMemory(cut);
    EXPECT_EQ(ReadAll(cutMemory, last), fromCut);
}

// Faults: a short squares file taken for a smaller drawing where the
// caller wants it whole, or a lenient reader dropping (or inventing) the
// whole records before the cut.
TEST(ReadSquares, AShortFileThrowsOrStopsAfterItsWholeRecords) {
    square_files::TempFolder folder;
    const std::string path = folder.File("temp.sqr");
    {
        RecordWriter writer(path);
        writer.Open();
        for (int32_t i = 0; i < 5000; ++i) {
            for (const int32_t v : {i, i % 70, i / 70, 1 + i % 3}) writer.PutInt32(v);
        }
        writer.PutInt32(5000);  // a record cut after its index
        writer.Close();
    }
    std::vector<SquareRecord> read;
    ReadSquares(path, 6000, ShortFile::Stops, [&](int32_t i, const SquareRecord& s) {
        EXPECT_EQ(i, static_cast<int32_t>(read.size()));
        read.push_back(s);
    });
    ASSERT_EQ(read.size(), 5000u);
    EXPECT_EQ(read[4999].x, 4999 % 70);
    EXPECT_EQ(read[4999].y, 4999 / 70);
    EXPECT_EQ(read[4999].size, 1 + 4999 % 3);
    EXPECT_THROW(ReadSquares(path, 5001, ShortFile::Throws, [](int32_t, const SquareRecord&) {}), FileError);
    int32_t visited = 0;
    ReadSquares(path, 5000, ShortFile::Throws, [&](int32_t, const SquareRecord&) { ++visited; });
    EXPECT_EQ(visited, 5000);
}

}  // namespace
