// Trace job: what a run writes, tells and returns, for the good path and
// for every way it can fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <utility>

#include <sys/stat.h>


#include "base/Vemo_folderlock.h"
#include "base/Vemo_path.h"
#include "base/Vemo_runcontrol.h"
#include "common/Vemo_sys.h"
#include "drawing_support.h"
#include "image/Vemo_susie.h"
#include "job/Vemo_comp.h"
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
    ASSERT_TRUE(WriteDrawing(folder.File("plan.bmp")));
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

// Catches: what the run can know at once (a missing image, a missing
// output folder) found only after the trace, and told in a message each.
TEST_F(Job, MissingImageAndFolderAreToldOnceBeforeAnything) {
    EXPECT_EQ(Run(folder.File("missing.bmp"), folder.File("nowhere"), AllFormats()), 1);
    EXPECT_EQ(collected.messages,
              std::vector<std::string>{"指定画像ファイル「" + folder.File("missing.bmp") + "」がありません。\n" +
                                       "出力フォルダ「" + folder.File("nowhere") + "」がありません。\n" +
                                       folder.File("missing.bmp") + "は処理できません。"});
    EXPECT_TRUE(FilesIn(folder.Path()).empty());
    EXPECT_TRUE(collected.stages.empty());
    EXPECT_EQ(result.squaresPath, "");
}

TEST_F(Job, NoFormatTickedStillTracesAndCompletes) {
    ASSERT_TRUE(WriteDrawing(folder.File("plan.bmp")));
    TraceOptions options = AllFormats();
    options.exportText = options.exportDxf = options.exportA10 = false;
    EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), options), 0);
    EXPECT_TRUE(written.empty());
    EXPECT_TRUE(std::filesystem::exists(folder.File("temp.lix")));
    EXPECT_FALSE(std::filesystem::exists(folder.File("plan.txt")));
    ASSERT_EQ(collected.messages.size(), 1u);
}

TEST_F(Job, AnOutputFolderThatIsAFileFailsBeforeTheTrace) {
    ASSERT_TRUE(WriteDrawing(folder.File("plan.bmp")));
    WriteFile(folder.File("not-a-folder"), "");
    const std::string output = folder.File("not-a-folder");
    EXPECT_EQ(Run(folder.File("plan.bmp"), output, AllFormats()), 1);
    EXPECT_EQ(collected.messages, std::vector<std::string>{"出力フォルダ「" + output + "」がありません。\n" +
                                                           folder.File("plan.bmp") + "は処理できません。"});
    EXPECT_TRUE(collected.stages.empty());
    EXPECT_FALSE(std::filesystem::exists(folder.File("temp.sqr")));
}

// Catches: a message box per file that could not be written.
TEST_F(Job, FilesThatCannotBeWrittenAreNamedInOneMessage) {
    ASSERT_TRUE(WriteDrawing(folder.File("plan.bmp")));
    for (const char* name : {"plan.txt", "plan.A10"}) std::filesystem::create_directory(folder.File(name));
    EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), AllFormats()), 1);
    EXPECT_EQ(written, std::vector<std::string>{folder.File("plan.dxf")});
    ASSERT_EQ(collected.messages.size(), 1u);
    const std::string& told = collected.messages[0];
    const std::size_t txt = told.find(folder.File("plan.txt"));
    const std::size_t a10 = told.find(folder.File("plan.A10"));
    EXPECT_TRUE(txt != std::string::npos && a10 != std::string::npos && txt < a10) << told;
    EXPECT_EQ(told.find(folder.File("plan.dxf")), std::string::npos) << told;
    EXPECT_TRUE(told.ends_with("\n" + folder.File("plan.bmp") + "は処理できません。")) << told;
}

TEST_F(Job, AnIntermediateFileThatCannotBeWrittenStopsTheRun) {
    ASSERT_TRUE(WriteDrawing(folder.File("plan.bmp")));
    std::filesystem::create_directory(folder.File("temp.sqr"));  // cannot be opened as a file
    EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), AllFormats()), 1);
    ASSERT_EQ(collected.messages.size(), 1u);
    EXPECT_NE(collected.messages[0].find(folder.File("temp.sqr")), std::string::npos) << collected.messages[0];
    EXPECT_TRUE(collected.messages[0].ends_with("\n" + folder.File("plan.bmp") + "は処理できません。"));
    EXPECT_FALSE(std::filesystem::exists(folder.File("plan.txt")));
    EXPECT_FALSE(std::filesystem::exists(folder.File("temp.lix")));
}

