// TVemo_bmpset: the order of the load's checks and their messages, the BMP
// variants, the colour mapping into the base image's colour table, and BMP
// files that must be refused rather than half read.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "common/Vemo_sys.h"
#include "common/Vemo_texts.h"
#include "image/Vemo_bmpset.h"
#include "image/Vemo_mappedfile.h"
#include "image/Vemo_spi.h"
#include "image/Vemo_susie.h"
#include "image_test_support.h"

namespace {

class BmpsetTest : public ::testing::Test {
protected:
    BmpsetTest() { MakeSystemFolder(SystemFolder(), m_layout); }

    std::string SystemFolder() const { return m_temp.File("Vemosys"); }
    std::string Image(const std::string& name) const { return m_temp.File(name); }
    void Remake(const SystemFolderLayout& layout) {
        std::filesystem::remove_all(SystemFolder());
        m_layout = layout;
        MakeSystemFolder(SystemFolder(), m_layout);
    }

    // Loads `path` with a fresh settings holder and keeps the messages.
    int Load(const std::string& path) {
        m_messages.clear();
        const MessageSink sink = [this](const std::string& text) { m_messages.push_back(text); };
        TVemo_sysF settings(SystemFolder(), sink);
        TVemo_susieF susie(sink);
        TVemo_bmpset loader(path, settings, susie, sink);
        m_working = loader.GetWorkingBitmap() ? *loader.GetWorkingBitmap() : QImage();
        m_hadWorking = loader.GetWorkingBitmap() != nullptr;
        m_hadBase = loader.GetBaseBitmap() != nullptr;
        if (m_hadBase) m_base = *loader.GetBaseBitmap();
        return loader.GetStatus();
    }

