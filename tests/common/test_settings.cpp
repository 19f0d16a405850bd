// Settings holder: where the file is, reading it once, and writing back
// exactly the written-back keys.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

#include "common/Vemo_sys.h"
#include "test_support.h"

namespace {

struct Collected {
    std::vector<std::string> messages;
    MessageSink Sink() {
        return [this](const std::string& text) { messages.push_back(text); };
    }
};

// Built by initialisation, not assignment: g++ 12 at -O3 warns falsely
// (-Wrestrict) on assigning short literals to these strings.
SettingsRecord EditedRecord() {
    SettingsRecord record{
        .systemFolder = {},
        .settingsFileName = {},
        .defData = "/scans/plan.bmp",
        .defFld = "/out",
        .basBmp = "Vemo_base.bmp",
        .pixStep = "1",
        .tifSpi = "must-not-be-written.spi",
        .pngSpi = {},
        .gifSpi = {},
        .xAxis = "1",
        .yAxis = "0",
        .expTxt = "1",
        .expDxf = "0",
        .expA10 = "1",
        .xRatio = "2.500",
        .yRatio = "1.000",
    };
    return record;
}

TEST(Settings, MissingFileShowsTheStartupMessageAndCreatesNothing) {
    TempFolder folder;
    Collected collected;
    TVemo_sysF settings(folder.File("Vemosys"), collected.Sink());
    EXPECT_EQ(settings.CheckSettingsFile(), 1);
    ASSERT_EQ(collected.messages.size(), 1u);
    EXPECT_EQ(collected.messages[0], "Vemoを起動できません。（Vemo.sysがない）");
    EXPECT_TRUE(FilesIn(folder.Path()).empty());
}

// Catches: the system folder looked for in the current directory (or
// anywhere but beside the executable): vemo-trace started from another
// folder must still find Vemo.sys, the base image and its plug-ins.
TEST(Settings, SystemFolderLiesBesideTheExecutable) {
    TempFolder folder;
    std::filesystem::copy_file(std::string(VEMO_SOURCE_DIR) + "/samples/plan.bmp", folder.File("plan.bmp"));
    const std::string command = "cd '" + folder.Path() + "' && '" + VEMO_BUILD_DIR +
                                "/vemo-trace' --txt --no-dxf --no-a10 plan.bmp >out.log 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(folder.File("out.log"));
    EXPECT_TRUE(std::filesystem::exists(folder.File("plan.txt")));
    EXPECT_FALSE(std::filesystem::exists(folder.File("Vemosys")));
}

TEST(Settings, FileIsReadOnceAndAllFourteenKeysLandInTheirPlaces) {
    TempFolder folder;
    WriteFile(folder.File("Vemo.sys"),
              "[SYSTEM]\nDEFDATA=a\nDEFFLD=b\nBASBMP=c\nPIXSTEP=d\n[SPINAME]\nTIFSPI=e\nPNGSPI=f\nGIFSPI=g\n"
              "[CV1FLG]\nXAXIS=h\nYAXIS=i\n[CV2FLG]\nEXPTXT=j\nEXPDXF=k\nEXPA10=l\n[CV3FLG]\nXRATIO=m\nYRATIO=n\n");
    TVemo_sysF settings(folder.Path(), MessageSink{});
    EXPECT_EQ(settings.CheckSettingsFile(), 0);
    const SettingsRecord first = settings.GetSettings();
    const std::vector<std::string> values = {first.defData, first.defFld, first.basBmp, first.pixStep, first.tifSpi,
                                             first.pngSpi,  first.gifSpi, first.xAxis,  first.yAxis,   first.expTxt,
                                             first.expDxf,  first.expA10, first.xRatio, first.yRatio};
    EXPECT_EQ(values, (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n"}));
    EXPECT_EQ(first.systemFolder, folder.Path());

    // Edits made while the program runs are not seen.
    WriteFile(folder.File("Vemo.sys"), "[SYSTEM]\nDEFDATA=changed\n");
    EXPECT_EQ(settings.GetSettings().defData, "a");
    EXPECT_EQ(settings.ReadKey("SYSTEM", "DEFDATA"), "changed");
}

TEST(Settings, SaveOverAHandWrittenFileChangesOnlyTheWrittenValues) {
    TempFolder folder;
    const std::string handWritten =
        "; my settings\r\n"
        "[SYSTEM]\r\n"
        "DEFDATA=/old.bmp\r\n"
        "DEFFLD=/old\r\n"
        "BASBMP=Vemo_base.bmp\r\n"
        "PIXSTEP=1\r\n"
        "\r\n"
        "[SPINAME]\r\n"
        "TIFSPI = my tiff.spi   \r\n"
        "PNGSPI=vemo_png.spi\r\n"
        "[MINE]\r\n"
        "NOTE=keep this\r\n"
        "[CV1FLG]\r\n"
        "XAXIS=yes\r\n"
        "YAXIS=0\r\n";
    WriteFile(folder.File("Vemo.sys"), handWritten);
    TVemo_sysF settings(folder.Path(), MessageSink{});
    ASSERT_EQ(settings.SaveSettings(EditedRecord()), 0);
    const std::string expected =
        "; my settings\r\n"
        "[SYSTEM]\r\n"
        "DEFDATA=/scans/plan.bmp\r\n"
        "DEFFLD=/out\r\n"
        "BASBMP=Vemo_base.bmp\r\n"
        "PIXSTEP=1\r\n"
        "\r\n"
        "[SPINAME]\r\n"
        "TIFSPI = my tiff.spi   \r\n"
        "PNGSPI=vemo_png.spi\r\n"
        "[MINE]\r\n"
        "NOTE=keep this\r\n"
        "[CV1FLG]\r\n"
        "XAXIS=1\r\n"
        "YAXIS=0\r\n"
        "[CV2FLG]\r\n"
        "EXPTXT=1\r\n"
        "EXPDXF=0\r\n"
        "EXPA10=1\r\n"
        "[CV3FLG]\r\n"
        "XRATIO=2.500\r\n"
        "YRATIO=1.000\r\n";
    EXPECT_EQ(ReadFile(folder.File("Vemo.sys")), expected);
}

TEST(Settings, SaveOfAnEmptyFileWritesElevenKeysAndNoPluginNames) {
    TempFolder folder;
    WriteFile(folder.File("Vemo.sys"), "");
    TVemo_sysF settings(folder.Path(), MessageSink{});
    const SettingsRecord record = settings.GetSettings();
    EXPECT_EQ(record.basBmp, "");
    ASSERT_EQ(settings.SaveSettings(record), 0);
    EXPECT_EQ(ReadFile(folder.File("Vemo.sys")),
              "[SYSTEM]\nDEFDATA=\nDEFFLD=\nBASBMP=\nPIXSTEP=\n[CV1FLG]\nXAXIS=\nYAXIS=\n"
              "[CV2FLG]\nEXPTXT=\nEXPDXF=\nEXPA10=\n[CV3FLG]\nXRATIO=\nYRATIO=\n");
}

TEST(Settings, AFailedSaveIsReportedAndLeavesTheFileAsItWas) {
    TempFolder folder;
    WriteFile(folder.File("Vemo.sys"), "[SYSTEM]\nDEFDATA=/old.bmp\n");
    Collected collected;
    // The settings file's folder vanishes: the temporary file cannot be made.
    TVemo_sysF settings(folder.File("Vemo.sys") + "/not-a-folder", collected.Sink());
    EXPECT_EQ(settings.SaveSettings(EditedRecord()), 1);
    ASSERT_EQ(collected.messages.size(), 1u);
    EXPECT_NE(collected.messages[0].find("not-a-folder/Vemo.sys"), std::string::npos) << collected.messages[0];
    EXPECT_EQ(ReadFile(folder.File("Vemo.sys")), "[SYSTEM]\nDEFDATA=/old.bmp\n");
}

TEST(Settings, WriteKeyAddsAndReplacesOneKey) {
    TempFolder folder;
    WriteFile(folder.File("Vemo.sys"), "[SYSTEM]\nDEFDATA=/a.bmp\n");
    TVemo_sysF settings(folder.Path(), MessageSink{});
    EXPECT_EQ(settings.WriteKey("system", "defdata", "/b.bmp"), 0);
    EXPECT_EQ(settings.WriteKey("CV1FLG", "XAXIS", "1"), 0);
    EXPECT_EQ(ReadFile(folder.File("Vemo.sys")), "[SYSTEM]\nDEFDATA=/b.bmp\n[CV1FLG]\nXAXIS=1\n");
    EXPECT_EQ(settings.ReadKey("SYSTEM", "DEFDATA"), "/b.bmp");
}

}  // namespace
