// True scale: a run in millimetres or inches writes every format at the
// image's resolution (stored, or given), and a run that has none fails
// before it traces.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <sstream>

#include "common/Vemo_sys.h"
#include "drawing_support.h"
#include "image/Vemo_susie.h"
#include "job/Vemo_comp.h"
#include "test_support.h"

namespace {

// Every number of a text file, in order.
std::vector<double> NumbersOf(const std::string& text) {
    std::vector<double> numbers;
    std::string token;
    for (const char c : text + "\n") {
        if (c == ',' || c == '\r' || c == '\n') {
            if (!token.empty()) numbers.push_back(std::stod(token));
            token.clear();
        } else {
            token += c;
        }
    }
    return numbers;
}

class Units : public ::testing::Test {
protected:
    Units() : settings(VEMO_SYSTEM_DIR, Collect()), susie(Collect()) {}

    MessageSink Collect() {
        return [this](const std::string& text) { messages.push_back(text); };
    }
    int Run(const std::string& image, const std::string& output, const TraceOptions& options) {
        messages.clear();
        stages = 0;
        TVemo_comp job(image, output, settings, susie, Collect(), [this](std::string_view) { ++stages; });
        return job.Run(options);
    }
    static TraceOptions Formats(OutputUnit unit) {
        TraceOptions options;
        options.xRatioText = "1.0";
        options.yRatioText = " 2.000";
        options.exportText = options.exportDxf = options.exportA10 = options.exportSvg = true;
        options.units = unit;
        return options;
    }

    std::vector<std::string> messages;
    int stages = 0;
    TVemo_sysF settings;
    TVemo_susieF susie;
    TempFolder folder;
};

// Catches: a unit applied to some formats only, the scale not multiplied
// with the ratio, or inches and millimetres mixed up.
TEST_F(Units, EveryFormatIsWrittenAtTheStoredResolution) {
    ASSERT_TRUE(WriteDrawingAt(folder.File("plan.bmp"), 3937));  // 100 dpi
    ASSERT_EQ(Run(folder.File("plan.bmp"), folder.Path(), Formats(OutputUnit::Px)), 0);
    const std::vector<double> pixels = NumbersOf(ReadFile(folder.File("plan.txt")));
    struct Case {
        OutputUnit unit;
        double perPixel;
        const char* width;   // 60 px across
        const char* height;  // 40 px down, Y ratio 2
    };
    for (const Case& c : {Case{OutputUnit::Mm, 0.254, "15.240", "20.320"}, Case{OutputUnit::In, 0.01, "0.600", "0.800"}}) {
        const std::string output = folder.File(UnitName(c.unit));
        std::filesystem::create_directory(output);
        ASSERT_EQ(Run(folder.File("plan.bmp"), output, Formats(c.unit)), 0) << messages.front();
        const std::vector<double> scaled = NumbersOf(ReadFile(output + "/plan.txt"));
        ASSERT_EQ(scaled.size(), pixels.size());
        EXPECT_EQ(ReadFile(output + "/plan.txt").rfind(std::string(c.width) + "," + c.height + "\r\n", 0), 0u);
        // Point counts and coordinates alike: counts are whole, so only the
        // coordinates change, each by the unit's factor (to 3 decimals).
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            const bool count = pixels[i] == std::floor(pixels[i]) && scaled[i] == pixels[i];
            if (!count) {
                EXPECT_NEAR(scaled[i], pixels[i] * c.perPixel, 0.0006) << UnitName(c.unit) << " number " << i;
            }
        }
        for (const char* format : {"/plan.dxf", "/plan.A10", "/plan.svg"}) {
            const std::string text = ReadFile(output + format);
            EXPECT_NE(text.find(c.width), std::string::npos) << UnitName(c.unit) << format;
            EXPECT_NE(text.find(c.height), std::string::npos) << UnitName(c.unit) << format;
        }
    }
}

// Catches: --dpi ignored where the image stores a resolution, or X and Y
// swapped.
TEST_F(Units, AGivenResolutionWinsOverTheStoredOne) {
    ASSERT_TRUE(WriteDrawingAt(folder.File("plan.bmp"), 3937));
    TraceOptions options = Formats(OutputUnit::In);
    options.exportDxf = options.exportA10 = options.exportSvg = false;
    options.xDpi = 50.0;
    options.yDpi = 200.0;
    ASSERT_EQ(Run(folder.File("plan.bmp"), folder.Path(), options), 0);
    EXPECT_EQ(ReadFile(folder.File("plan.txt")).rfind("1.200,0.400\r\n", 0), 0u);  // 60 / 50, 40 x 2 / 200
}

// Catches: a drawing written in pixels and labelled millimetres when the
// image stores no resolution, or the failure found only after the trace.
TEST_F(Units, NoResolutionFailsBeforeTheTraceNamingTheImageAndDpi) {
    ASSERT_TRUE(WriteDrawingAt(folder.File("plan.bmp"), 0));
    EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), Formats(OutputUnit::Mm)), 1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind(folder.File("plan.bmp") + "は処理できません。", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find("--dpi"), std::string::npos) << messages[0];
    EXPECT_EQ(stages, 0);
    EXPECT_EQ(FilesIn(folder.Path()), std::vector<std::string>{"plan.bmp"});

    // Pixels need no resolution.
    EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), Formats(OutputUnit::Px)), 0);
}

}  // namespace
