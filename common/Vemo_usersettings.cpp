// Vemo_usersettings: where each user's settings file lies, and its making
// from the installed one on first use.
#include "common/Vemo_usersettings.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Vemo_fileerror.h"
#include "base/Vemo_path.h"

namespace {

constexpr const char* kUserFolderName = "vemo";
// A settings file is a few hundred bytes; one far larger is no settings file.
constexpr off_t kMaxSettingsSize = 1 << 20;

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); IsAbsolute(home)) return home;
    if (const passwd* user = ::getpwuid(::geteuid()); user != nullptr && IsAbsolute(user->pw_dir)) return user->pw_dir;
    return {};
}

// mkdir -p with mode 0700 for the folders it makes.
std::string MakeFolders(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? std::string() : SystemReason(ENOTDIR);
    const std::string parent = DirectoryOf(folder);
    if (parent != folder && !parent.empty()) {
        if (std::string reason = MakeFolders(parent); !reason.empty()) return reason;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return SystemReason(errno);
    return {};
}

// Reads at most kMaxSettingsSize + 1 bytes; false with `reason` on failure.
bool ReadSmallFile(const std::string& path, std::string& contents, std::string& reason) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        reason = SystemReason(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        reason = S_ISDIR(info.st_mode) ? SystemReason(EISDIR) : "not a regular file";
        ::close(fd);
        return false;
    }
    char buffer[4096];
    contents.clear();
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            reason = SystemReason(errno);
            ::close(fd);
            return false;
        }
        if (got == 0) break;
        contents.append(buffer, static_cast<std::size_t>(got));
        if (contents.size() > static_cast<std::size_t>(kMaxSettingsSize)) break;
    }
    ::close(fd);
    return true;
}

std::string CheckUserCopy(const std::string& userPath) {
    std::string contents;
    std::string reason;
    if (!ReadSmallFile(userPath, contents, reason)) return reason;
    if (contents.size() > static_cast<std::size_t>(kMaxSettingsSize)) return "too large for a settings file";
    if (contents.find('\0') != std::string::npos) return "damaged: it holds binary data";
    return {};
}

// Writes `contents` to a new file beside `userPath` and links it in place
// only when nothing is there yet: a copy made meanwhile by another process
// of the same user wins, and neither is ever half written.
std::string PlaceCopy(const std::string& userPath, const std::string& contents) {
    std::string temporary = userPath + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return SystemReason(errno);
    std::size_t done = 0;
    int error = 0;
    while (done < contents.size() && error == 0) {
        const ssize_t written = ::write(fd, contents.data() + done, contents.size() - done);
        if (written < 0 && errno != EINTR) error = errno;
        if (written > 0) done += static_cast<std::size_t>(written);
    }
    if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::link(temporary.c_str(), userPath.c_str()) != 0 && errno != EEXIST) {
        // A file system without hard links: renamed instead. A copy made
        // meanwhile is then replaced, but only by the same bytes.
        error = (errno == EPERM || errno == ENOTSUP || errno == ENOSYS) && ::rename(temporary.c_str(), userPath.c_str()) == 0
                    ? 0
                    : errno;
    }
    ::unlink(temporary.c_str());
    return error == 0 ? std::string() : SystemReason(error);
}

}  // namespace

std::string UserSettingsFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); IsAbsolute(config)) {
        return JoinPath(config, kUserFolderName);
    }
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    return JoinPath(JoinPath(home, ".config"), kUserFolderName);
}

bool IsInstalledSettingsFile(const std::string& installedPath) {
    struct stat info {};
    if (::stat(installedPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
    return ::access(installedPath.c_str(), W_OK) != 0;
}

std::string PrepareUserSettings(const std::string& installedPath, const std::string& userPath) {
    struct stat info {};
    if (::lstat(userPath.c_str(), &info) == 0 || errno != ENOENT) return CheckUserCopy(userPath);

    if (std::string reason = MakeFolders(DirectoryOf(userPath)); !reason.empty()) return reason;
    std::string contents;
    std::string reason;
    if (!ReadSmallFile(installedPath, contents, reason)) return installedPath + ": " + reason;
    if (reason = PlaceCopy(userPath, contents); !reason.empty()) return reason;
    return CheckUserCopy(userPath);
}
