// vemo-trace: exit status, where the texts go, and what stays on disk.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <sys/wait.h>

#include "test_support.h"

namespace {

struct Outcome {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

// Runs vemo-trace with `arguments` (already quoted for the shell).
Outcome RunCli(const TempFolder& folder, const std::string& arguments) {
    const std::string command = std::string("'") + VEMO_BUILD_DIR + "/vemo-trace' " + arguments + " >'" +
                                folder.File("stdout") + "' 2>'" + folder.File("stderr") + "'";
    const int status = std::system(command.c_str());
    Outcome outcome;
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = ReadFile(folder.File("stdout"));
    outcome.err = ReadFile(folder.File("stderr"));
    std::filesystem::remove(folder.File("stdout"));
    std::filesystem::remove(folder.File("stderr"));
    return outcome;
}

const std::string kSample = std::string(VEMO_SOURCE_DIR) + "/samples/plan.bmp";

TEST(Cli, TracesTheSampleIntoTheOutputFolderAndCleansUp) {
    TempFolder images, output;
    std::filesystem::copy_file(kSample, images.File("plan.bmp"));
    const Outcome outcome = RunCli(output, "--txt --dxf --a10 -o '" + output.Path() + "/out' '" + images.File("plan.bmp") + "'");
    // The output folder must exist; the program does not create it.
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_NE(outcome.err.find(output.Path() + "/out/plan.txt"), std::string::npos) << outcome.err;

    std::filesystem::create_directory(output.File("out"));
    const Outcome good = RunCli(output, "--txt --dxf --a10 -o '" + output.Path() + "/out' '" + images.File("plan.bmp") + "'");
    EXPECT_EQ(good.exitStatus, 0) << good.err;
    EXPECT_EQ(good.out.rfind(images.File("plan.bmp") + "をトレースしました。 time:", 0), 0u) << good.out;
    EXPECT_NE(good.err.find("2.画像分析\n3.画像合成\n4.線分調整\n"), std::string::npos) << good.err;
    for (const char* name : {"out/plan.txt", "out/plan.dxf", "out/plan.A10"}) {
        EXPECT_GT(std::filesystem::file_size(output.File(name)), 100u) << name;
    }
    EXPECT_EQ(FilesIn(images.Path()), std::vector<std::string>{"plan.bmp"}) << "intermediate files are removed";
}

TEST(Cli, KeepTempKeepsTheIntermediateFilesAndNoFormatsWriteNothing) {
    TempFolder images;
    std::filesystem::copy_file(kSample, images.File("plan.bmp"));
    const Outcome outcome = RunCli(images, "--keep-temp --no-txt --no-dxf --no-a10 '" + images.File("plan.bmp") + "'");
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_TRUE(std::filesystem::exists(images.File("temp.lix")));
    EXPECT_TRUE(std::filesystem::exists(images.File("temp.sqr")));
    EXPECT_FALSE(std::filesystem::exists(images.File("plan.txt")));
}

TEST(Cli, UsageErrorsAndMissingFilesHaveTheirOwnExitStatus) {
    TempFolder folder;
    EXPECT_EQ(RunCli(folder, "").exitStatus, 2);
    EXPECT_EQ(RunCli(folder, "--bogus x.bmp").exitStatus, 2);
    EXPECT_EQ(RunCli(folder, "--txt --no-txt x.bmp").exitStatus, 2);
    const Outcome help = RunCli(folder, "--help");
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("--keep-temp"), std::string::npos);

    const Outcome missing = RunCli(folder, "'" + folder.File("none.bmp") + "'");
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.err.find(folder.File("none.bmp") + "は処理できません。"), std::string::npos) << missing.err;

    const Outcome noSettings = RunCli(folder, "--system-folder '" + folder.Path() + "' x.bmp");
    EXPECT_EQ(noSettings.exitStatus, 1);
    EXPECT_NE(noSettings.err.find("Vemoを起動できません。（Vemo.sysがない）"), std::string::npos);
}

}  // namespace