// Catches: an error other than a file error (memory, a damaged template)
// escaping the run and ending the program.
TEST_F(Job, AnyErrorInsideARunEndsOnlyThatRun) {
    ASSERT_TRUE(WriteDrawing(folder.File("plan.bmp")));
    TraceOptions options = AllFormats();
    options.dxfTemplate = {"    1  0 SECTION"};  // lacks the lines the DXF writer needs
    EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), options), 1);
    ASSERT_EQ(collected.messages.size(), 1u);
    EXPECT_EQ(collected.messages[0].rfind(folder.File("plan.bmp") + "は処理できません。（", 0), 0u) << collected.messages[0];
    EXPECT_NE(collected.messages[0].find("DXF template"), std::string::npos) << collected.messages[0];
    EXPECT_FALSE(std::filesystem::exists(folder.File("plan.A10")));
    EXPECT_EQ(result.squaresPath, "");

    collected.messages.clear();
    EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), AllFormats()), 0);
    EXPECT_TRUE(std::filesystem::exists(folder.File("plan.A10")));
}

// Catches: an image no plug-in could read traced as an empty drawing, with
// the completion message, replacing the output of an earlier good run.
TEST_F(Job, AnImageThePluginCannotReadFailsAndKeepsTheEarlierOutput) {
    const std::string tiffPlugin = std::string(VEMO_SYSTEM_DIR) + "/vemo_tiff.spi";
    const std::pair<const char*, std::string> cases[] = {
        {"plan.png", "not a picture at all"},
        {"plan.gif", ""},
        {"plan.tif", "II*\0damaged"},
    };
    for (const auto& [name, bytes] : cases) {
        collected.messages.clear();
        WriteFile(folder.File(name), bytes);
        WriteFile(folder.File("plan.txt"), "good drawing\r\n");
        EXPECT_EQ(Run(folder.File(name), folder.Path(), AllFormats()), 1) << name;
        EXPECT_EQ(ReadFile(folder.File("plan.txt")), "good drawing\r\n") << name;
        EXPECT_FALSE(std::filesystem::exists(folder.File("plan.dxf"))) << name;
        ASSERT_EQ(collected.messages.size(), 2u) << name;
        EXPECT_NE(collected.messages[0].find(folder.File(name)), std::string::npos) << collected.messages[0];
        EXPECT_EQ(collected.messages[1], folder.File(name) + "は処理できません。");
    }
    EXPECT_TRUE(collected.stages.empty());
}

// Catches: a link or pipe planted at an intermediate file's name making a
// trace overwrite the file it points to, or hang.
TEST_F(Job, PlantedLinksAndPipesAtIntermediateFilesAreRefused) {
    WriteFile(folder.File("victim"), "secret");
    ::chmod(folder.File("victim").c_str(), 0600);
    const std::function<void(const std::string&)> plants[] = {
        [&](const std::string& dir) { std::filesystem::create_symlink(folder.File("victim"), dir + "/temp.lix"); },
        [&](const std::string& dir) { std::filesystem::create_hard_link(folder.File("victim"), dir + "/temp.sqr"); },
        [&](const std::string& dir) { ASSERT_EQ(::mkfifo((dir + "/temp.sqo").c_str(), 0600), 0); },
    };
    // The reason inside the Japanese message is the text table's, not English.
    const std::string reasons[] = {"（通常のファイルではありません）", "（通常のファイルではありません）",
                                   "（名前付きパイプ（FIFO）です）"};
    int index = 0;
    for (const auto& plant : plants) {
        const std::string& reason = reasons[index];
        const std::string dir = folder.File("shared" + std::to_string(index++));
        std::filesystem::create_directory(dir);
        ASSERT_TRUE(WriteDrawing(dir + "/plan.bmp"));
        plant(dir);
        collected.messages.clear();
        EXPECT_EQ(Run(dir + "/plan.bmp", dir, AllFormats()), 1) << dir;
        ASSERT_EQ(collected.messages.size(), 1u) << dir;
        EXPECT_NE(collected.messages[0].find(dir + "/temp."), std::string::npos) << collected.messages[0];
        EXPECT_NE(collected.messages[0].find(reason), std::string::npos) << collected.messages[0];
        EXPECT_FALSE(std::filesystem::exists(dir + "/plan.txt")) << dir;
    }
    EXPECT_EQ(ReadFile(folder.File("victim")), "secret");
}

// Catches: a ratio such as 1e400 writing "inf" into every output file.
TEST_F(Job, ARatioThatIsNotAFiniteNumberEndsTheRunBeforeAnyFile) {
    ASSERT_TRUE(WriteDrawing(folder.File("plan.bmp")));
    TraceOptions options = AllFormats();
    options.yRatioText = "-1e400";
    EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), options), 1);
    EXPECT_EQ(collected.messages,
              std::vector<std::string>{folder.File("plan.bmp") + "は処理できません。（Ｙ倍率「-1e400」は数として扱えません）"});
    EXPECT_EQ(FilesIn(folder.Path()), std::vector<std::string>{"plan.bmp"});
}

