// Profile-file layer: lookups, minimal edits that keep every other byte,
// line endings, the value cap and saves that never lose the file.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include "common/Vemo_profile.h"
#include "test_support.h"

namespace {

const char* kHandWritten =
    "; settings written by hand\n"
    "[System]\n"
    "  defdata =  /scans/plan.bmp  \n"
    "DEFFLD=/out\n"
    "\n"
    "[Extra]\n"
    "KEEP=me ; as is\n"
    "[SYSTEM]\n"
    "DEFDATA=second section is never used\n";

TEST(ProfileLookup, MatchesNamesWithoutCaseAndTrimsWhiteSpace) {
    const auto document = ProfileDocument::Parse(kHandWritten);
    EXPECT_EQ(document.Get("SYSTEM", "DEFDATA"), "/scans/plan.bmp");
    EXPECT_EQ(document.Get("system", "deffld"), "/out");
    EXPECT_EQ(document.Get("EXTRA", "keep"), "me ; as is");
}

TEST(ProfileLookup, MissingKeysSectionsAndCommentsReadAsEmpty) {
    const auto document = ProfileDocument::Parse("KEY=outside any section\n[A]\n;KEY=commented\nOTHER=1\n");
    EXPECT_EQ(document.Get("A", "KEY"), "");
    EXPECT_EQ(document.Get("A", "MISSING"), "");
    EXPECT_EQ(document.Get("B", "OTHER"), "");
    EXPECT_EQ(document.Get("", "KEY"), "");
    EXPECT_EQ(ProfileDocument::Parse("").Get("A", "OTHER"), "");
}

TEST(ProfileLookup, FirstMatchingKeyWins) {
    EXPECT_EQ(ProfileDocument::Parse("[A]\nK=1\nk=2\n").Get("A", "K"), "1");
}

TEST(ProfileLookup, ValueIsCutAt1023Bytes) {
    const std::string longValue(2000, 'x');
    EXPECT_EQ(ProfileDocument::Parse("[A]\nK=" + longValue + "\n").Get("A", "K"), std::string(1023, 'x'));
    // A cut never leaves half a UTF-8 character behind.
    const std::string japanese = std::string(1022, 'x') + "線";
    EXPECT_EQ(ProfileDocument::Parse("[A]\nK=" + japanese + "\n").Get("A", "K"), std::string(1022, 'x'));
}

TEST(ProfileEdit, ReplacesTheFirstMatchingValueInPlaceAndKeepsEverythingElse) {
    auto document = ProfileDocument::Parse(kHandWritten);
    document.Set("SYSTEM", "DEFDATA", "/new.bmp");
    const std::string expected =
        "; settings written by hand\n"
        "[System]\n"
        "  defdata =/new.bmp\n"
        "DEFFLD=/out\n"
        "\n"
        "[Extra]\n"
        "KEEP=me ; as is\n"
        "[SYSTEM]\n"
        "DEFDATA=second section is never used\n";
    EXPECT_EQ(document.Text(), expected);
}

TEST(ProfileEdit, AddsMissingKeyAtTheEndOfItsSectionAndMissingSectionAtTheEnd) {
    auto document = ProfileDocument::Parse(kHandWritten);
    document.Set("SYSTEM", "PIXSTEP", "1");
    document.Set("CV3FLG", "XRATIO", "2.500");
    document.Set("CV3FLG", "YRATIO", "");
    const std::string expected =
        "; settings written by hand\n"
        "[System]\n"
        "  defdata =  /scans/plan.bmp  \n"
        "DEFFLD=/out\n"
        "PIXSTEP=1\n"
        "\n"
        "[Extra]\n"
        "KEEP=me ; as is\n"
        "[SYSTEM]\n"
        "DEFDATA=second section is never used\n"
        "[CV3FLG]\n"
        "XRATIO=2.500\n"
        "YRATIO=\n";
    EXPECT_EQ(document.Text(), expected);
}

TEST(ProfileEdit, KeepsCrLfLineEndingsAndTerminatesAnOpenLastLine) {
    auto crlf = ProfileDocument::Parse("[A]\r\nK=1\r\n[B]\r\nL=2");
    crlf.Set("A", "K", "3");
    crlf.Set("B", "M", "4");
    crlf.Set("C", "N", "5");
    EXPECT_EQ(crlf.Text(), "[A]\r\nK=3\r\n[B]\r\nL=2\r\nM=4\r\n[C]\r\nN=5\r\n");

    auto lf = ProfileDocument::Parse("[A]\nK=1");
    lf.Set("A", "J", "2");
    EXPECT_EQ(lf.Text(), "[A]\nK=1\nJ=2\n");

    auto empty = ProfileDocument::Parse("");
    empty.Set("A", "K", "1");
    EXPECT_EQ(empty.Text(), "[A]\nK=1\n");
}

TEST(ProfileEdit, LineBreaksInAValueNeverCreateASecondKey) {
    auto document = ProfileDocument::Parse("[A]\nK=1\n");
    document.Set("A", "K", "x\nEVIL=1\r\n");
    EXPECT_EQ(document.Text(), "[A]\nK=xEVIL=1\n");
    EXPECT_EQ(document.Get("A", "EVIL"), "");
}

TEST(ProfileSave, ReplacesTheFileWholeAndKeepsItsPermissions) {
    TempFolder folder;
    const std::string path = folder.File("Vemo.sys");
    WriteFile(path, "[A]\nK=1\n");
    chmod(path.c_str(), 0640);
    auto document = ProfileDocument::Parse(ReadFile(path));
    document.Set("A", "K", "2");
    std::string error;
    ASSERT_TRUE(document.Save(path, error)) << error;
    EXPECT_EQ(ReadFile(path), "[A]\nK=2\n");
    struct stat info {};
    stat(path.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(FilesIn(folder.Path()).size(), 1u) << "no temporary file may stay behind";
}

TEST(ProfileSave, AFullDiskLeavesTheOldFileWholeAndSaysWhy) {
    TempFolder folder;
    const std::string path = folder.File("Vemo.sys");
    const std::string old = "[A]\nK=1\n";
    WriteFile(path, old);
    auto document = ProfileDocument::Parse(old);
    document.Set("A", "K", std::string(4096, 'y'));

    // A file size limit fails the write the way a full disk does, even for root.
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    std::string error;
    const bool saved_ok = document.Save(path, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved_ok);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(FilesIn(folder.Path()).size(), 1u) << "the temporary file is removed";
}

TEST(ProfileSave, AnUnreadableFileIsNeverSavedOver) {
    TempFolder folder;
    ProfileDocument document;
    std::string error;
    // A folder where the file should be: it exists but cannot be read as one.
    std::filesystem::create_directory(folder.File("Vemo.sys"));
    EXPECT_FALSE(ProfileDocument::Load(folder.File("Vemo.sys"), document, error));
    EXPECT_FALSE(error.empty());
    // A missing file is simply empty.
    EXPECT_TRUE(ProfileDocument::Load(folder.File("missing.sys"), document, error));
    EXPECT_EQ(document.Text(), "");
}

}  // namespace
