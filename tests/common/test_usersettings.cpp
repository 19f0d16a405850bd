// Per-user settings: an installed system folder's Vemo.sys is never
// written; each user reads and writes a copy of their own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "common/Vemo_sys.h"
#include "common/Vemo_usersettings.h"
#include "ordinary_user.h"
#include "test_support.h"

namespace {

constexpr const char* kInstalled = "[SYSTEM]\nDEFDATA=\nBASBMP=Vemo_base.bmp\n[SPINAME]\nTIFSPI=vemo_tiff.spi\n";

// A system folder as the package installs it: Vemo.sys read-only for all.
struct InstalledTree {
    TempFolder folder;
    std::string system = folder.File("lib/Vemosys");
    std::string config = folder.File("config");
    InstalledTree() {
        std::filesystem::create_directories(system);
        WriteFile(system + "/Vemo.sys", kInstalled);
        ::chmod((system + "/Vemo.sys").c_str(), 0444);
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    std::string UserFile() const { return config + "/vemo/Vemo.sys"; }
};

SettingsRecord Edited(SettingsRecord record, const std::string& image) {
    record.defData = image;
    record.xAxis = "1";
    return record;
}

// Catches: the installed file rewritten at close (every user overwriting
// one file, root changing a packaged file), or the copy made anywhere but
// the user's config folder.
TEST(UserSettings, AnInstalledFileIsCopiedOnFirstUseAndNeverWritten) {
    InstalledTree tree;
    std::vector<std::string> messages;
    TVemo_sysF settings(tree.system, [&](const std::string& text) { messages.push_back(text); });
    ASSERT_TRUE(settings.UsesUserSettings());
    EXPECT_EQ(settings.SettingsPath(), tree.UserFile());
    ASSERT_EQ(settings.CheckSettingsFile(), 0);
    EXPECT_EQ(ReadFile(tree.UserFile()), kInstalled);

    EXPECT_EQ(settings.GetSettings().basBmp, "Vemo_base.bmp");
    ASSERT_EQ(settings.SaveSettings(Edited(settings.GetSettings(), "/scans/a.bmp")), 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(ReadFile(tree.system + "/Vemo.sys"), kInstalled);
    EXPECT_NE(ReadFile(tree.UserFile()).find("DEFDATA=/scans/a.bmp"), std::string::npos);
    // The system folder still gives the base image and plug-ins.
    EXPECT_EQ(settings.SystemFolder(), tree.system);

    struct stat info {};
    ASSERT_EQ(::stat((tree.config + "/vemo").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(tree.UserFile().c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IWUSR, 0u) << "the copy must be writable, not read-only like the installed file";

    // A second run reads the user's copy, not the installed one.
    TVemo_sysF again(tree.system, MessageSink{});
    ASSERT_EQ(again.CheckSettingsFile(), 0);
    EXPECT_EQ(again.GetSettings().defData, "/scans/a.bmp");
}

// Catches: one user's close changing another user's settings.
TEST(UserSettings, TwoUsersKeepSeparateSettings) {
    InstalledTree tree;
    const std::string other = tree.folder.File("other-config");
    TVemo_sysF first(tree.system, MessageSink{});
    ASSERT_EQ(first.CheckSettingsFile(), 0);
    ::setenv("XDG_CONFIG_HOME", other.c_str(), 1);
    TVemo_sysF second(tree.system, MessageSink{});
    ASSERT_EQ(second.CheckSettingsFile(), 0);

    ASSERT_EQ(first.SaveSettings(Edited(first.GetSettings(), "/first.bmp")), 0);
    EXPECT_EQ(ReadFile(other + "/vemo/Vemo.sys"), kInstalled);
    ASSERT_EQ(second.SaveSettings(Edited(second.GetSettings(), "/second.bmp")), 0);
    EXPECT_NE(ReadFile(tree.UserFile()).find("DEFDATA=/first.bmp"), std::string::npos);
    EXPECT_NE(ReadFile(other + "/vemo/Vemo.sys").find("DEFDATA=/second.bmp"), std::string::npos);
}

// Catches: a per-user folder made in a writable tree (the build tree, a
// private copy), where everything must behave as it always has.
TEST(UserSettings, AWritableSystemFileIsUsedAsItIs) {
    InstalledTree tree;
    ::chmod((tree.system + "/Vemo.sys").c_str(), 0644);
    TVemo_sysF settings(tree.system, MessageSink{});
    EXPECT_FALSE(settings.UsesUserSettings());
    ASSERT_EQ(settings.CheckSettingsFile(), 0);
    ASSERT_EQ(settings.SaveSettings(Edited(settings.GetSettings(), "/b.bmp")), 0);
    EXPECT_NE(ReadFile(tree.system + "/Vemo.sys").find("DEFDATA=/b.bmp"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(tree.config));
}

// Catches: a relative XDG_CONFIG_HOME (which the XDG rules say to ignore)
// taken relative to whatever folder the program was started in.
TEST(UserSettings, FolderComesFromXdgConfigHomeOrElseHome) {
    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(UserSettingsFolder(), "/cfg/vemo");
    for (const char* ignored : {"", "relative/cfg"}) {
        ::setenv("XDG_CONFIG_HOME", ignored, 1);
        EXPECT_EQ(UserSettingsFolder(), "/home/someone/.config/vemo") << ignored;
    }
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserSettingsFolder(), "/home/someone/.config/vemo");
}

// Catches: a damaged or unusable copy silently replaced by the installed
// file (the user's settings lost) or read as empty without a word.
TEST(UserSettings, AnUnusableCopyIsReportedByNameAndLeftAlone) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> spoil;
    };
    const std::string binary("DEFDATA=\0\0\x01\x02", 12);
    const Case cases[] = {
        {"binary", [&](const std::string& path) { WriteFile(path, binary); }},
        {"folder", [](const std::string& path) { std::filesystem::create_directories(path); }},
        {"too large", [](const std::string& path) { WriteFile(path, std::string(2 << 20, ';')); }},
    };
    for (const Case& c : cases) {
        InstalledTree tree;
        std::filesystem::create_directories(tree.config + "/vemo");
        c.spoil(tree.UserFile());
        std::vector<std::string> messages;
        TVemo_sysF settings(tree.system, [&](const std::string& text) { messages.push_back(text); });
        EXPECT_EQ(settings.CheckSettingsFile(), 1) << c.name;
        ASSERT_EQ(messages.size(), 1u) << c.name;
        EXPECT_NE(messages[0].find(tree.UserFile()), std::string::npos) << messages[0];
        if (std::string_view(c.name) == "binary") {
            EXPECT_EQ(ReadFile(tree.UserFile()), binary);
        }
    }
}

// Catches: an unreadable copy taken for a missing one and replaced, or a
// config folder the user cannot write to ending in a crash.
TEST(UserSettings, AnUnreadableCopyOrFolderIsReportedAsAnOrdinaryUser) {
    InstalledTree tree;
    std::filesystem::create_directories(tree.config + "/vemo");
    WriteFile(tree.UserFile(), "[SYSTEM]\nDEFDATA=/mine.bmp\n");
    const std::string blocked = tree.folder.File("blocked");
    std::filesystem::create_directories(blocked);
    EXPECT_TRUE(RunAsOrdinaryUser(tree.folder.Path(), [&] {
        ::chmod(tree.UserFile().c_str(), 0);
        ::chmod(blocked.c_str(), 0500);
        for (const std::string& config : {tree.config, blocked}) {
            ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            std::vector<std::string> messages;
            TVemo_sysF settings(tree.system, [&](const std::string& text) { messages.push_back(text); });
            EXPECT_EQ(settings.CheckSettingsFile(), 1) << config;
            EXPECT_EQ(messages.size(), 1u) << config;
            if (!messages.empty()) {
                EXPECT_NE(messages[0].find(config + "/vemo/Vemo.sys"), std::string::npos);
            }
        }
        ::chmod(tree.UserFile().c_str(), 0600);
        EXPECT_EQ(ReadFile(tree.UserFile()), "[SYSTEM]\nDEFDATA=/mine.bmp\n");
        return !::testing::Test::HasFailure();
    }));
}

// Catches: two first starts at once leaving a half-written copy, or one
// of them failing because the other made the file first.
TEST(UserSettings, FirstStartsAtOnceMakeOneWholeCopy) {
    InstalledTree tree;
    std::vector<pid_t> children;
    for (int i = 0; i < 6; ++i) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::_exit(PrepareUserSettings(tree.system + "/Vemo.sys", tree.UserFile()).empty() ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(ReadFile(tree.UserFile()), kInstalled);
    EXPECT_EQ(FilesIn(tree.config + "/vemo").size(), 1u) << "no temporary file is left behind";
}

}  // namespace
