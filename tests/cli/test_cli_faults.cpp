// vemo-trace under faults around it: a reader that goes away, a file-size
// limit, a stop signal while a file is saved, a plug-in that ends the
// process, and the small things a user trips over (what a path is, an -o
// folder that is not there, bundled letters, --quiet).
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/Vemo_safefile.h"
#include "cli/Vemo_privatefolder.h"
#include "common/Vemo_texts.h"
#include "test_support.h"

namespace {

const std::string kTrace = std::string("'") + VEMO_BUILD_DIR + "/vemo-trace'";
const std::string kSample = std::string(VEMO_SOURCE_DIR) + "/samples/plan.bmp";

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

struct Outcome {
    int exitStatus = -1;  // -1: ended by a signal
    int signal = 0;
    std::string out;
    std::string err;
};

Outcome Decode(int status) {
    Outcome outcome;
    if (WIFEXITED(status)) outcome.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    return outcome;
}

// Runs `command` in sh with standard output and error in files of `folder`.
Outcome Shell(const TempFolder& folder, const std::string& command) {
    const int status = std::system(("exec >" + Quoted(folder.File("stdout")) + " 2>" + Quoted(folder.File("stderr")) +
                                    "; " + command).c_str());
    // The shell's own status: 128 + n when the program died of signal n.
    Outcome outcome = Decode(status);
    if (outcome.exitStatus > 128) {
        outcome.signal = outcome.exitStatus - 128;
        outcome.exitStatus = -1;
    }
    outcome.out = ReadFile(folder.File("stdout"));
    outcome.err = ReadFile(folder.File("stderr"));
    std::filesystem::remove(folder.File("stdout"));
    std::filesystem::remove(folder.File("stderr"));
    return outcome;
}

// Runs `command` in sh with standard output and error on a pipe whose
// reader is already gone, so that every text the program writes meets a
// closed pipe.
Outcome RunIntoClosedPipe(const std::string& environment, const std::string& command) {
    int fds[2];
    if (::pipe(fds) != 0) return Outcome();
    ::close(fds[0]);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        ::signal(SIGPIPE, SIG_DFL);
        const std::string line = environment + "exec " + command;
        ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return Decode(status);
}

std::vector<std::string> HiddenTemporaries(const std::string& folder) {
    std::vector<std::string> found;
    for (const std::string& name : FilesIn(folder)) {
        if (name.rfind(".vemo-", 0) == 0) found.push_back(name);
    }
    return found;
}

// A folder with the sample, an output folder and a temporary folder of its own.
struct Scene {
    TempFolder root;
    std::string image = root.File("plan.bmp");
    std::string out = root.File("out");
    std::string tmp = root.File("tmp");
    std::string env = "TMPDIR=" + Quoted(root.File("tmp")) + " ";
    Scene() {
        std::filesystem::copy_file(kSample, image);
        std::filesystem::create_directory(out);
        std::filesystem::create_directory(tmp);
    }
};

// Catches: a reader that goes away (vemo-trace ... | head) killing the run
// with SIGPIPE before its files are written, leaving the private folder.
TEST(CliFaults, AClosedPipeDoesNotStopTheTrace) {
    Scene scene;
    std::filesystem::create_directory(scene.root.File("alone"));
    ASSERT_EQ(Shell(scene.root, kTrace + " --txt --dxf -o " + Quoted(scene.root.File("alone")) + " " + Quoted(scene.image))
                  .exitStatus,
              0);
    std::filesystem::copy_file(kSample, scene.root.File("second.bmp"));
    for (const char* jobs : {"", "-j 2 "}) {
        std::filesystem::remove_all(scene.out);
        std::filesystem::create_directory(scene.out);
        std::string images = Quoted(scene.image);
        if (*jobs != '\0') images += " " + Quoted(scene.root.File("second.bmp"));
        const Outcome outcome =
            RunIntoClosedPipe(scene.env, kTrace + " " + jobs + "--txt --dxf -o " + Quoted(scene.out) + " " + images);
        EXPECT_EQ(outcome.signal, 0) << jobs;
        EXPECT_EQ(outcome.exitStatus, 0) << jobs << "the files were written";
        for (const char* name : {"plan.txt", "plan.dxf"}) {
            EXPECT_TRUE(ReadFile(scene.out + "/" + name) == ReadFile(scene.root.File("alone/") + name)) << jobs << name;
        }
        EXPECT_TRUE(FilesIn(scene.tmp).empty()) << jobs << "private folder left";
    }
}

// Catches: a file-size limit (ulimit -f) killing the run with SIGXFSZ, with
// no word, the private folder and a hidden temporary file left behind.
TEST(CliFaults, AFileSizeLimitFailsTheWriteWithAMessage) {
    Scene scene;
    // In blocks of 512 bytes (dash): one that the first intermediate file
    // exceeds, and one that holds every intermediate file of the sample
    // (58,624 bytes at most) and the text file but not the DXF drawing,
    // whose large ratios make it about 69,000 bytes.
    struct Case {
        const char* blocks;
        const char* failing;  // the file the message names
    };
    const Case cases[] = {{"1", "temp.sqr"}, {"120", "plan.dxf"}};
    for (const Case& c : cases) {
        std::filesystem::remove_all(scene.out);
        std::filesystem::create_directory(scene.out);
        const Outcome outcome =
            Shell(scene.root, "ulimit -f " + std::string(c.blocks) + "; " + scene.env + kTrace +
                                  " --txt --dxf --x-ratio 1e9 --y-ratio 1e9 -o " + Quoted(scene.out) + " " +
                                  Quoted(scene.image));
        EXPECT_EQ(outcome.signal, 0) << c.blocks;
        EXPECT_EQ(outcome.exitStatus, 1) << c.blocks << outcome.err;
        EXPECT_NE(outcome.err.find(std::string(c.failing) + "」を処理できません。"), std::string::npos)
            << c.blocks << outcome.err;
        EXPECT_NE(outcome.err.find(scene.image + "は処理できません。"), std::string::npos) << outcome.err;
        EXPECT_TRUE(FilesIn(scene.tmp).empty()) << c.blocks;
        EXPECT_TRUE(HiddenTemporaries(scene.out).empty()) << c.blocks;
        EXPECT_FALSE(std::filesystem::exists(scene.out + "/" + c.failing)) << c.blocks;
    }
}

// Catches: SIGINT, SIGTERM or SIGHUP during a save leaving its hidden
// temporary file in the output folder; and a handler that removes what is
// not this process's (another writer's temporary file, a saved file).
TEST(CliFaults, AStopSignalDuringASaveRemovesOnlyThisProcesssTemporaries) {
    for (const int stop : {SIGINT, SIGTERM, SIGHUP}) {
        TempFolder folder;
        WriteFile(folder.File("plan.txt"), "old drawing");
        // Another process's save of the same file, under way: held and locked.
        const std::string other = folder.File(".vemo-plan.txt.Other1.tmp");
        WriteFile(other, "theirs");
        const int held = ::open(other.c_str(), O_RDONLY);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);

        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            TVemo_privatefolder::CatchStopSignals();
            SaveFileSafely(folder.File("plan.dxf"), "finished");
            TVemo_safefile first(folder.File("plan.txt"));
            first.Write(std::string(100000, 'x'));
            TVemo_safefile second(folder.File("plan.A10"));
            second.Write("y");
            ::raise(stop);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::close(held);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == stop) << stop;
        std::vector<std::string> left = FilesIn(folder.Path());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{".vemo-plan.txt.Other1.tmp", "plan.dxf", "plan.txt"})) << stop;
        EXPECT_EQ(ReadFile(folder.File("plan.txt")), "old drawing");
        EXPECT_EQ(ReadFile(folder.File("plan.dxf")), "finished");
    }
}

