// vemo-trace --units and --dpi: what is refused as a usage error, and the
// sample drawing (640 x 420 pixels, stored at 100 dpi) at true scale.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <sys/wait.h>

#include "test_support.h"

namespace {

const std::string kVemoTrace = std::string("'") + VEMO_BUILD_DIR + "/vemo-trace'";
const std::string kSample = std::string(VEMO_SOURCE_DIR) + "/samples/plan.bmp";

// The exit status of vemo-trace with `arguments`; its standard error in `err`.
int RunCli(const TempFolder& folder, const std::string& arguments, std::string& err) {
    const std::string command =
        kVemoTrace + " -q " + arguments + " >/dev/null 2>'" + folder.File("stderr") + "'";
    const int status = std::system(command.c_str());
    err = ReadFile(folder.File("stderr"));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Catches: a unit or a resolution that is no such thing taken as pixels or
// as 0 dpi (an infinite drawing), instead of refused before anything runs.
TEST(CliUnits, WrongUnitsAndResolutionsAreUsageErrors) {
    TempFolder folder;
    for (const char* arguments : {"--units cm", "--units MM", "--units ''", "--dpi 0", "--dpi -300", "--dpi 300,",
                                  "--dpi ,300", "--dpi abc", "--dpi 300,600,1", "--dpi inf"}) {
        std::string err;
        EXPECT_EQ(RunCli(folder, std::string(arguments) + " --txt -o '" + folder.Path() + "' '" + kSample + "'", err), 2)
            << arguments;
        EXPECT_NE(err.find(std::string(arguments).substr(0, std::string(arguments).find(" ")) + " needs"), std::string::npos) << arguments << ": " << err;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.File("plan.txt")));
}

// Catches: the stored resolution or --dpi not reaching the files.
TEST(CliUnits, TheSampleAtTrueScale) {
    TempFolder folder;
    struct Case {
        const char* arguments;
        const char* size;
    };
    for (const Case& c : {Case{"", "640.000,420.000"}, Case{"--units mm", "162.560,106.680"},
                          Case{"--units in --dpi 200", "3.200,2.100"}, Case{"--units in --dpi 64,42", "10.000,10.000"}}) {
        std::string err;
        ASSERT_EQ(RunCli(folder, std::string(c.arguments) + " --txt -o '" + folder.Path() + "' '" + kSample + "'", err), 0)
            << c.arguments << ": " << err;
        EXPECT_EQ(ReadFile(folder.File("plan.txt")).rfind(std::string(c.size) + "\r\n", 0), 0u) << c.arguments;
    }
}

}  // namespace