// Catches: ratios whose product overflows (1e307 by -1e307) giving exit 0
// and "inf" in every format; the run ends with the value named instead.
TEST_F(Job, CoordinatesThatOverflowEndTheRunWithoutAnyOutputFile) {
    ASSERT_TRUE(WriteDrawing(folder.File("plan.bmp")));
    TraceOptions options = AllFormats();
    options.exportSvg = true;
    options.xRatioText = "1e307";
    options.yRatioText = "-1e307";
    EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), options), 1);
    ASSERT_EQ(collected.messages.size(), 1u);
    EXPECT_TRUE(collected.messages[0].starts_with(folder.File("plan.bmp") + "は処理できません。（Ｘ座標 60.000 は"))
        << collected.messages[0];
    EXPECT_NE(collected.messages[0].find("は倍率を掛けると inf になり、数として扱えません）"), std::string::npos)
        << collected.messages[0];
    for (const char* name : {"plan.txt", "plan.dxf", "plan.A10", "plan.svg"}) {
        EXPECT_FALSE(std::filesystem::exists(folder.File(name))) << name;
    }
}

// Catches: a ratio text that reads as 0 ("abc", a cleared field, a stored
// "nan") tracing every x to 0 and reporting success.
TEST_F(Job, ARatioThatReadsAsZeroEndsTheRunBeforeAnyFile) {
    ASSERT_TRUE(WriteDrawing(folder.File("plan.bmp")));
    for (const char* zero : {" 0.000", "abc", "", "-0", "1e-400"}) {
        collected.messages.clear();
        TraceOptions options = AllFormats();
        options.xRatioText = zero;
        EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), options), 1) << zero;
        EXPECT_EQ(collected.messages, std::vector<std::string>{folder.File("plan.bmp") + "は処理できません。（Ｘ倍率「" +
                                                               zero + "」は0として読まれます。0以外の倍率を指定して下さい）"});
        EXPECT_EQ(FilesIn(folder.Path()), std::vector<std::string>{"plan.bmp"}) << zero;
    }
}

// Catches: A10 columns running together on a drawing whose coordinates
// reach a million, and that failure taking the other formats with it.
TEST_F(Job, AnA10ValueTooWideFailsOnlyTheA10File) {
    ASSERT_TRUE(WriteDrawing(folder.File("plan.bmp")));
    TraceOptions options = AllFormats();
    options.yRatioText = "1e5";
    EXPECT_EQ(Run(folder.File("plan.bmp"), folder.Path(), options), 1);
    // One message: the file that failed, then the image.
    ASSERT_EQ(collected.messages.size(), 1u);
    EXPECT_TRUE(collected.messages[0].starts_with("ファイル「" + folder.File("plan.A10") + "」を処理できません。（Ｙ座標 "))
        << collected.messages[0];
    EXPECT_NE(collected.messages[0].find("はA10形式の欄（10文字）に収まりません）\n"), std::string::npos);
    EXPECT_TRUE(collected.messages[0].ends_with("\n" + folder.File("plan.bmp") + "は処理できません。"));
    EXPECT_TRUE(std::filesystem::exists(folder.File("plan.txt")));
    EXPECT_TRUE(std::filesystem::exists(folder.File("plan.dxf")));
    EXPECT_FALSE(std::filesystem::exists(folder.File("plan.A10")));
}

// Catches: a run writing into a folder whose intermediate files another
// run (the main window's) holds.
TEST_F(Job, AFolderHeldByAnotherRunIsBusyUnlessTheCallerHoldsIt) {
    ASSERT_TRUE(WriteDrawing(folder.File("plan.bmp")));
    TVemo_folderlock window;
    ASSERT_TRUE(window.Lock(folder.Path(), TVemo_folderlock::Mode::FailIfBusy));
    {
        TVemo_comp job(folder.File("plan.bmp"), folder.Path(), settings, susie, collected.Messages(), collected.Stages());
        job.SetFolderLock(FolderLockMode::FailIfBusy);
        EXPECT_EQ(job.Run(AllFormats()), 1);
        EXPECT_EQ(collected.messages.front(), "フォルダ「" + folder.Path() + "」は他のトレースが使用中です。");
        EXPECT_FALSE(std::filesystem::exists(folder.File("temp.sqr")));
    }
    TVemo_comp held(folder.File("plan.bmp"), folder.Path(), settings, susie, collected.Messages(), collected.Stages());
    held.SetFolderLock(FolderLockMode::HeldByCaller);
    EXPECT_EQ(held.Run(AllFormats()), 0);
}