// A system folder whose PNG plug-in is the fake that calls exit(0) in
// GetPicture.
std::string SystemWithExitingPlugin(const TempFolder& folder) {
    const std::string system = folder.File("Vemosys");
    std::filesystem::copy(VEMO_SYSTEM_DIR, system);
    std::filesystem::copy_file(std::string(VEMO_FAKE_SPI_DIR) + "/fake_exits.spi", system + "/fake_exits.spi");
    std::string settings = ReadFile(system + "/Vemo.sys");
    const std::size_t key = settings.find("PNGSPI=");
    settings.replace(key, settings.find('\n', key) - key, "PNGSPI=fake_exits.spi");
    WriteFile(system + "/Vemo.sys", settings);
    return system;
}

// Catches: a plug-in that calls exit(0) counted as a traced image (exit 0,
// no word), in a batch and alone, and its private folder left behind.
TEST(CliFaults, APlugInThatEndsTheProcessFailsItsImage) {
    Scene scene;
    const std::string system = SystemWithExitingPlugin(scene.root);
    const std::string exits = scene.root.File("exits.png");
    WriteFile(exits, "FAKE picture");
    const std::string ended = texts::TraceAborted(exits, texts::ReasonEndedWithoutResult(0));
    const std::string common = scene.env + kTrace + " --txt --system-folder " + Quoted(system) + " -o " + Quoted(scene.out);

    const Outcome batch = Shell(scene.root, common + " -j 2 " + Quoted(scene.image) + " " + Quoted(exits));
    EXPECT_EQ(batch.exitStatus, 1);
    EXPECT_NE(batch.err.find(ended), std::string::npos) << batch.err;
    EXPECT_NE(batch.err.find(texts::CannotProcess(exits)), std::string::npos) << batch.err;
    EXPECT_EQ(batch.out.rfind(scene.image + "をトレースしました。", 0), 0u) << batch.out;
    EXPECT_EQ(batch.out.find(exits), std::string::npos) << batch.out;

    const Outcome alone = Shell(scene.root, common + " " + Quoted(exits));
    EXPECT_EQ(alone.exitStatus, 1);
    EXPECT_NE(alone.err.find(ended), std::string::npos) << alone.err;
    EXPECT_EQ(alone.out, "");
    EXPECT_EQ(FilesIn(scene.out), std::vector<std::string>{"plan.txt"});
    EXPECT_TRUE(FilesIn(scene.tmp).empty());
}

