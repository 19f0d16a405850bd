// TVemo_susieF with fake plug-ins: every case of the plug-in loader ends in
// a failed load (status 1) with a message that says what went wrong, the
// image file is closed again, and blocks from a plug-in are trusted no
// further than malloc made them.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/Vemo_sys.h"
#include "common/Vemo_texts.h"
#include "image/Vemo_bmpset.h"
#include "image/Vemo_spi.h"
#include "image/Vemo_susie.h"
#include "image_test_support.h"

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

// Catches: a plug-in case reported the wrong way (a library without the
// export called "not found"), counted as a successful load of nothing, or
// leaving a picture behind.
struct PluginCase {
    const char* mode;
    std::vector<std::string> (*messages)(const std::string& plugin, const std::string& image);
};

const PluginCase kCases[] = {
    {"no_issupported",
     [](const std::string& p, const std::string&) {
         return std::vector{texts::PluginExportMissing(p, kSpiIsSupportedName)};
     }},
    {"refuses",
     [](const std::string& p, const std::string& i) {
         return std::vector{texts::ImageNotDecodable(i, texts::ReasonPluginRefuses(p))};
     }},
    {"no_getpicture",
     [](const std::string& p, const std::string&) {
         return std::vector{texts::PluginExportMissing(p, kSpiGetPictureName)};
     }},
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

TEST_F(SusieTest, EveryPluginFailureIsAFailedLoadWithItsReason) {
    for (const PluginCase& c : kCases) {
        const int before = OpenDescriptors();
        EXPECT_EQ(LoadThrough(Fake(c.mode)), 1) << c.mode;
        const std::string plugin = (m_temp.Path() / "Vemosys" / "plugin.spi").string();
        EXPECT_EQ(m_messages, c.messages(plugin, m_image)) << c.mode;
        EXPECT_EQ(OpenDescriptors(), before) << c.mode << ": the image file was left open";
    }
}

// Catches: a missing or unloadable plug-in passed over in silence, or the
// two told apart wrongly.
TEST_F(SusieTest, MissingOrUnloadableLibraryIsNamed) {
    const std::string notALibrary = m_temp.File("text.spi");
    WriteBytes(notALibrary, {'n', 'o', 't', ' ', 'E', 'L', 'F'});
    EXPECT_EQ(LoadThrough(notALibrary), 1);
    const std::string plugin = (m_temp.Path() / "Vemosys" / "plugin.spi").string();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find("「" + plugin + "」を読み込めません"), std::string::npos) << m_messages[0];

    std::vector<std::string> told;
    DibPicture target;
    TVemo_susieF([&](const std::string& text) { told.push_back(text); })
        .LoadWithPlugin(m_temp.File("gone.spi"), m_image, target);
    EXPECT_TRUE(target.IsNull());
    EXPECT_EQ(told, std::vector{texts::PluginMissing(m_temp.File("gone.spi"))});
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
    EXPECT_EQ(LoadThrough(Fake("three_by_two")), 1);
    EXPECT_EQ(m_messages.size(), 1u);
}

// Catches: a failed load overwriting the caller's bitmap.
TEST_F(SusieTest, FailedLoadLeavesTheTargetUntouched) {
    DibPicture target;
    target.width = 5;
    target.height = 4;
    target.format = DibRowFormat::Indexed8;
    target.colours = {MakeRgb(0, 0, 0)};
    target.pixels.assign(20, 0);
    TVemo_susieF susie([](const std::string&) {});
    for (const char* mode : {"refuses", "getpicture_fails", "short_bits"}) {
        susie.LoadWithPlugin(Fake(mode), m_image, target);
        EXPECT_EQ(target.width, 5) << mode;
        EXPECT_EQ(target.height, 4) << mode;
        EXPECT_EQ(target.pixels, std::vector<uint8_t>(20, 0)) << mode;
    }
    susie.LoadWithPlugin(Fake("three_by_two"), m_image, target);
    EXPECT_EQ(target.width, 3);
    EXPECT_EQ(target.height, 2);
}

}  // namespace
