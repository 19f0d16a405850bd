// The writers beyond their golden files: output names, the output
// transform, the DXF layout, the template, damaged lines files and output
// folders that cannot be written.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <limits>
#include <stdexcept>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "export/Vemo_compdata.h"
#include "export_test_support.h"
#include "ordinary_user.h"

namespace {

using namespace exporttest;

// A run over `polylines` of an image `width` x `height`, its lines file
// written into `scratch`.
TraceResult TracedRun(const ScratchFolder& scratch, const std::vector<Polyline>& polylines, int32_t width = 640,
                      int32_t height = 480) {
    TraceResult result;
    result.linesPath = scratch / "temp.lix";
    result.imageWidth = width;
    result.imageHeight = height;
    result.xRatio = 1.0;
    result.yRatio = 1.0;
    WriteFile(result.linesPath, LinesBytes(polylines));
    return result;
}

std::vector<std::string> TextLines(const TraceResult& result, const ScratchFolder& scratch) {
    TVemo_compdata data;
    data.SetExportParams(result);
    return CrLfLines(ReadFile(*data.Export(ExportKind::Text, "plan.bmp", scratch.Path())));
}

// Catches names cut at the first dot, dots in folder names taken for the
// extension, and a lost or extra separator.
TEST(OutputFilePath, ReplacesOnlyTheLastExtensionOfTheFileName) {
    EXPECT_EQ(OutputFilePath("/scan/plan.bmp", "/out", ExportKind::Text), "/out/plan.txt");
    EXPECT_EQ(OutputFilePath("/scan/plan.bmp", "/out", ExportKind::Dxf), "/out/plan.dxf");
    EXPECT_EQ(OutputFilePath("/scan/plan.bmp", "/out", ExportKind::A10), "/out/plan.A10");
    EXPECT_EQ(OutputFilePath("/scan/plan.bmp", "/out", ExportKind::Svg), "/out/plan.svg");
    EXPECT_EQ(OutputFilePath("/scan/a.b.bmp", "/out", ExportKind::Text), "/out/a.b.txt");
    EXPECT_EQ(OutputFilePath("/scan/scan", "/out", ExportKind::Text), "/out/scan.txt");
    EXPECT_EQ(OutputFilePath("/scan.v2/scan", "/out", ExportKind::A10), "/out/scan.A10");
    EXPECT_EQ(OutputFilePath("plan.bmp", "/out/", ExportKind::Text), "/out//plan.txt");
    EXPECT_EQ(OutputFilePath("/scan/plan.bmp", "/out", static_cast<ExportKind>(4)), "");
}

TEST(Export, UnknownKindWritesNothing) {
    ScratchFolder scratch;
    TVemo_compdata data;
    data.SetExportParams(TracedRun(scratch, {{{1, 1}, {2, 2}}}));
    EXPECT_FALSE(data.Export(static_cast<ExportKind>(4), "plan.bmp", scratch.Path()).has_value());
    EXPECT_EQ(FolderNames(scratch.Path()), std::vector<std::string>{"temp.lix"});
}

// Catches a flip about the lines' extent instead of the image's full size,
// the ratio applied before the flip, and rounding instead of "%.3lf".
TEST(OutputTransform, MirrorsAboutTheImageThenScales) {
    ScratchFolder scratch;
    TraceResult result = TracedRun(scratch, {{{0, 0}, {640, 480}, {100, 30}}});
    result.flipX = 1;
    EXPECT_EQ(TextLines(result, scratch),
              (std::vector<std::string>{"640.000,480.000", "3", "640.000,0.000", "0.000,480.000", "540.000,30.000"}));

    result = TracedRun(scratch, {{{1, 0.4}, {0.4, 1}}});
    result.xRatio = 0.001;
    result.yRatio = 0.0;
    EXPECT_EQ(TextLines(result, scratch),
              (std::vector<std::string>{"0.640,0.000", "2", "0.001,0.000", "0.000,0.000"}));

    // A number longer than 31 characters is written whole.
    result.xRatio = 1e30;
    EXPECT_EQ(TextLines(result, scratch)[2], "1000000000000000019884624838656.000,0.000");
}

// The DXF worked example: the nine header values, the entities, 762 lines.
TEST(WriteDxf, WritesTheDrawingSizeAndOnePolylinePerLinesRecord) {
    ScratchFolder scratch;
    TraceResult result = TracedRun(scratch, {{{10, 20}, {30, 40}}}, 200, 100);
    result.xRatio = result.yRatio = 0.5;
    result.flipY = 1;
    TVemo_compdata data;
    data.SetExportParams(result);
    const std::vector<std::string> lines = CrLfLines(ReadFile(*data.Export(ExportKind::Dxf, "p.bmp", scratch.Path())));
    ASSERT_EQ(lines.size(), 762u);
    // Template line n gives output lines 2n and 2n + 1 (from 0): code, value.
    const auto value = [&](int n) { return lines[2 * n + 1]; };
    EXPECT_EQ(value(11) + " " + value(12), "100.000 50.000");     // $EXTMAX
    EXPECT_EQ(value(17) + " " + value(18), "100.000 50.000");     // $LIMMAX
    EXPECT_EQ(value(20) + " " + value(21), "50.000 25.000");      // $VIEWCTR
    EXPECT_EQ(value(23), "50.000");                               // $VIEWSIZE
    EXPECT_EQ(value(29) + " " + value(30), "100.000 50.000");     // $PEXTMAX
    EXPECT_EQ(lines[720] + "|" + lines[721], "  2|ENTITIES");
    const std::vector<std::string> entities(lines.begin() + 722, lines.end());
    EXPECT_EQ(entities, (std::vector<std::string>{
                            "  0", "POLYLINE", "  8", "1", "  6", "CONTINUOUS", " 62", "     7", " 66", "     1",
                            "  0", "VERTEX", "  8", "1", " 10", "5.000", " 20", "40.000", " 30", "0", " 70", "     0",
                            "  0", "VERTEX", "  8", "1", " 10", "15.000", " 20", "30.000", " 30", "0", " 70", "     0",
                            "  0", "SEQEND", "  0", "ENDSEC", "  0", "EOF"}));
    CheckDxfWithEzdxf(OutputFilePath("p.bmp", scratch.Path(), ExportKind::Dxf));
}

// Catches template damage: lost trailing spaces or empty values, the 0xA5
// bytes turned into UTF-8, a lost or extra item, a slice cut wrongly.
TEST(DxfTemplate, HoldsTheNumberedLinesTheWriterCutsFrom) {
    const std::vector<std::string> items = DxfTemplate();
    ASSERT_EQ(items.size(), 463u);
    for (int i = 0; i <= 460; ++i) {
        char number[8];
        std::snprintf(number, sizeof number, "%05d", i);
        EXPECT_EQ(items[i].substr(0, 5), number);
        EXPECT_EQ(items[i].size() >= 9 ? items[i][8] : '?', ' ') << items[i];
    }
    EXPECT_EQ(items[461], "99999  ");
    EXPECT_EQ(items[462], "");
    for (int emptyValue : {120, 126, 128, 148, 150, 339}) EXPECT_EQ(items[emptyValue].size(), 9u) << emptyValue;
    EXPECT_EQ(items[305], "00305  3 __ . . . __ . . . __ . . . ");
    EXPECT_EQ(items[257], "00257  3 " + std::string(24, '\xA5'));
    EXPECT_EQ(items[266], "00266  3 --\xA5--\xA5--\xA5--\xA5--\xA5--\xA5--\xA5--");

    // The compiled-in copy is the resource file, byte for byte.
    std::string joined;
    for (const std::string& item : items) joined += item + "\n";
    EXPECT_EQ(joined, ReadFile(VEMO_SOURCE_DIR "/resources/Vemo_dxf_template.txt"));

    TVemo_compdata data;
    data.SetExportParams(TraceResult{});
    EXPECT_EQ(data.ReadTemplateHeader().size(), 722u);
    EXPECT_EQ(data.ReadTemplateRange(409, 413).size(), 10u);
    EXPECT_EQ(data.ReadTemplateRange(416, 421).size(), 12u);
    EXPECT_EQ(data.ReadTemplateRange(458, 458).size(), 2u);
    EXPECT_EQ(data.ReadTemplateRange(459, 460), (std::vector<std::string>{"  0", "ENDSEC", "  0", "EOF"}));
}

// A lines file that ends inside a record is damaged: each writer must fail
// naming it, write no file and leave an existing output file as it was,
// never write a shorter drawing as if it were complete.
TEST(Writers, RefuseALinesFileThatEndsInsideARecord) {
    const std::string whole = LinesBytes({{{1, 2}, {3, 4}}, {{5, 6}, {7, 8}}});
    std::string negativeCount;
    AppendInt32(negativeCount, -2);
    // Cut inside the second count, inside its first point, before its last byte.
    for (const std::string& damaged : {whole.substr(0, 38), whole.substr(0, 50), whole.substr(0, whole.size() - 1),
                                       negativeCount}) {
        ScratchFolder scratch;
        TraceResult result = TracedRun(scratch, {});
        WriteFile(result.linesPath, damaged);
        WriteFile(scratch / "plan.txt", "earlier output");
        TVemo_compdata data;
        data.SetExportParams(result);
        for (ExportKind kind : {ExportKind::Text, ExportKind::Dxf, ExportKind::A10, ExportKind::Svg}) {
            try {
                data.Export(kind, "plan.bmp", scratch.Path());
                ADD_FAILURE() << "no error for kind " << static_cast<int>(kind) << ", " << damaged.size() << " bytes";
            } catch (const FileError& error) {
                EXPECT_EQ(error.Path(), result.linesPath);
            }
        }
        EXPECT_EQ(ReadFile(scratch / "plan.txt"), "earlier output");
        EXPECT_EQ(FolderNames(scratch.Path()), (std::vector<std::string>{"plan.txt", "temp.lix"}));
    }
}

// Catches a failure reported as success, a half-written target and a
// temporary file left behind, for every way an output folder can fail.
TEST(Writers, FailOnAnOutputFolderThatCannotBeWritten) {
    ScratchFolder scratch;
    TVemo_compdata data;
    data.SetExportParams(TracedRun(scratch, {{{1, 2}, {3, 4}}}));
    WriteFile(scratch / "file", "");
    for (const std::string& folder : {scratch / "missing", scratch / "file", std::string("/dev/full")}) {
        try {
            data.Export(ExportKind::Dxf, "plan.bmp", folder);
            ADD_FAILURE() << "no error for " << folder;
        } catch (const FileError& error) {
            EXPECT_EQ(error.Path(), folder + "/plan.dxf");
            EXPECT_FALSE(error.Reason().empty());
        }
    }

    // A read-only folder, as an ordinary user: root may write anywhere. A new
    // file and a read-only old one are refused, naming the output (not the
    // lines file, which the user may read), and the old one is kept.
    const std::string readOnly = scratch / "readonly";
    std::filesystem::create_directory(readOnly);
    WriteFile(readOnly + "/plan.dxf", "earlier output");
    ::chmod((readOnly + "/plan.dxf").c_str(), 0444);
    ::chmod(readOnly.c_str(), 0555);
    EXPECT_TRUE(RunAsOrdinaryUser(scratch.Path(), [&] {
        for (const ExportKind kind : {ExportKind::A10, ExportKind::Dxf}) {
            const std::string output = readOnly + (kind == ExportKind::A10 ? "/plan.A10" : "/plan.dxf");
            try {
                data.Export(kind, "plan.bmp", readOnly);
                ADD_FAILURE() << "no error for " << output;
            } catch (const FileError& error) {
                EXPECT_EQ(error.Path(), output);
            }
        }
        return !::testing::Test::HasFailure();
    }));
    EXPECT_EQ(FolderNames(readOnly), std::vector<std::string>{"plan.dxf"});
    EXPECT_EQ(ReadFile(readOnly + "/plan.dxf"), "earlier output");

    // A disk that fills up in the middle of the file: the file size limit
    // makes write() fail with EFBIG, for root too.
    const std::string output = scratch / "out";
    std::filesystem::create_directory(output);
    WriteFile(output + "/plan.dxf", "earlier output");
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previousLimit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previousLimit), 0);
    rlimit small = previousLimit;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(data.Export(ExportKind::Dxf, "plan.bmp", output), FileError);
    ::setrlimit(RLIMIT_FSIZE, &previousLimit);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(ReadFile(output + "/plan.dxf"), "earlier output");
    EXPECT_EQ(FolderNames(output), std::vector<std::string>{"plan.dxf"});

    // A missing lines file names the lines file.
    TraceResult missing = TracedRun(scratch, {});
    missing.linesPath = scratch / "gone.lix";
    data.SetExportParams(missing);
    try {
        data.Export(ExportKind::Text, "plan.bmp", output);
        ADD_FAILURE() << "no error for a missing lines file";
    } catch (const FileError& error) {
        EXPECT_EQ(error.Path(), missing.linesPath);
    }
}