// Catches: a stopped run that replaces some output files (those written
// before the stop), leaves its intermediate files or hidden temporary
// files behind, or reports success. The stop is asked for from the run's
// own callbacks, so it lands exactly at each stage and in each file.
TEST_F(Job, AStoppedRunReplacesNoFileAndLeavesNothingBehind) {
    struct Case {
        const char* stopAt;  // a stage text, an output file's name, or "inside <name>"
        bool join;
    };
    const Case cases[] = {
        {"2.画像分析", false}, {"3.画像合成", false}, {"4.線分調整", false}, {"4.線分調整", true},
        {"plan.txt", false},   {"plan.dxf", true},     {"plan.svg", false},  {"inside plan.A10", false},
    };
    ASSERT_TRUE(WriteDrawing(folder.File("plan.bmp")));
    TraceOptions options = AllFormats();
    options.exportSvg = true;
    ASSERT_EQ(Run(folder.File("plan.bmp"), folder.Path(), options), 0);
    std::filesystem::remove(folder.File("temp.sqr"));
    for (const char* name : {"temp.sqo", "temp.pxy", "temp.lix"}) std::filesystem::remove(folder.File(name));
    std::vector<std::string> files = FilesIn(folder.Path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> before;
    for (const std::string& name : files) before.push_back(ReadFile(folder.File(name)));

    for (const Case& at : cases) {
        SCOPED_TRACE(std::string(at.stopAt) + (at.join ? " with join" : ""));
        collected.messages.clear();
        CancelFlag stop;
        const std::string stopAt = at.stopAt;
        std::string writing;
        TVemo_comp job(folder.File("plan.bmp"), folder.Path(), settings, susie, collected.Messages(),
                       [&](std::string_view text) {
                           if (text == stopAt) stop.Request();
                       });
        job.SetCancelFlag(&stop);
        job.SetWritingSink([&](const std::string& path) {
            writing = SplitPath(path).name;
            if (writing == stopAt) stop.Request();
        });
        job.SetProgressSink([&](int percent) {
            if (percent > 0 && "inside " + writing == stopAt) stop.Request();
        });
        TraceOptions changed = options;
        changed.flipX = changed.flipY = true;  // a finished run would change every file
        changed.join = at.join;
        EXPECT_EQ(job.Run(changed), 1);
        EXPECT_TRUE(job.WasCancelled());
        EXPECT_TRUE(stop.IsRequested());
        EXPECT_EQ(collected.messages, std::vector<std::string>{folder.File("plan.bmp") + "のトレースを中止しました。"});
        EXPECT_TRUE(job.WrittenFiles().empty());
        EXPECT_EQ(job.GetResult().linesPath, "");
        std::vector<std::string> after = FilesIn(folder.Path());
        std::sort(after.begin(), after.end());
        EXPECT_EQ(after, files);
        for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(ReadFile(folder.File(files[i])), before[i]) << files[i];
    }
}

TEST(JobOptions, FlagsCountOnlyWhenExactlyOneAndEmptyRatiosMeanOne) {
    SettingsRecord settings;
    settings.xAxis = "01";
    settings.yAxis = "1";
    settings.expTxt = "yes";
    settings.expDxf = "1";
    settings.xRatio = "";
    settings.yRatio = "1.23456";
    const TraceOptions options = OptionsFromSettings(settings);
    EXPECT_FALSE(options.flipX);
    EXPECT_TRUE(options.flipY);
    EXPECT_FALSE(options.exportText);
    EXPECT_TRUE(options.exportDxf);
    EXPECT_FALSE(options.exportA10);
    // As the main window would show them, and so run with them.
    EXPECT_EQ(options.xRatioText, " 1.000");
    EXPECT_EQ(options.yRatioText, " 1.235");
    settings.xRatio = "1e400";
    EXPECT_EQ(OptionsFromSettings(settings).xRatioText, "1e400");  // for the run to refuse
}

// Catches: a stored ratio that the run would read as 0 or as no number
// passing the check, and a usable one (empty means 1.0) refused.
TEST(JobOptions, StoredRatiosAreUsableOnlyWhenTheRunWouldReadANonZeroNumber) {
    for (const char* bad : {"abc", "nan", "inf", "0", "-0.0", "0.0004", "1e400", "x1"}) {
        EXPECT_FALSE(IsUsableStoredRatio(bad)) << bad;
    }
    for (const char* good : {"", "1.0", " 2.5", "-2", "0.0006", "1e300", "3abc"}) {
        EXPECT_TRUE(IsUsableStoredRatio(good)) << good;
    }
}

TEST(JobTime, ShowsWholeSecondsAndRoundedMilliseconds) {
    EXPECT_EQ(FormatElapsed(3.4), "time:3.400");
    EXPECT_EQ(FormatElapsed(61.5), "time:61.500");  // not time:1.500
    EXPECT_EQ(FormatElapsed(75.25), "time:75.250");
    EXPECT_EQ(FormatElapsed(0.0004), "time:0.000");
    EXPECT_EQ(FormatElapsed(1.9996), "time:2.000");
}

}  // namespace
