// The shared file handling: the safe save under the conditions a user's
// folders put it in, the folder lock, and the one path split.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <csignal>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Vemo_fileerror.h"
#include "base/Vemo_folderlock.h"
#include "base/Vemo_path.h"
#include "base/Vemo_runcontrol.h"
#include "base/Vemo_safefile.h"
#include "ordinary_user.h"

namespace {

namespace fs = std::filesystem;

class Folder {
public:
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "vemo-base-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~Folder() {
        std::error_code ignored;
        fs::permissions(m_path, fs::perms::owner_all, ignored);
        fs::remove_all(m_path, ignored);
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Catches: a writable file in a read-only folder that can no longer be
// saved at all, and a read-only file that gets replaced anyway.
TEST(SafeFile, ReadOnlyFolderIsWrittenInPlaceAndReadOnlyFileRefused) {
    Folder folder;
    fs::create_directory(folder.File("locked"));
    Write(folder.File("locked/plan.txt"), "old drawing\r\n");
    Write(folder.File("locked/kept.txt"), "kept\r\n");
    ::chmod(folder.File("locked/kept.txt").c_str(), 0444);
    ::chmod(folder.File("locked").c_str(), 0555);
    const std::string target = folder.File("locked/plan.txt");
    const std::string readOnly = folder.File("locked/kept.txt");
    const std::string newFile = folder.File("locked/new.txt");
    EXPECT_TRUE(RunAsOrdinaryUser(folder.Path(), [&] {
        SaveFileSafely(target, "new drawing\r\n");
        bool refused = false;
        try {
            SaveFileSafely(readOnly, "replaced");
        } catch (const FileError& error) {
            refused = error.Path() == readOnly;
        }
        bool newRefused = false;
        try {
            SaveFileSafely(newFile, "x");  // nothing to write in place
        } catch (const FileError&) {
            newRefused = true;
        }
        return Read(target) == "new drawing\r\n" && refused && Read(readOnly) == "kept\r\n" && newRefused;
    }));
    ::chmod(folder.File("locked").c_str(), 0755);
    EXPECT_EQ(Names(folder.File("locked")), (std::vector<std::string>{"kept.txt", "plan.txt"}));
}

// Catches: the temporary file of a killed save left for ever, or another
// live save's temporary file taken for a leftover.
TEST(SafeFile, LeftoversOfAKilledSaveGoWithTheNextSaveOfThatFile) {
    Folder folder;
    Write(folder.File(".vemo-plan.txt.AbC123.tmp"), "half a drawing");
    Write(folder.File(".vemo-plan.txt.Live99.tmp"), "being written");
    Write(folder.File(".vemo-other.txt.XyZ789.tmp"), "another file's");
    const int live = ::open(folder.File(".vemo-plan.txt.Live99.tmp").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);

    SaveFileSafely(folder.File("plan.txt"), "drawing\r\n");
    ::close(live);
    EXPECT_EQ(Read(folder.File("plan.txt")), "drawing\r\n");
    EXPECT_EQ(Names(folder.Path()),
              (std::vector<std::string>{".vemo-other.txt.XyZ789.tmp", ".vemo-plan.txt.Live99.tmp", "plan.txt"}));
}

// Catches: a save abandoned half-way that touches the target or leaves
// its temporary file, and a save that loses the file's permissions.
TEST(SafeFile, AbandonedSaveLeavesTheTargetAndACommittedOneKeepsItsMode) {
    Folder folder;
    Write(folder.File("plan.txt"), "old");
    ::chmod(folder.File("plan.txt").c_str(), 0640);
    {
        TVemo_safefile file(folder.File("plan.txt"));
        file.Write("new but never committed");
    }
    EXPECT_EQ(Read(folder.File("plan.txt")), "old");
    EXPECT_EQ(Names(folder.Path()), std::vector<std::string>{"plan.txt"});

    SaveFileSafely(folder.File("plan.txt"), std::string(200000, 'x'));
    EXPECT_EQ(fs::file_size(folder.File("plan.txt")), 200000u);
    struct stat info {};
    ::stat(folder.File("plan.txt").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// Catches: a second lock on a held folder granted, or one never released.
TEST(FolderLock, ExcludesASecondHolderUntilReleased) {
    Folder folder;
    TVemo_folderlock first;
    TVemo_folderlock second;
    ASSERT_TRUE(first.Lock(folder.Path(), TVemo_folderlock::Mode::FailIfBusy));
    EXPECT_FALSE(second.Lock(folder.Path(), TVemo_folderlock::Mode::FailIfBusy));
    EXPECT_FALSE(second.IsHeld());
    TVemo_folderlock moved = std::move(first);
    EXPECT_FALSE(second.Lock(folder.Path(), TVemo_folderlock::Mode::FailIfBusy));
    moved.Unlock();
    EXPECT_TRUE(second.Lock(folder.Path(), TVemo_folderlock::Mode::Wait));
    EXPECT_EQ(second.Folder(), folder.Path());
    EXPECT_THROW(TVemo_folderlock().Lock(folder.File("missing"), TVemo_folderlock::Mode::Wait), FileError);
}

// Catches: a run stopped (Ctrl-C) while it waits for a folder's lock
// waiting on until the other run ends, or for ever.
TEST(FolderLock, AWaitEndsWithTheRunWhenItIsStopped) {
    static CancelFlag stop;
    struct sigaction action {};
    action.sa_handler = [](int) { stop.Request(); };  // as vemo-trace's handler: no SA_RESTART
    sigemptyset(&action.sa_mask);
    struct sigaction before {};
    ASSERT_EQ(::sigaction(SIGALRM, &action, &before), 0);
    Folder folder;
    TVemo_folderlock other;
    ASSERT_TRUE(other.Lock(folder.Path(), TVemo_folderlock::Mode::FailIfBusy));
    TVemo_folderlock waiting;
    ::alarm(1);
    EXPECT_THROW(waiting.Lock(folder.Path(), TVemo_folderlock::Mode::Wait, &stop), RunCancelled);
    EXPECT_FALSE(waiting.IsHeld());
    ::sigaction(SIGALRM, &before, nullptr);
}

// Catches: progress reported for every checkpoint instead of once per per
// cent (a callback per square would cost the window a queued event each),
// a scope left active after it ends, and a stop not noticed.
TEST(RunControl, CheckpointsReportEachPercentOnceAndStopWhenAsked) {
    std::vector<int> reported;
    RunCheckpoint(5, 10);  // no scope: nothing happens
    CancelFlag stop;
    {
        RunScope scope(&stop, [&](int percent) { reported.push_back(percent); });
        for (int i = 0; i <= 1000; ++i) RunCheckpoint(i, 1000);
        EXPECT_EQ(reported.size(), 101u);
        scope.NewStep();
        RunCheckpoint(20, 10);  // past the end: 100, not 200
        RunCheckpoint(3, 0);    // nothing to do counts as done
        EXPECT_EQ(std::vector<int>(reported.end() - 2, reported.end()), (std::vector<int>{0, 100}));
        stop.Request();
        EXPECT_THROW(RunCheckpoint(1, 2), RunCancelled);
    }
    EXPECT_EQ(RunScope::Current(), nullptr);
    EXPECT_NO_THROW(RunCheckpoint(1, 2));
}

// Catches: the edge cases on which the old hand-written splits disagreed.
TEST(Path, SplitsIntoFolderNameStemAndExtension) {
    struct Case {
        const char* path;
        const char* folder;
        const char* name;
        const char* stem;
        const char* extension;
    };
    const Case cases[] = {
        {"x/y/plan.bmp", "x/y", "plan.bmp", "plan", ".bmp"},
        {"/plan.BMP", "/", "plan.BMP", "plan", ".BMP"},
        {"plan.tar.gz", "", "plan.tar.gz", "plan.tar", ".gz"},
        {"x.d/plan", "x.d", "plan", "plan", ""},
        {"x/.profile", "x", ".profile", "", ".profile"},
        {"x/plan.", "x", "plan.", "plan", "."},
        {"x/", "x", "", "", ""},
    };
    for (const Case& c : cases) {
        const PathParts parts = SplitPath(c.path);
        EXPECT_EQ(parts.folder, c.folder) << c.path;
        EXPECT_EQ(parts.name, c.name) << c.path;
        EXPECT_EQ(parts.stem, c.stem) << c.path;
        EXPECT_EQ(parts.extension, c.extension) << c.path;
    }
    EXPECT_EQ(JoinPath("", "temp.lix"), "temp.lix");
    EXPECT_EQ(JoinPath("/", "temp.lix"), "/temp.lix");
    EXPECT_EQ(JoinPath("x", "temp.lix"), "x/temp.lix");
    EXPECT_EQ(DirectoryOf("plan.bmp"), ".");
}

}  // namespace
