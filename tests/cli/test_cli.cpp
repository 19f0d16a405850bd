// vemo-trace: exit status, where the texts go, and what stays on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

#include <QImage>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"

namespace {

struct Outcome {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

const std::string kVemoTrace = std::string("'") + VEMO_BUILD_DIR + "/vemo-trace'";

// Runs vemo-trace with `arguments` (already quoted for the shell), after
// the shell commands in `before`.
Outcome RunCli(const TempFolder& folder, const std::string& arguments, const std::string& before = "") {
    const std::string command = before + kVemoTrace + " " + arguments + " >'" + folder.File("stdout") + "' 2>'" +
                                folder.File("stderr") + "'";
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
    // The output folder must exist; the program does not create it, and
    // says so before it traces.
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_NE(outcome.err.find("出力フォルダ「" + output.Path() + "/out」"), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find("2.画像分析"), std::string::npos) << outcome.err;

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
    // Catches: the help naming the image's folder for the intermediate files,
    // where they go only with --keep-temp.
    EXPECT_NE(help.out.find("private folder"), std::string::npos) << help.out;

    const Outcome missing = RunCli(folder, "'" + folder.File("none.bmp") + "'");
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.err.find(folder.File("none.bmp") + "は処理できません。"), std::string::npos) << missing.err;

    const Outcome noSettings = RunCli(folder, "--system-folder '" + folder.Path() + "' x.bmp");
    EXPECT_EQ(noSettings.exitStatus, 1);
    EXPECT_NE(noSettings.err.find("Vemoを起動できません。（Vemo.sysがない）"), std::string::npos);
}

// Catches: the option parser taking an image for a value or a value for an
// image, or accepting what it should refuse, in the spellings scripts use.
TEST(Cli, OptionSpellings) {
    TempFolder images;
    std::filesystem::copy_file(kSample, images.File("plan.bmp"));
    std::filesystem::create_directory(images.File("out"));
    const std::string plan = "'" + images.File("plan.bmp") + "'";
    const std::string out = images.File("out");
    struct Case {
        std::string arguments;
        int exitStatus;
        std::string written;  // a file that must then exist, if any
    };
    const Case cases[] = {
        {"--txt --output='" + out + "' " + plan, 0, "out/plan.txt"},
        {"--txt -o'" + out + "' " + plan, 0, "out/plan.txt"},
        {"--txt -o '" + out + "' " + plan, 0, "out/plan.txt"},
        {"--txt --x-ratio 2 --y-ratio=0.5 " + plan, 0, "plan.txt"},
        {"--txt -- " + plan, 0, "plan.txt"},
        {"--txt --x-ratio", 2, ""},
        {"--keep-temp=1 " + plan, 2, ""},
        {"--txt -z " + plan, 2, ""},
        {"--txt -j1 --quiet --jobs=3 " + plan, 0, "plan.txt"},
        {"--txt -o '' " + plan, 2, ""},
        {"-- --txt", 1, ""},  // after "--" a name, not an option: no such image
    };
    for (const Case& c : cases) {
        std::filesystem::remove(images.File("plan.txt"));
        std::filesystem::remove(images.File("out/plan.txt"));
        const Outcome outcome = RunCli(images, c.arguments);
        EXPECT_EQ(outcome.exitStatus, c.exitStatus) << c.arguments << "\n" << outcome.err;
        if (!c.written.empty()) {
            EXPECT_TRUE(std::filesystem::exists(images.File(c.written))) << c.arguments;
        }
    }
}

// Polylines in a text output file: every line but the first "width,height"
// line is either a point "x,y" or a polyline's point count.
std::size_t TextPolylines(const std::string& text) {
    std::size_t polylines = 0, start = text.find('\n') + 1;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (text.substr(start, end - start).find(',') == std::string::npos) ++polylines;
        start = end + 1;
    }
    return polylines;
}

TEST(Cli, JoinGivesEveryFormatTheFewerJoinedPolylines) {
    TempFolder images, plain, joined;
    std::filesystem::copy_file(kSample, images.File("plan.bmp"));
    const std::string image = " '" + images.File("plan.bmp") + "'";
    ASSERT_EQ(RunCli(images, "--txt --a10 -o '" + plain.Path() + "'" + image).exitStatus, 0);
    const Outcome outcome = RunCli(images, "--join --txt --a10 -o '" + joined.Path() + "'" + image);
    ASSERT_EQ(outcome.exitStatus, 0) << outcome.err;

    const std::size_t before = TextPolylines(ReadFile(plain.File("plan.txt")));
    const std::size_t after = TextPolylines(ReadFile(joined.File("plan.txt")));
    EXPECT_GT(after, 0u);
    EXPECT_LT(after, before);
    // The A10 file heads the k-th polyline with "3000 k n", five columns each.
    const std::string a10 = ReadFile(joined.File("plan.A10"));
    const auto head = [](std::size_t k) {
        char text[16];
        std::snprintf(text, sizeof text, " 3000%5zu", k);
        return std::string("\n") + text;
    };
    EXPECT_NE(a10.find(head(after)), std::string::npos);
    EXPECT_EQ(a10.find(head(after + 1)), std::string::npos);
}

}  // namespace