// An export that succeeds replaces the earlier file whole.
TEST(Writers, ReplaceAnEarlierFile) {
    ScratchFolder scratch;
    TVemo_compdata data;
    data.SetExportParams(TracedRun(scratch, {}, 10, 20));
    WriteFile(scratch / "plan.txt", std::string(5000, 'x'));
    data.Export(ExportKind::Text, "plan.bmp", scratch.Path());
    EXPECT_EQ(ReadFile(scratch / "plan.txt"), "10.000,20.000\r\n");
    EXPECT_EQ(FolderNames(scratch.Path()), (std::vector<std::string>{"plan.txt", "temp.lix"}));
}

// --- Numbers the formats cannot hold -------------------------------------

constexpr ExportKind kAllKinds[] = {ExportKind::Text, ExportKind::Dxf, ExportKind::A10, ExportKind::Svg};

// Catches: ratios whose product overflows, or a damaged lines file, writing
// "inf" or "nan" into every format as if all were well. The run must end
// with the axis and the value named, and no file of any kind written.
TEST(OutputTransform, ACoordinateThatIsNotFiniteThrowsBeforeAnyFileIsWritten) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        double xRatio, yRatio;
        Polyline points;
        const char* named;  // part of the reason
    };
    const Case cases[] = {
        {"the ratios of the issue", 1e307, -1e307, {{20, 1}, {30, 2}}, "座標 "},
        {"drawing height overflows", 1.0, -1e307, {{1, 20}, {2, 30}}, "Ｙ座標 480.000 は倍率を掛けると -inf"},
        {"only a point overflows", 10.0, 1.0, {{1, 1}, {1e308, 2}}, "Ｘ座標 1000"},
        {"only the drawing size overflows", 1e306, 1.0, {{0, 0}, {1, 1}}, "Ｘ座標 640.000"},
        {"damaged lines file", 1.0, 1.0, {{1, 1}, {nan, 2}}, "nan"},
    };
    for (const Case& c : cases) {
        ScratchFolder scratch;
        TraceResult result = TracedRun(scratch, {c.points});
        result.xRatio = c.xRatio;
        result.yRatio = c.yRatio;
        TVemo_compdata data;
        data.SetExportParams(result);
        for (const ExportKind kind : kAllKinds) {
            try {
                data.Export(kind, "plan.bmp", scratch.Path());
                ADD_FAILURE() << c.what << ": no error for kind " << static_cast<int>(kind);
            } catch (const std::range_error& error) {
                EXPECT_NE(std::string(error.what()).find(c.named), std::string::npos) << c.what << ": " << error.what();
            }
        }
        EXPECT_EQ(FolderNames(scratch.Path()), std::vector<std::string>{"temp.lix"}) << c.what;
    }
}

