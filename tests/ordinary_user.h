// Tests of what an ordinary user may not do (write into a read-only folder)
// must also run as root, which may write anywhere and is who runs CI.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs `check` in a child process without root's right to write anywhere
// (as "nobody" when the tests run as root, after handing it `folder` and
// everything in it) and returns what `check` returned. A check that throws
// counts as failed. Inside `check`, gtest's EXPECT_* still print; return
// !::testing::Test::HasFailure() to pass their verdict on.
inline bool RunAsOrdinaryUser(const std::string& folder, const std::function<bool()>& check) {
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (uid == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr) return false;
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            if (::lchown(entry.path().c_str(), uid, gid) != 0) return false;
        }
        if (::chown(folder.c_str(), uid, gid) != 0) return false;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        bool passed = false;
        try {
            if (::getegid() != gid && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0)) ::_exit(3);
            if (::geteuid() != uid && ::setuid(uid) != 0) ::_exit(3);
            passed = check();
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(passed ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