namespace {

// A drawing of `size` x `size` pixels whose lines depend on `seed`, saved
// as a 1-bit BMP: big enough that runs started together overlap.
void WriteGrid(const std::string& path, int size, int seed) {
    QImage image(size, size, QImage::Format_Mono);
    image.setColor(0, qRgb(0, 0, 0));
    image.setColor(1, qRgb(255, 255, 255));
    image.fill(1);
    const int step = 23 + 7 * seed;
    for (int at = step; at < size - 2; at += step) {
        for (int i = 2; i < size - 2; ++i) {
            image.setPixel(i, at, 0);
            image.setPixel(at, i, 0);
            image.setPixel(i, std::min(size - 3, at + i / step), 0);
        }
    }
    ASSERT_TRUE(image.save(QString::fromStdString(path), "BMP"));
}

// Catches: runs in one folder at the same time overwriting each other's
// intermediate files (failed runs, or wrong drawings reported as traced),
// with and without --keep-temp; and private folders left behind.
TEST(Cli, ParallelRunsInOneFolderNeverMeet) {
    TempFolder images;
    std::filesystem::create_directory(images.File("tmp"));
    const std::string env = "TMPDIR='" + images.File("tmp") + "' ";
    constexpr int kRuns = 4;
    for (int i = 0; i < kRuns; ++i) WriteGrid(images.File("p" + std::to_string(i) + ".bmp"), 1200, i);
    std::filesystem::create_directory(images.File("alone"));
    for (int i = 0; i < kRuns; ++i) {
        const Outcome alone = RunCli(images, "--txt --a10 -o '" + images.File("alone") + "' '" +
                                                 images.File("p" + std::to_string(i) + ".bmp") + "'", env);
        ASSERT_EQ(alone.exitStatus, 0) << alone.err;
    }
    for (const char* mode : {"--keep-temp", "--no-keep"}) {
        const std::string out = images.File(std::string("out") + mode);
        std::filesystem::create_directory(out);
        std::string script = "cd '" + images.Path() + "'; ";
        for (int i = 0; i < kRuns; ++i) {
            script += env + kVemoTrace + " --txt --a10 " + (std::string(mode) == "--keep-temp" ? mode : "") + " -o '" +
                      out + "' p" + std::to_string(i) + ".bmp >/dev/null 2>&1; echo $? > '" + out + "/rc" +
                      std::to_string(i) + "' & ";
        }
        script += "wait";
        ASSERT_EQ(std::system(("sh -c \"" + script + "\"").c_str()), 0);
        for (int i = 0; i < kRuns; ++i) {
            const std::string n = std::to_string(i);
            EXPECT_EQ(ReadFile(out + "/rc" + n), "0\n") << mode << " run " << n;
            for (const char* ext : {".txt", ".A10"}) {
                EXPECT_EQ(ReadFile(out + "/p" + n + ext), ReadFile(images.File("alone/p" + n + ext))) << mode << n << ext;
            }
        }
    }
    EXPECT_TRUE(FilesIn(images.File("tmp")).empty());
}

// Catches: running out of memory on one image ending the whole batch with
// terminate (later images untraced, intermediate files left).
TEST(Cli, RunningOutOfMemoryEndsOnlyThatImage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under a small address-space limit";
#endif
    TempFolder images;
    std::filesystem::create_directory(images.File("tmp"));
    std::filesystem::create_directory(images.File("out"));
    {
        // Every 8th row a dotted line: millions of one-pixel squares, more
        // than the square table can hold within the limit.
        QImage big(12000, 12000, QImage::Format_Mono);
        big.setColor(0, qRgb(0, 0, 0));
        big.setColor(1, qRgb(255, 255, 255));
        big.fill(1);
        for (int y = 0; y < big.height(); y += 8) std::memset(big.scanLine(y), 0xAA, big.width() / 8);
        ASSERT_TRUE(big.save(QString::fromStdString(images.File("big.bmp")), "BMP"));
    }
    std::filesystem::copy_file(kSample, images.File("small.bmp"));
    const Outcome outcome = RunCli(images,
                                   "--txt -o '" + images.File("out") + "' '" + images.File("big.bmp") + "' '" +
                                       images.File("small.bmp") + "'",
                                   "ulimit -v 400000; TMPDIR='" + images.File("tmp") + "' ");
    EXPECT_EQ(outcome.exitStatus, 1) << outcome.err;
    EXPECT_NE(outcome.err.find(images.File("big.bmp")), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("メモリーが足りません"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.out.find(images.File("small.bmp") + "をトレースしました。"), std::string::npos) << outcome.out;
    EXPECT_EQ(FilesIn(images.File("out")), std::vector<std::string>{"small.txt"});
    EXPECT_TRUE(FilesIn(images.File("tmp")).empty());
}

// Catches: two images with one output name, the second silently replacing
// the first one's drawing.
TEST(Cli, TwoImagesWithOneOutputNameAreRefusedBeforeTracing) {
    TempFolder folder;
    for (const char* dir : {"x", "y", "out"}) std::filesystem::create_directory(folder.File(dir));
    std::filesystem::copy_file(kSample, folder.File("x/plan.bmp"));
    std::filesystem::copy_file(kSample, folder.File("y/plan.bmp"));
    std::filesystem::copy_file(kSample, folder.File("x/plan.BMP"));
    const std::string calls[] = {
        "--txt -o '" + folder.File("out") + "' '" + folder.File("x/plan.bmp") + "' '" + folder.File("y/plan.bmp") + "'",
        "--dxf '" + folder.File("x/plan.bmp") + "' '" + folder.File("y/../x/plan.BMP") + "'",
    };
    for (const std::string& call : calls) {
        const Outcome outcome = RunCli(folder, call);
        EXPECT_EQ(outcome.exitStatus, 2) << call;
        EXPECT_NE(outcome.err.find("plan.bmp and "), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.out, "") << call;
    }
    EXPECT_TRUE(FilesIn(folder.File("out")).empty());
    EXPECT_EQ(FilesIn(folder.File("y")), std::vector<std::string>{"plan.bmp"});
}

// Catches: a ratio typo tracing every x to 0, "inf" written into the files,
// and ratios from Vemo.sys used at a precision the window would not show.
TEST(Cli, RatiosAreDecimalNumbersAndStoredOnesAreTakenAsShown) {
    TempFolder folder;
    std::filesystem::copy_file(kSample, folder.File("plan.bmp"));
    const std::string image = " '" + folder.File("plan.bmp") + "'";
    for (const char* bad : {"--x-ratio 2x", "--x-ratio ''", "--y-ratio abc", "--y-ratio 1,5"}) {
        EXPECT_EQ(RunCli(folder, std::string("--txt ") + bad + image).exitStatus, 2) << bad;
    }
    const Outcome infinite = RunCli(folder, "--txt --x-ratio 1e400" + image);
    EXPECT_EQ(infinite.exitStatus, 1);
    EXPECT_NE(infinite.err.find("Ｘ倍率「1e400」"), std::string::npos) << infinite.err;
    EXPECT_FALSE(std::filesystem::exists(folder.File("plan.txt")));

    std::filesystem::copy(VEMO_SYSTEM_DIR, folder.File("Vemosys"));
    std::string settings = ReadFile(folder.File("Vemosys/Vemo.sys"));
    const std::size_t at = settings.find("XRATIO=");
    ASSERT_NE(at, std::string::npos);
    settings.replace(at, settings.find('\n', at) - at, "XRATIO=1.23456");
    WriteFile(folder.File("Vemosys/Vemo.sys"), settings);
    const Outcome stored = RunCli(folder, "--system-folder '" + folder.File("Vemosys") + "' --txt" + image);
    ASSERT_EQ(stored.exitStatus, 0) << stored.err;
    const QImage sample(QString::fromStdString(kSample));
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.3f,", sample.width() * 1.235);
    EXPECT_EQ(ReadFile(folder.File("plan.txt")).rfind(expected, 0), 0u) << ReadFile(folder.File("plan.txt")).substr(0, 30);
}

// Catches: XRATIO=abc (or nan, or 0.0004) in Vemo.sys tracing every x to 0
// and exiting 0; a zero typed on the command line accepted; and ratios
// whose product overflows writing "inf" with exit 0.
TEST(Cli, RatiosThatGiveNoDrawingAreRefused) {
    TempFolder folder;
    std::filesystem::copy_file(kSample, folder.File("plan.bmp"));
    const std::string image = " '" + folder.File("plan.bmp") + "'";
    std::filesystem::copy(VEMO_SYSTEM_DIR, folder.File("Vemosys"));
    const std::string settingsPath = folder.File("Vemosys/Vemo.sys");
    const std::string original = ReadFile(settingsPath);
    const std::string systemFolder = "--system-folder '" + folder.File("Vemosys") + "' ";
    for (const char* stored : {"abc", "nan", "0.0004", "1e400"}) {
        std::string settings = original;
        const std::size_t at = settings.find("YRATIO=");
        ASSERT_NE(at, std::string::npos);
        settings.replace(at, settings.find('\n', at) - at, std::string("YRATIO=") + stored);
        WriteFile(settingsPath, settings);
        const Outcome refused = RunCli(folder, systemFolder + "--txt" + image);
        EXPECT_EQ(refused.exitStatus, 1) << stored;
        EXPECT_NE(refused.err.find("設定ファイル「" + settingsPath + "」のYRATIO「" + stored + "」は倍率として使えません"),
                  std::string::npos)
            << refused.err;
        EXPECT_FALSE(std::filesystem::exists(folder.File("plan.txt"))) << stored;
        // The same ratio given on the command line replaces the stored one.
        EXPECT_EQ(RunCli(folder, systemFolder + "--txt --y-ratio 2" + image).exitStatus, 0) << stored;
        std::filesystem::remove(folder.File("plan.txt"));
    }
    WriteFile(settingsPath, original);
    for (const char* zero : {"--x-ratio 0", "--y-ratio=-0.0", "--x-ratio 1e-400"}) {
        EXPECT_EQ(RunCli(folder, systemFolder + "--txt " + zero + image).exitStatus, 2) << zero;
    }
    const Outcome overflow = RunCli(folder, systemFolder + "--txt --dxf --a10 --x-ratio=1e307 --y-ratio=-1e307" + image);
    EXPECT_EQ(overflow.exitStatus, 1);
    EXPECT_NE(overflow.err.find("数として扱えません"), std::string::npos) << overflow.err;
    EXPECT_EQ(FilesIn(folder.Path()), (std::vector<std::string>{"Vemosys", "plan.bmp"}));
}

}  // namespace

namespace {

void MakeOld(const std::string& path) {
    const timespec old[2] = {{std::time(nullptr) - 120, 0}, {std::time(nullptr) - 120, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Catches: private folders of runs killed outright (SIGKILL, the OOM
// killer) piling up in the temporary folder for ever; and a sweep that
// takes a living run's folder, a fresh one, a link or a link's target.
TEST(Cli, FoldersLeftByKilledRunsAreRemovedByTheNextRun) {
    TempFolder images;
    const std::string tmp = images.File("tmp");
    std::filesystem::create_directory(tmp);
    const std::string env = "TMPDIR='" + tmp + "' ";

    // A real run killed in the middle of its trace.
    WriteGrid(images.File("big.bmp"), 6000, 0);
    const std::string script = "cd '" + images.Path() + "'; " + env + "exec " + kVemoTrace + " --txt big.bmp >/dev/null 2>&1";
    const pid_t run = ::fork();
    ASSERT_GE(run, 0);
    if (run == 0) {
        ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string killedFolder;
    for (int waited = 0; killedFolder.empty() && waited < 20000; ++waited) {
        for (const std::string& name : FilesIn(tmp)) {
            if (std::filesystem::exists(tmp + "/" + name + "/temp.sqr")) killedFolder = name;
        }
        if (killedFolder.empty()) ::usleep(500);
    }
    ::kill(run, SIGKILL);
    int status = 0;
    ::waitpid(run, &status, 0);
    ASSERT_FALSE(killedFolder.empty()) << "the run never wrote its first intermediate file";
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";
    MakeOld(tmp + "/" + killedFolder);

    // Folders and links that must stay.
    WriteFile(images.File("precious"), "keep");
    std::filesystem::create_directory(tmp + "/vemo-trace-dead01");
    std::filesystem::create_symlink(images.File("precious"), tmp + "/vemo-trace-dead01/temp.lix");
    MakeOld(tmp + "/vemo-trace-dead01");
    std::filesystem::create_directory(tmp + "/vemo-trace-live01");
    MakeOld(tmp + "/vemo-trace-live01");
    const int held = ::open((tmp + "/vemo-trace-live01").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    std::filesystem::create_directory(tmp + "/vemo-trace-new001");
    std::filesystem::create_directory(images.File("target"));
    WriteFile(images.File("target/temp.sqr"), "keep");
    std::filesystem::create_directory_symlink(images.File("target"), tmp + "/vemo-trace-link01");
    MakeOld(tmp + "/vemo-trace-link01");
    std::filesystem::create_directory(tmp + "/other-folder");
    MakeOld(tmp + "/other-folder");

    const Outcome next = RunCli(images, "--txt '" + kSample + "' -o '" + images.Path() + "'", env);
    ::close(held);
    EXPECT_EQ(next.exitStatus, 0) << next.err;
    std::vector<std::string> left = FilesIn(tmp);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"other-folder", "vemo-trace-link01", "vemo-trace-live01", "vemo-trace-new001"}));
    EXPECT_EQ(ReadFile(images.File("precious")), "keep");
    EXPECT_EQ(ReadFile(images.File("target/temp.sqr")), "keep");
}

}  // namespace
