// TVemo_dib read through a file reader: rows streamed in blocks must be
// the file's rows, each once, and a file that ends or shrinks under the
// reader must fail as cut off without handing on a row it did not read.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <unistd.h>

#include "image/Vemo_dib.h"
#include "image/Vemo_mappedfile.h"
#include "image_test_support.h"

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The pixel a test picture has at (x, y) from the top: an 8-bit index, or
// its lowest bit in a 1-bit picture.
int Pattern(int x, int y) { return (3 * x + 7 * y + x / 5) & 0xFF; }

struct Picture {
    int bits;
    int width;
    int height;
    bool topDown;
    bool lastRowUnpadded;  // writers may leave out the final row's padding
};

// A BMP with a 40-byte header and a full grey table, pixels by Pattern.
std::vector<uint8_t> PatternBmp(const Picture& p) {
    const int colours = 1 << p.bits;
    const std::size_t rowBytes = (static_cast<std::size_t>(p.width) * p.bits + 31) / 32 * 4;
    const uint32_t offset = 14 + 40 + 4 * colours;
    std::vector<uint8_t> file = {'B', 'M'};
    Put32(file, 0);
    Put32(file, 0);
    Put32(file, offset);
    Put32(file, 40);
    Put32(file, static_cast<uint32_t>(p.width));
    Put32(file, static_cast<uint32_t>(p.topDown ? -p.height : p.height));
    Put32(file, 1 | (static_cast<uint32_t>(p.bits) << 16));
    for (int i = 0; i < 6; ++i) Put32(file, 0);
    for (int i = 0; i < colours; ++i) Put32(file, static_cast<uint32_t>(i * 0x010101));
    for (int s = 0; s < p.height; ++s) {
        const int y = p.topDown ? s : p.height - 1 - s;
        std::vector<uint8_t> row(rowBytes, 0);
        for (int x = 0; x < p.width; ++x) {
            if (p.bits == 8) row[x] = static_cast<uint8_t>(Pattern(x, y));
            else if (Pattern(x, y) & 1) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
        file.insert(file.end(), row.begin(), row.end());
    }
    if (p.lastRowUnpadded) file.resize(file.size() - (rowBytes - (static_cast<std::size_t>(p.width) * p.bits + 7) / 8));
    return file;
}

struct Streamed {
    DibError error = DibError::None;
    std::vector<int> rowsSeen;  // y of each row handed on, in order
    int wrongPixels = 0;
    std::size_t largestRead = 0;
};

// Decodes `file` from its first bytes plus reads through `read`, checking
// every row handed on against Pattern.
Streamed DecodeThrough(const Picture& p, std::span<const uint8_t> head, uint64_t fileSize, const DibFileReader& read) {
    Streamed result;
    const TVemo_dib dib = TVemo_dib::FromBmpFile(head);
    EXPECT_EQ(dib.Error(), DibError::None);
    const DibFileReader counting = [&](uint64_t offset, uint8_t* into, std::size_t bytes) {
        result.largestRead = std::max(result.largestRead, bytes);
        return read(offset, into, bytes);
    };
    result.error = dib.DecodeStreamed(counting, fileSize, [&](int y, const uint8_t* row) {
        result.rowsSeen.push_back(y);
        for (int x = 0; x < p.width; ++x) {
            const int value = p.bits == 8 ? row[x] : (row[x / 8] >> (7 - x % 8)) & 1;
            const int expected = p.bits == 8 ? Pattern(x, y) : Pattern(x, y) & 1;
            if (value != expected) ++result.wrongPixels;
        }
    });
    return result;
}

// Catches: rows lost, repeated or shifted at block boundaries, the row
// order flipped, a short last row refused, or the whole file read at once.
TEST(DibStreamTest, BlocksOfRowsGiveEveryRowOnce) {
    const std::vector<Picture> pictures = {
        {8, 1001, 600, false, true},    // 261 rows a block, three blocks and a bit
        {8, 1001, 600, true, false},
        {1, 20001, 300, false, true},   // 104 rows a block
        {8, 300000, 3, false, false},   // a row larger than a block: one row a read
        {1, 13, 7, true, true},         // the whole picture in one block
    };
    for (const Picture& p : pictures) {
        const std::vector<uint8_t> file = PatternBmp(p);
        const auto read = [&file](uint64_t offset, uint8_t* into, std::size_t bytes) {
            const std::size_t n = offset < file.size() ? std::min<std::size_t>(bytes, file.size() - offset) : 0;
            std::memcpy(into, file.data() + offset, n);
            return n;
        };
        const std::span<const uint8_t> head(file.data(), std::min<std::size_t>(file.size(), 2048));
        const Streamed result = DecodeThrough(p, head, file.size(), read);
        const std::string name = std::to_string(p.bits) + "-bit " + std::to_string(p.width) + " x " +
                                 std::to_string(p.height);
        EXPECT_EQ(result.error, DibError::None) << name;
        EXPECT_EQ(result.wrongPixels, 0) << name;
        std::vector<int> expected(static_cast<std::size_t>(p.height));
        for (int s = 0; s < p.height; ++s) expected[static_cast<std::size_t>(s)] = p.topDown ? s : p.height - 1 - s;
        EXPECT_EQ(result.rowsSeen, expected) << name;
        const std::size_t rowBytes = (static_cast<std::size_t>(p.width) * p.bits + 31) / 32 * 4;
        EXPECT_LE(result.largestRead, std::max(TVemo_dib::kStreamBlockBytes, rowBytes)) << name;
    }
}

// Catches: a file shortened by another program between two reads traced
// as a picture with paper rows (or stale rows) at its end, or rows of a
// block read short handed on before the fault is seen.
TEST(DibStreamTest, FileShrinkingBetweenReadsIsCutOff) {
    const Picture p{8, 1001, 600, false, false};
    TempFolder temp;
    const std::string path = temp.File("shrinking.bmp");
    const std::vector<uint8_t> bytes = PatternBmp(p);
    WriteBytes(path, bytes);
    ReadOnlyFile file(path);
    ASSERT_TRUE(file.IsOpen());
    uint8_t head[2048];
    const std::size_t headSize = file.ReadAt(0, head, sizeof head);
    int reads = 0;
    const auto read = [&](uint64_t offset, uint8_t* into, std::size_t count) {
        // After the first block, the file loses its last half.
        if (++reads == 2) {
            EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(bytes.size() / 2)), 0);
        }
        return file.ReadAt(offset, into, count);
    };
    const Streamed result = DecodeThrough(p, {head, headSize}, file.Size(), read);
    EXPECT_EQ(result.error, DibError::Truncated);
    EXPECT_TRUE(file.IsOpen()) << file.Error();
    EXPECT_EQ(result.wrongPixels, 0);
    // Only whole blocks read in full: the first (261 rows); the second
    // read got part of its block, the file's half ending inside it.
    EXPECT_EQ(result.rowsSeen.size(), 261u);
}