// Catches: a FIFO, folder or device reported as missing (and a FIFO
// blocking the run); an -o folder that is not there found only after the
// trace; bundled letters (-qh, -qj1) and a ratio with a trailing blank
// refused; and --quiet still printing the completion lines.
TEST(CliFaults, SmallThingsUsersTripOver) {
    Scene scene;
    const std::string fifo = scene.root.File("pipe.bmp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* what;
    } notFiles[] = {{fifo, "名前付きパイプ（FIFO）です"}, {scene.out, "フォルダです"}, {"/dev/null", "デバイスファイルです"}};
    for (const auto& c : notFiles) {
        const Outcome outcome = Shell(scene.root, kTrace + " --txt " + Quoted(c.path));
        EXPECT_EQ(outcome.exitStatus, 1) << c.path;
        EXPECT_NE(outcome.err.find(texts::ImageNotAFile(c.path, c.what)), std::string::npos) << outcome.err;
    }

    for (const std::string& missing : {scene.root.File("no-such-folder"), scene.image}) {
        const Outcome outcome = Shell(scene.root, kTrace + " --txt -o " + Quoted(missing) + " " + Quoted(scene.image));
        EXPECT_EQ(outcome.exitStatus, 1) << missing;
        EXPECT_NE(outcome.err.find("出力フォルダ「" + missing + "」を使えません。"), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.err.find(texts::kStatusAnalysing), std::string::npos) << "traced before the check";
    }

    const Outcome help = Shell(scene.root, kTrace + " -qh");
    EXPECT_EQ(help.exitStatus, 0) << help.err;
    EXPECT_NE(help.out.find("Usage:"), std::string::npos);

    const Outcome quiet = Shell(scene.root, kTrace + " -qj1 --txt --x-ratio '1 ' --y-ratio=' 2 ' -o " + Quoted(scene.out) +
                                              " " + Quoted(scene.image));
    EXPECT_EQ(quiet.exitStatus, 0) << quiet.err;
    EXPECT_EQ(quiet.out + quiet.err, "") << "quiet leaves only failures";
    EXPECT_TRUE(std::filesystem::exists(scene.out + "/plan.txt"));
    const Outcome quietFailure = Shell(scene.root, kTrace + " -q " + Quoted(scene.root.File("none.bmp")));
    EXPECT_EQ(quietFailure.exitStatus, 1);
    EXPECT_NE(quietFailure.err.find(texts::ImageFileMissing(scene.root.File("none.bmp"))), std::string::npos);
}

}  // namespace
