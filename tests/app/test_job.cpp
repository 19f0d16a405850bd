// Trace job: what a run writes, tells and returns, for the good path and
// for every way it can fail.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QImage>

#include "app/Vemo_comp.h"
#include "app/Vemo_sys.h"
#include "image/Vemo_susie.h"
#include "test_support.h"

namespace {

struct Collected {
    std::vector<std::string> messages;
    std::vector<std::string> stages;
    MessageSink Messages() {
        return [this](const std::string& text) { messages.push_back(text); };
    }
    StatusSink Stages() {
        return [this](std::string_view text) { stages.emplace_back(text); };
    }
};

// A drawing with a cross and a square outline, saved as a 1-bit BMP.
void WriteDrawing(const std::string& path) {
    QImage image(60, 40, QImage::Format_Mono);
    image.setColor(0, qRgb(0, 0, 0));
    image.setColor(1, qRgb(255, 255, 255));
    image.fill(1);
    for (int x = 5; x < 55; ++x) image.setPixel(x, 20, 0);
    for (int y = 5; y < 35; ++y) image.setPixel(30, y, 0);
    for (int i = 10; i < 20; ++i) {
        image.setPixel(i, 5, 0);
        image.setPixel(i, 14, 0);
        image.setPixel(10, i - 5, 0);
        image.setPixel(19, i - 5, 0);
    }
    ASSERT_TRUE(image.save(QString::fromStdString(path), "BMP"));
}

TraceOptions AllFormats() {
    TraceOptions options;
    options.xRatioText = "1.0";
    options.yRatioText = "1.0";
    options.exportText = options.exportDxf = options.exportA10 = true;
    return options;
}

class Job : public ::testing::Test {
protected:
    Job() : settings(VEMO_SYSTEM_DIR, collected.Messages()), susie(collected.Messages()) {}

    int Run(const std::string& image, const std::string& output, const TraceOptions& options) {
        TVemo_comp job(image, output, settings, susie, collected.Messages(), collected.Stages());
        const int status = job.Run(options);
        result = job.GetResult();
        written = job.WrittenFiles();
        return status;
    }

    Collected collected;
    TVemo_sysF settings;
    TVemo_susieF susie;
    TempFolder folder;
    TraceResult result;
    std::vector<std::string> written;
};

TEST_F(Job, TracesAndWritesTheTickedFormatsInOrder) {
    WriteDrawing(folder.File("plan.bmp"));
    TraceOptions options = AllFormats();
    options.flipY = true;
    options.xRatioText = " 2.500";
    ASSERT_EQ(Run(folder.File("plan.bmp"), folder.Path(), options), 0);
    EXPECT_EQ(written, (std::vector<std::string>{folder.File("plan.txt"), folder.File("plan.dxf"), folder.File("plan.A10")}));
    EXPECT_EQ(collected.stages, (std::vector<std::string>{"2.画像分析", "3.画像合成", "4.線分調整"}));
    ASSERT_EQ(collected.messages.size(), 1u);
    EXPECT_EQ(collected.messages[0].rfind(folder.File("plan.bmp") + "をトレースしました。 time:", 0), 0u);
    EXPECT_EQ(result.imageWidth, 60);
    EXPECT_EQ(result.imageHeight, 40);
    EXPECT_EQ(result.flipX, 0);
    EXPECT_EQ(result.flipY, 1);
    EXPECT_EQ(result.xRatio, 2.5);
    EXPECT_EQ(result.linesPath, folder.File("temp.lix"));
    EXPECT_GT(result.squareCount, 0);
    EXPECT_EQ(result.memberCount, result.squareCount);
    EXPECT_EQ(ReadFile(folder.File("plan.txt")).substr(0, 16), "150.000,40.000\r\n");  // 60 x 2.5, 40 x 1
}

TEST_F(Job, MissingImageTellsTwiceAndWritesNothing) {
    EXPECT_EQ(Run(folder.File("missing.bmp"), folder.Path(), AllFormats()), 1);
    EXPECT_EQ(collected.messages,
              (std::vector<std::string>{"指定画像ファイル「" + folder.File("missing.bmp") + "」がありません。",
                                        folder.File("missing.bmp") + "は処理できません。"}));
    EXPECT_TRUE(FilesIn(folder.Path()).empty());
    EXPECT_TRUE(collected.stages.empty());
    EXPECT_EQ(result.squaresPath, "");
}

TEST_F(Job, NoFormatTickedStillTracesAndCompletes) {
    WriteDrawing(folder.File("plan.bmp"));
    TraceOptions options = AllFormats();
    options.exportText = options.exportDxf = options.exportA10 = false;
    options.xRatioText = "abc";
    EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), options), 0);
    EXPECT_TRUE(written.empty());
    EXPECT_EQ(result.xRatio, 0.0);  // letters only: passed on as 0
    EXPECT_TRUE(std::filesystem::exists(folder.File("temp.lix")));
    EXPECT_FALSE(std::filesystem::exists(folder.File("plan.txt")));
    ASSERT_EQ(collected.messages.size(), 1u);
}

