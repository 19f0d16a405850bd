// TVemo_susieF with fake plug-ins: every case of the plug-in loader ends in
// its designed state (message or none, status 0, working bitmap 0 x 0), the
// image file is closed again, and blocks from a plug-in are trusted no
// further than malloc made them.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ImageTestSupport.h"
#include "app/Vemo_sys.h"
#include "app/Vemo_texts.h"
#include "image/Vemo_bmpset.h"
#include "image/Vemo_spi.h"
#include "image/Vemo_susie.h"

namespace {

std::string Fake(const std::string& mode) { return std::string(VEMO_FAKE_SPI_DIR) + "/fake_" + mode + ".spi"; }

int OpenDescriptors() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                          std::filesystem::directory_iterator()));
}

class SusieTest : public ::testing::Test {
protected:
    SusieTest() : m_image(m_temp.File("picture.tif")) { WriteBytes(m_image, {'F', 'A', 'K', 'E', 0, 0, 0, 0}); }

    // The whole load through a system folder whose TIFF plug-in is `plugin`.
    int LoadThrough(const std::string& plugin) {
        const std::filesystem::path folder = m_temp.Path() / "Vemosys";
        std::filesystem::remove_all(folder);
        MakeSystemFolder(folder, {.tifSpi = "plugin.spi"});
        std::filesystem::copy_file(plugin, folder / "plugin.spi");
        m_messages.clear();
        const MessageSink sink = [this](const std::string& text) { m_messages.push_back(text); };
        TVemo_sysF settings(folder.string(), sink);
        TVemo_susieF susie(sink);
        TVemo_bmpset loader(m_image, settings, susie, sink);
        m_working = loader.GetWorkingBitmap() ? *loader.GetWorkingBitmap() : QImage(1, 1, QImage::Format_Mono);
        return loader.GetStatus();
    }

    TempFolder m_temp;
    std::string m_image;
    std::vector<std::string> m_messages;
    QImage m_working;
};

// Catches: a plug-in case reported the wrong way, counted as a failed load,
// or leaving a picture behind.
struct PluginCase {
    const char* mode;
    std::vector<std::string> (*messages)(const std::string& plugin, const std::string& image);
};

const PluginCase kCases[] = {
    {"no_issupported", [](const std::string& p, const std::string&) { return std::vector{texts::PluginExportMissing(p)}; }},
    {"refuses", [](const std::string&, const std::string&) { return std::vector<std::string>{}; }},
    {"no_getpicture",
     [](const std::string&, const std::string&) { return std::vector<std::string>{texts::kPluginReadFailed}; }},
    {"getpicture_fails",
     [](const std::string&, const std::string& i) {
         return std::vector{texts::ImageNotDecodable(i, texts::ReasonPluginFailed(kSpiOutOfOrder))};
     }},
    {"null_block",
     [](const std::string&, const std::string& i) {
         return std::vector{texts::ImageNotDecodable(i, texts::kReasonPluginData)};
     }},
    {"bad_header",
     [](const std::string&, const std::string& i) {
         return std::vector{texts::ImageNotDecodable(i, texts::kReasonPluginData)};
     }},
    {"short_bits",
     [](const std::string&, const std::string& i) {
         return std::vector{texts::ImageNotDecodable(i, texts::kReasonPluginData)};
     }},
    {"huge_header",
     [](const std::string&, const std::string& i) {
         return std::vector{texts::ImageNotDecodable(i, texts::ReasonImageTooLarge(40000, 30000, kSpiMaxPixels))};
     }},
};

TEST_F(SusieTest, EveryPluginFailureEndsWithAnEmptyWorkingBitmap) {
    for (const PluginCase& c : kCases) {
        const int before = OpenDescriptors();
        EXPECT_EQ(LoadThrough(Fake(c.mode)), 0) << c.mode;
        EXPECT_TRUE(m_working.isNull()) << c.mode;
        EXPECT_EQ(m_working.width(), 0) << c.mode;
        const std::string plugin = (m_temp.Path() / "Vemosys" / "plugin.spi").string();
        EXPECT_EQ(m_messages, c.messages(plugin, m_image)) << c.mode;
        EXPECT_EQ(OpenDescriptors(), before) << c.mode << ": the image file was left open";
    }
}

TEST_F(SusieTest, LibraryThatCannotBeLoadedIsSilent) {
    const std::string notALibrary = m_temp.File("text.spi");
    WriteBytes(notALibrary, {'n', 'o', 't', ' ', 'E', 'L', 'F'});
    EXPECT_EQ(LoadThrough(notALibrary), 0);
    EXPECT_TRUE(m_working.isNull());
    EXPECT_TRUE(m_messages.empty());
}

// Catches: IsSupported asked with something other than a descriptor of
// the image file (the fake reads "FAKE" through it).
TEST_F(SusieTest, PictureFromThePluginBecomesTheWorkingBitmap) {
    ASSERT_EQ(LoadThrough(Fake("three_by_two")), 0);
    EXPECT_TRUE(m_messages.empty());
    ASSERT_EQ(m_working.size(), QSize(3, 2));
    // Black, white, red / grey 140, white, black against black and white.
    EXPECT_EQ(RowBytes(m_working), (std::vector<uint8_t>{0, 1, 0, 1, 1, 0}));

    WriteBytes(m_image, {'N', 'O', 'P', 'E'});
    EXPECT_EQ(LoadThrough(Fake("three_by_two")), 0);
    EXPECT_TRUE(m_working.isNull());
    EXPECT_TRUE(m_messages.empty());
}

// Catches: a failed load overwriting the caller's bitmap.
TEST_F(SusieTest, FailedLoadLeavesTheTargetUntouched) {
    QImage target(5, 4, QImage::Format_Indexed8);
    target.setColorCount(1);
    target.fill(0);
    const QImage before = target;
    TVemo_susieF susie([](const std::string&) {});
    for (const char* mode : {"refuses", "getpicture_fails", "short_bits"}) {
        susie.LoadWithPlugin(Fake(mode), m_image, target);
        EXPECT_EQ(target, before) << mode;
    }
    susie.LoadWithPlugin(Fake("three_by_two"), m_image, target);
    EXPECT_EQ(target.size(), QSize(3, 2));
}

}  // namespace