    TempFolder m_temp;
    SystemFolderLayout m_layout;
    std::vector<std::string> m_messages;
    QImage m_working;
    QImage m_base;
    bool m_hadWorking = false;
    bool m_hadBase = false;
};

// Catches: checks run out of order, so that one load shows two messages or
// the wrong one.
TEST_F(BmpsetTest, MissingFileIsReportedBeforeItsType) {
    const std::string path = Image("nothing.jpg");
    EXPECT_EQ(Load(path), 1);
    EXPECT_EQ(m_messages, std::vector<std::string>{texts::ImageFileMissing(path)});
    EXPECT_FALSE(m_hadWorking);
    EXPECT_FALSE(m_hadBase);
}

TEST_F(BmpsetTest, UnsupportedTypeIsReportedBeforeTheBaseImage) {
    Remake({.baseName = "missing.bmp", .writeBase = false});
    const std::string path = Image("drawing.jpg");
    WriteBytes(path, DrawingBmp(TestDrawing(), BmpKind::Bits8));
    EXPECT_EQ(Load(path), 1);
    EXPECT_EQ(m_messages, std::vector<std::string>{texts::FileTypeNotSupported(".JPG")});
}

// Catches: the extension compared case-sensitively, taken from a folder
// name, or shown in the wrong case.
TEST_F(BmpsetTest, ExtensionRules) {
    EXPECT_EQ(TVemo_bmpset::ExtensionOf("a/b/plan.Bmp"), ".Bmp");
    EXPECT_EQ(TVemo_bmpset::ExtensionOf("a/b.v2/plan"), "");
    EXPECT_EQ(TVemo_bmpset::ExtensionOf("plan"), "");
    EXPECT_EQ(TVemo_bmpset::ExtensionOf("plan.tar.gz"), ".gz");

    for (const char* name : {"plan.tiff", "plan.jpg", "plan", "v2.0/plan"}) {
        const std::string path = Image(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteBytes(path, DrawingBmp(TestDrawing(), BmpKind::Bits8));
        EXPECT_EQ(Load(path), 1) << name;
        const std::string extension = TVemo_bmpset::ExtensionOf(name);
        std::string upper = extension;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(m_messages, std::vector<std::string>{texts::FileTypeNotSupported(upper)}) << name;
    }
    const std::string lower = Image("lower.bmp");
    WriteBytes(lower, DrawingBmp(TestDrawing(), BmpKind::Bits8));
    EXPECT_EQ(Load(lower), 0);
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(BmpsetTest, BaseImageMustExistEvenForBmp) {
    Remake({.baseName = "gone.bmp", .writeBase = false});
    const std::string path = Image("drawing.bmp");
    WriteBytes(path, DrawingBmp(TestDrawing(), BmpKind::Bits8));
    EXPECT_EQ(Load(path), 1);
    EXPECT_EQ(m_messages, std::vector<std::string>{texts::BaseImageMissing(SystemFolder() + "/gone.bmp")});
    EXPECT_FALSE(m_hadWorking);
}

// Catches: a base image without a colour table silently giving a working
// bitmap whose bytes mean nothing.
TEST_F(BmpsetTest, BaseImageWithoutColourTableIsRefused) {
    Remake({.baseName = "rgb.bmp", .writeBase = false});
    WriteBytes(std::filesystem::path(SystemFolder()) / "rgb.bmp", ColourBmp({{0x000000, 0xFFFFFF}}));
    const std::string path = Image("drawing.bmp");
    WriteBytes(path, DrawingBmp(TestDrawing(), BmpKind::Bits8));
    EXPECT_EQ(Load(path), 1);
    EXPECT_EQ(m_messages, std::vector<std::string>{texts::BaseImageNotIndexed(SystemFolder() + "/rgb.bmp")});
}

// Catches: any BMP layout decoded wrongly (bit order, nibble order, row
// order, padding, masks, OS/2 headers, run-length codes).
class BmpVariantTest : public BmpsetTest, public ::testing::WithParamInterface<BmpKind> {};

TEST_P(BmpVariantTest, SameDrawingGivesSameWorkingBitmap) {
    const std::string path = Image("drawing.bmp");
    WriteBytes(path, DrawingBmp(TestDrawing(), GetParam()));
    ASSERT_EQ(Load(path), 0) << (m_messages.empty() ? "" : m_messages.front());
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(m_working.format(), QImage::Format_Indexed8);
    EXPECT_EQ(m_working.size(), QSize(13, 7));
    EXPECT_EQ(m_working.colorTable(), m_base.colorTable());
    EXPECT_EQ(RowBytes(m_working), ExpectedBytes(TestDrawing()));
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, BmpVariantTest,
                         ::testing::Values(BmpKind::Bits1, BmpKind::Bits1InkIsOne, BmpKind::Bits4, BmpKind::Bits8,
                                           BmpKind::Rle8, BmpKind::Rle4, BmpKind::Bits16, BmpKind::Bits24,
                                           BmpKind::Bits32Fields, BmpKind::TopDown, BmpKind::Os2Core,
                                           BmpKind::Os2Full));

// Catches: the working bitmap keeping the base image's size.
TEST_F(BmpsetTest, WorkingBitmapHasTheImageSizeWhateverTheBase) {
    std::vector<uint32_t> blackWhite(256, 0xFFFFFF);
    blackWhite[0] = 0x000000;
    Remake({.baseName = "big_base.bmp", .writeBase = false});
    WriteBytes(std::filesystem::path(SystemFolder()) / "big_base.bmp", IndexedBmp(64, 40, blackWhite, 255));
    const std::string path = Image("drawing.bmp");
    WriteBytes(path, DrawingBmp(TestDrawing(), BmpKind::Bits1));
    ASSERT_EQ(Load(path), 0);
    EXPECT_EQ(m_working.size(), QSize(13, 7));
    EXPECT_EQ(m_base.size(), QSize(64, 40));
    EXPECT_EQ(RowBytes(m_working), ExpectedBytes(TestDrawing()));
}

// Catches: grey and colour pixels thresholded some other way than by the
// nearest colour of the base table.
TEST_F(BmpsetTest, ColoursMapToTheNearestBaseColour) {
    const std::string path = Image("colours.bmp");
    // Against black (0) and white (1..255): nearer to black when r+g+b < 383.
    WriteBytes(path, ColourBmp({{0x7F7F7F, 0x808080, 0xFF0000, 0x00FFFF, 0x7F807F, 0x80807F, 0x202020}}));
    ASSERT_EQ(Load(path), 0);
    EXPECT_EQ(RowBytes(m_working), (std::vector<uint8_t>{0, 1, 0, 1, 0, 1, 0}));
}

// Catches: a tie won by the higher index, or a repeated base colour
// reached through its second entry.
TEST_F(BmpsetTest, TiesAndRepeatedBaseColoursGoToTheLowestIndex) {
    Remake({.baseName = "grey_base.bmp", .writeBase = false});
    const std::vector<uint32_t> greys = {0x000000, 0x646464, 0x646464, 0xC8C8C8};
    WriteBytes(std::filesystem::path(SystemFolder()) / "grey_base.bmp", IndexedBmp(4, 4, greys));
    const std::string path = Image("greys.bmp");
    // 0x323232 is 150 from both black and 0x646464; 0x969696 is 150 from
    // both 0x646464 and 0xC8C8C8.
    WriteBytes(path, ColourBmp({{0x323232, 0x646464, 0x969696, 0xFFFFFF}}));
    ASSERT_EQ(Load(path), 0);
    EXPECT_EQ(m_working.colorCount(), 4);
    EXPECT_EQ(RowBytes(m_working), (std::vector<uint8_t>{0, 1, 1, 3}));
}

// Catches: pixels that run-length codes skip (deltas, early line and
// picture ends) left undefined or zero, which is ink.
TEST_F(BmpsetTest, PixelsSkippedByRunLengthCodesArePaper) {
    std::vector<uint8_t> file = DrawingBmp(Drawing{{"....", "....", "....", "...."}}, BmpKind::Rle8);
    // Colour table: index 0 black, everything else white; draw with 0.
    const std::size_t table = 14 + 40;
    for (int i = 0; i < 4; ++i) file[table + i] = 0;
    for (int i = 1; i < 256; ++i) std::fill_n(file.begin() + static_cast<long>(table + 4 * i), 3, 0xFF);
    std::vector<uint8_t> runs = {
        1, 0, 0, 0,        // bottom row: one ink pixel, end of line
        0, 2, 2, 1,        // delta: two right, one up (row 1 from the top, x = 2)
        1, 0, 0, 1,        // one ink pixel, end of picture
    };
    file.resize(table + 4 * 256);
    file.insert(file.end(), runs.begin(), runs.end());
    const std::string path = Image("skips.bmp");
    WriteBytes(path, file);
    ASSERT_EQ(Load(path), 0) << (m_messages.empty() ? "" : m_messages.front());
    EXPECT_EQ(RowBytes(m_working), (std::vector<uint8_t>{1, 1, 1, 1,  //
                                                         1, 1, 0, 1,  //
                                                         1, 1, 1, 1,  //
                                                         0, 1, 1, 1}));
}

// Catches: a broken BMP read as far as it goes and traced as if whole, or
// refused with a message that does not say which file.
struct BrokenBmp {
    const char* name;
    std::vector<uint8_t> bytes;
    std::string reason;
};

std::vector<BrokenBmp> BrokenBmps() {
    std::vector<BrokenBmp> cases;
    const std::vector<uint8_t> good = DrawingBmp(TestDrawing(), BmpKind::Bits8);
    cases.push_back({"truncated_pixels", {good.begin(), good.end() - 20}, texts::kReasonTruncated});
    cases.push_back({"truncated_table", {good.begin(), good.begin() + 14 + 40 + 100}, texts::kReasonTruncated});
    std::vector<uint8_t> twoBit = good;
    twoBit[28] = 2;
    cases.push_back({"two_bit", twoBit, texts::ReasonBmpBitCount(2)});
    std::vector<uint8_t> jpeg = good;
    jpeg[30] = 4;
    cases.push_back({"jpeg_inside", jpeg, texts::ReasonBmpCompression(4)});
    std::vector<uint8_t> header = good;
    header[14] = 41;
    cases.push_back({"odd_header", header, texts::ReasonBmpHeaderSize(41)});
    cases.push_back({"not_bmp", {0x89, 'P', 'N', 'G', 1, 2, 3, 4}, texts::kReasonNotBmp});
    cases.push_back({"empty", {}, texts::kReasonNotBmp});
    std::vector<uint8_t> noWidth = good;
    std::fill_n(noWidth.begin() + 18, 4, 0);
    cases.push_back({"zero_width", noWidth, texts::kReasonCorrupt});
    // 40000 x 30000 declared: refused from the header, before any pixel.
    std::vector<uint8_t> huge = good;
    huge[18] = 0x40, huge[19] = 0x9C, huge[20] = 0, huge[21] = 0;
    huge[22] = 0x30, huge[23] = 0x75, huge[24] = 0, huge[25] = 0;
    cases.push_back({"too_large", huge, texts::ReasonImageTooLarge(40000, 30000, kSpiMaxPixels)});
    return cases;
}

TEST_F(BmpsetTest, BrokenBmpFailsWithItsNameAndReason) {
    for (const BrokenBmp& broken : BrokenBmps()) {
        const std::string path = Image(std::string(broken.name) + ".bmp");
        WriteBytes(path, broken.bytes);
        EXPECT_EQ(Load(path), 1) << broken.name;
        EXPECT_EQ(m_messages, std::vector<std::string>{texts::ImageNotDecodable(path, broken.reason)}) << broken.name;
        EXPECT_FALSE(m_hadWorking) << broken.name;
    }
}

// Catches: a folder, a pipe or a device named like an image taken for a
// file, or told as missing when it is there but no file.
TEST_F(BmpsetTest, FolderPipeOrDeviceNamedLikeAnImageIsNotAFile) {
    const std::string folder = Image("folder.bmp");
    std::filesystem::create_directories(folder);
    const std::string pipe = Image("pipe.bmp");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* what;
    } cases[] = {{folder, "フォルダです"}, {pipe, "名前付きパイプ（FIFO）です"}, {"/dev/null", "デバイスファイルです"}};
    for (const auto& c : cases) {
        m_messages.clear();
        EXPECT_EQ(Load(c.path), 1) << c.path;
        EXPECT_EQ(m_messages, std::vector<std::string>{texts::ImageNotAFile(c.path, c.what)});
    }
}

// Catches: an image shortened by another program while it is decoded
// killing the process (SIGBUS on a mapped file) instead of reading short.
TEST_F(BmpsetTest, FileShortenedWhileItIsReadIsNoCrash) {
    const std::string path = Image("shrinking.bmp");
    const std::vector<uint8_t> bytes = DrawingBmp(TestDrawing(), BmpKind::Bits8);
    WriteBytes(path, bytes);
    const MappedFile file(path);
    ASSERT_EQ(::truncate(path.c_str(), 0), 0);
    ASSERT_TRUE(file.IsOpen());
    const auto data = file.Data();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), bytes.begin(), bytes.end()));
}

}  // namespace