TEST_F(Job, AnUnwritableOutputFolderIsToldPerFileAndFails) {
    WriteDrawing(folder.File("plan.bmp"));
    WriteFile(folder.File("not-a-folder"), "");
    const std::string output = folder.File("not-a-folder");
    EXPECT_EQ(Run(folder.File("plan.bmp"), output, AllFormats()), 1);
    EXPECT_TRUE(written.empty());
    ASSERT_EQ(collected.messages.size(), 4u);  // three files, then completion
    EXPECT_NE(collected.messages[0].find(output + "/plan.txt"), std::string::npos) << collected.messages[0];
    EXPECT_NE(collected.messages[1].find(output + "/plan.dxf"), std::string::npos) << collected.messages[1];
    EXPECT_NE(collected.messages[2].find(output + "/plan.A10"), std::string::npos) << collected.messages[2];
    EXPECT_NE(collected.messages[3].find("をトレースしました。"), std::string::npos);
}

TEST_F(Job, AnIntermediateFileThatCannotBeWrittenStopsTheRun) {
    WriteDrawing(folder.File("plan.bmp"));
    std::filesystem::create_directory(folder.File("temp.sqr"));  // cannot be opened as a file
    EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), AllFormats()), 1);
    ASSERT_EQ(collected.messages.size(), 2u);
    EXPECT_NE(collected.messages[0].find(folder.File("temp.sqr")), std::string::npos) << collected.messages[0];
    EXPECT_EQ(collected.messages[1], folder.File("plan.bmp") + "は処理できません。");
    EXPECT_FALSE(std::filesystem::exists(folder.File("plan.txt")));
    EXPECT_FALSE(std::filesystem::exists(folder.File("temp.lix")));
}

TEST(JobOptions, FlagsCountOnlyWhenExactlyOneAndEmptyRatiosMeanOne) {
    SettingsRecord settings;
    settings.xAxis = "01";
    settings.yAxis = "1";
    settings.expTxt = "yes";
    settings.expDxf = "1";
    settings.xRatio = "";
    settings.yRatio = "0.5";
    const TraceOptions options = OptionsFromSettings(settings);
    EXPECT_FALSE(options.flipX);
    EXPECT_TRUE(options.flipY);
    EXPECT_FALSE(options.exportText);
    EXPECT_TRUE(options.exportDxf);
    EXPECT_FALSE(options.exportA10);
    EXPECT_EQ(options.xRatioText, "1.0");
    EXPECT_EQ(options.yRatioText, "0.5");
}

TEST(JobTime, ShowsWholeSecondsAndRoundedMilliseconds) {
    EXPECT_EQ(FormatElapsed(3.4), "time:3.400");
    EXPECT_EQ(FormatElapsed(61.5), "time:61.500");  // not time:1.500
    EXPECT_EQ(FormatElapsed(75.25), "time:75.250");
    EXPECT_EQ(FormatElapsed(0.0004), "time:0.000");
    EXPECT_EQ(FormatElapsed(1.9996), "time:2.000");
}

}  // namespace
