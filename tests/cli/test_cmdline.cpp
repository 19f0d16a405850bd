// vemo-trace's command line read alone: spellings, bundled letters and the
// checks, without starting a trace.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/Vemo_cmdline.h"
#include "common/Vemo_common.h"
#include "job/Vemo_comp.h"

namespace {

struct Read {
    std::string error;
    TraceCommand command;
};

Read ReadLine(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv = {"vemo-trace"};
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    Read read;
    read.error = ReadTraceCommand(static_cast<int>(argv.size()), argv.data(), 3, read.command);
    return read;
}

// Catches: bundled letters taken as one letter with a value (-qh refused),
// a letter's value cut from the wrong place, a value-taking letter inside a
// bundle swallowing the letters after it as anything but its value, and
// images or values mistaken for each other.
TEST(CommandLine, LettersBundleAsInEveryOtherTool) {
    struct Case {
        std::vector<std::string> arguments;
        std::string error;  // empty: understood
        bool quiet;
        int jobs;
        std::vector<std::string> images;
        std::string output;  // the -o value, if any
    };
    const Case cases[] = {
        {{"-qj2", "a.bmp"}, "", true, 2, {"a.bmp"}, ""},
        {{"-qj", "2", "a.bmp"}, "", true, 2, {"a.bmp"}, ""},
        {{"-j2q", "a.bmp"}, "-j needs a number of images from 1 to 1024", false, 0, {}, ""},
        {{"-qo", "out", "a.bmp"}, "", true, 3, {"a.bmp"}, "out"},
        {{"-qoout", "a.bmp", "-"}, "", true, 3, {"a.bmp", "-"}, "out"},
        {{"-qz", "a.bmp"}, "Unknown option 'z'.", false, 0, {}, ""},
        {{"-q", "-o"}, "Missing value after '-o'.", false, 0, {}, ""},
        {{"--", "-q", "--txt"}, "", false, 3, {"-q", "--txt"}, ""},
        {{"-o=x", "a.bmp"}, "", false, 3, {"a.bmp"}, "=x"},
        {{"--quiet=1", "a.bmp"}, "Unexpected value after '--quiet'.", false, 0, {}, ""},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& argument : c.arguments) line += argument + " ";
        const Read read = ReadLine(c.arguments);
        EXPECT_EQ(read.error, c.error) << line;
        if (!c.error.empty()) continue;
        EXPECT_EQ(read.command.quiet, c.quiet) << line;
        EXPECT_EQ(read.command.jobs, c.jobs) << line;
        EXPECT_EQ(read.command.line.images, c.images) << line;
        EXPECT_EQ(read.command.line.IsSet("output") ? read.command.line.Value("output") : "", c.output) << line;
    }
    const Read help = ReadLine({"-qh"});
    EXPECT_EQ(help.error, "");
    EXPECT_TRUE(help.command.help);
}

// Catches: a ratio with a blank after it ("1 ", as a spreadsheet hands it
// over) refused, while text after the number still is; and the text
// reaching the job changed on the way.
TEST(CommandLine, RatiosMayHaveBlanksAroundThem) {
    for (const char* good : {"1 ", " 2.5\t", "-3e2  "}) {
        const Read read = ReadLine({"--x-ratio", good, "a.bmp"});
        EXPECT_EQ(read.error, "") << "'" << good << "'";
        TraceOptions options;
        ApplyCommandLine(read.command.line, options);
        EXPECT_EQ(options.xRatioText, good);
        EXPECT_EQ(ParseNumber(options.xRatioText), ParseNumber(std::string(good)));
    }
    for (const char* bad : {"1 x", " ", "1 2", "1\n"}) {
        EXPECT_NE(ReadLine({"--y-ratio", bad, "a.bmp"}).error, "") << "'" << bad << "'";
    }
}

}  // namespace
