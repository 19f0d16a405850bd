// vemo-trace --fit end to end on the sample plan: the options refused where
// they make no sense, and the DXF of entities read back by ezdxf, smaller
// than the joined polylines' DXF, with its lines meeting where the walls do.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "export/export_test_support.h"
#include "test_support.h"

namespace {

int Trace(const std::string& arguments) {
    const std::string command = std::string("'") + VEMO_BUILD_DIR + "/vemo-trace' --quiet " + arguments +
                                " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Faults: a tolerance of nothing or of no number taken, --snap-angles
// silently ignored without --fit.
TEST(CliFit, OptionsThatMakeNoSenseAreUsageErrors) {
    for (const char* bad : {"--fit --fit-tolerance 0", "--fit --fit-tolerance abc", "--fit --fit-tolerance 1000",
                            "--snap-angles", "--fit-tolerance 1"}) {
        EXPECT_EQ(Trace(std::string(bad) + " --txt x.bmp"), 2) << bad;
    }
}

// Faults: --fit not joining first, the entities not reaching the DXF, a
// junction opened by the fitting (line ends no longer shared), the DXF of
// entities no smaller than the polylines'.
TEST(CliFit, TheSamplePlanGivesFewerEntitiesThanPolylinesWithSharedCorners) {
    TempFolder folder;
    std::filesystem::copy_file(std::string(VEMO_SOURCE_DIR) + "/samples/plan.bmp", folder.File("plan.bmp"));
    std::filesystem::create_directory(folder.File("join"));
    ASSERT_EQ(Trace("--join --dxf -o '" + folder.File("join") + "' '" + folder.File("plan.bmp") + "'"), 0);
    ASSERT_EQ(Trace("--fit --dxf --txt --a10 '" + folder.File("plan.bmp") + "'"), 0);
    std::istringstream report(exporttest::CheckDxfWithEzdxf(folder.File("plan.dxf"), true));
    std::map<std::string, int> counts;
    std::map<std::string, int> ends;  // line ends, as printed
    for (std::string line; std::getline(report, line);) {
        std::istringstream fields(line);
        std::string kind, layer, x1, y1, x2, y2;
        fields >> kind >> layer >> x1 >> y1 >> x2 >> y2;
        ++counts[kind];
        if (kind == "LINE") {
            ++ends[x1 + " " + y1];
            ++ends[x2 + " " + y2];
        }
    }
    EXPECT_GT(counts["LINE"], 50);
    EXPECT_GE(counts["CIRCLE"], 1);
    EXPECT_GE(counts["ARC"], 2);  // the door swings
    // The outer walls' four corners, each where two LINEs meet.
    int shared = 0;
    for (const auto& [point, count] : ends) shared += count >= 2;
    EXPECT_GE(shared, 4);
    EXPECT_LT(std::filesystem::file_size(folder.File("plan.dxf")),
              std::filesystem::file_size(folder.File("join/plan.dxf")));
    EXPECT_GT(std::filesystem::file_size(folder.File("plan.A10")), 100u);
}

}  // namespace