// Catches: a file already too short for its rows found out only after the
// rows before the fault were handed on.
TEST(DibStreamTest, ShortFileIsRefusedBeforeAnyRow) {
    const Picture p{1, 20001, 300, false, false};
    std::vector<uint8_t> file = PatternBmp(p);
    // The last row's padding is 3 bytes: one byte more is one of its pixels.
    file.resize(file.size() - 4);
    const auto read = [&file](uint64_t offset, uint8_t* into, std::size_t bytes) {
        const std::size_t n = offset < file.size() ? std::min<std::size_t>(bytes, file.size() - offset) : 0;
        std::memcpy(into, file.data() + offset, n);
        return n;
    };
    const Streamed result = DecodeThrough(p, {file.data(), 2048}, file.size(), read);
    EXPECT_EQ(result.error, DibError::Truncated);
    EXPECT_TRUE(result.rowsSeen.empty());

    // Run-length data that is not there at all: cut off, and nothing read
    // into a buffer that does not exist.
    std::vector<uint8_t> rle = PatternBmp({8, 4, 2, false, false});
    rle[30] = 1;  // RLE8
    rle.resize(14 + 40 + 4 * 256);
    bool emptyRead = false;
    const TVemo_dib dib = TVemo_dib::FromBmpFile(rle);
    const DibError error = dib.DecodeStreamed(
        [&](uint64_t, uint8_t* into, std::size_t bytes) {
            emptyRead = emptyRead || into == nullptr || bytes == 0;
            return std::size_t{0};
        },
        rle.size(), [](int, const uint8_t*) {});
    EXPECT_EQ(error, DibError::Truncated);
    EXPECT_FALSE(emptyRead);
}

}  // namespace
