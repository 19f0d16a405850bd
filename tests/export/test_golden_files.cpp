// Golden files: each folder under tests/data/export/ is one case. Its
// case.txt gives the image and the polylines:
//   image <file name> <width> <height>
//   ratio <x> <y>
//   flip <x> <y>
//   polyline <x> <y> <x> <y> ...     (one line per polyline, in file order)
// and expected.txt, expected.dxf and expected.A10 hold the three files,
// compared byte for byte. Run with VEMO_BLESS=1 to write the current output
// as the new expected files (then read the diff before committing it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "export/Vemo_compdata.h"
#include "export_test_support.h"

namespace {

using namespace exporttest;

struct GoldenCase {
    std::string imageName;
    TraceResult result;
    std::vector<Polyline> polylines;
};

GoldenCase ReadCase(const std::filesystem::path& folder) {
    GoldenCase golden;
    std::istringstream in(ReadFile((folder / "case.txt").string()));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "image") {
            fields >> golden.imageName >> golden.result.imageWidth >> golden.result.imageHeight;
        } else if (key == "ratio") {
            fields >> golden.result.xRatio >> golden.result.yRatio;
        } else if (key == "flip") {
            fields >> golden.result.flipX >> golden.result.flipY;
        } else if (key == "polyline") {
            Polyline polyline;
            double x = 0.0, y = 0.0;
            while (fields >> x >> y) polyline.emplace_back(x, y);
            golden.polylines.push_back(polyline);
        }
    }
    return golden;
}

std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(VEMO_TEST_DATA_DIR "/export")) {
        if (std::filesystem::exists(entry.path() / "case.txt")) names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class GoldenFiles : public testing::TestWithParam<std::string> {};

// Catches any change in the bytes of the three formats: numbers, field
// widths, line ends, template lines, polyline and point order.
TEST_P(GoldenFiles, WritesTheExpectedBytes) {
    const std::filesystem::path folder = std::filesystem::path(VEMO_TEST_DATA_DIR "/export") / GetParam();
    GoldenCase golden = ReadCase(folder);
    ScratchFolder scratch;
    golden.result.linesPath = scratch / "temp.lix";
    WriteFile(golden.result.linesPath, LinesBytes(golden.polylines));

    TVemo_compdata data;
    data.SetExportParams(golden.result);
    const bool bless = std::getenv("VEMO_BLESS") != nullptr && *std::getenv("VEMO_BLESS") != '\0';
    for (const auto& [kind, expectedName] : {std::pair{ExportKind::Text, "expected.txt"},
                                             std::pair{ExportKind::Dxf, "expected.dxf"},
                                             std::pair{ExportKind::A10, "expected.A10"}}) {
        const std::optional<std::string> written = data.Export(kind, "/scans/" + golden.imageName, scratch.Path());
        ASSERT_TRUE(written.has_value());
        const std::string actual = ReadFile(*written);
        if (bless) {
            WriteFile((folder / expectedName).string(), actual);
            continue;
        }
        EXPECT_EQ(actual, ReadFile((folder / expectedName).string())) << GetParam() << "/" << expectedName;
    }
    // An independent reader must accept the DXF and see every point.
    std::size_t vertices = 0;
    for (const Polyline& polyline : golden.polylines) vertices += polyline.size();
    const std::string dxf = OutputFilePath(golden.imageName, scratch.Path(), ExportKind::Dxf);
    EXPECT_EQ(CheckDxfWithEzdxf(dxf), "polylines=" + std::to_string(golden.polylines.size()) +
                                          " vertices=" + std::to_string(vertices));
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenFiles, testing::ValuesIn(CaseNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