// Catches: A10 values wider than their columns running into the next one
// ("0.5001010000.000"), so that a reader going by column reads other
// numbers; and a limit set one character too tight, refusing values that
// fill their column exactly.
TEST(WriteA10, AValueWiderThanItsColumnFailsTheFileNamingTheValueAndTheLimit) {
    struct Case {
        const char* what;
        double xRatio, yRatio;
        std::vector<Polyline> polylines;
        std::string reason;  // empty: the file is written
    };
    // On an image of 1000 x 1000 pixels, so the frame's far corner is
    // 1000 times the ratios.
    const Polyline unit = {{1, 1}, {0.5, 0.5}};
    const Case cases[] = {
        {"y of a million", 1.0, 1000.0, {unit}, "Ｙ座標 1000000.000 はA10形式の欄（10文字）に収まりません"},
        {"y below -99999.999", 1.0, -100.0, {unit}, "Ｙ座標 -100000.000 はA10形式の欄（10文字）に収まりません"},
        {"x of 1e11", 1e8, 1.0, {unit}, "Ｘ座標 100000000000.000 はA10形式の欄（15文字）に収まりません"},
        {"100,000 points in one polyline", 1.0, 1.0, {Polyline(100000, {1, 1})},
         "点数 100000 はA10形式の欄（5文字）に収まりません"},
        {"polyline number 100,000", 1.0, 1.0, std::vector<Polyline>(100000, unit),
         "線番号 100000 はA10形式の欄（5文字）に収まりません"},
        {"every column filled exactly", 99999999999.999 / 1000, -99999.999 / 1000,
         std::vector<Polyline>(99999, Polyline{{1000, 1000}}), ""},
    };
    for (const Case& c : cases) {
        ScratchFolder scratch;
        TraceResult result = TracedRun(scratch, c.polylines, 1000, 1000);
        result.xRatio = c.xRatio;
        result.yRatio = c.yRatio;
        TVemo_compdata data;
        data.SetExportParams(result);
        if (c.reason.empty()) {
            data.Export(ExportKind::A10, "plan.bmp", scratch.Path());
            const std::vector<std::string> lines = CrLfLines(ReadFile(scratch / "plan.A10"));
            EXPECT_EQ(lines[3], "99999999999.999-99999.999") << c.what;
            EXPECT_EQ(lines[lines.size() - 3], " 300099999    1") << c.what;
            continue;
        }
        try {
            data.Export(ExportKind::A10, "plan.bmp", scratch.Path());
            ADD_FAILURE() << c.what << ": no error";
        } catch (const FileError& error) {
            EXPECT_EQ(error.Path(), scratch / "plan.A10") << c.what;
            EXPECT_EQ(error.Reason(), c.reason) << c.what;
        }
        EXPECT_EQ(FolderNames(scratch.Path()), std::vector<std::string>{"temp.lix"}) << c.what;
        // The formats without columns write the same values whole.
        EXPECT_NO_THROW(data.Export(ExportKind::Text, "plan.bmp", scratch.Path())) << c.what;
    }
}

}  // namespace
