// Vemo_privatefolder: a run's own folder for the intermediate files.
#include "cli/Vemo_privatefolder.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Vemo_safefile.h"
#include "trace/Vemotrace_records.h"

namespace {

const char* const kIntermediateNames[] = {records::kSquaresFileName, records::kGroupsFileName,
                                         records::kPointsFileName, records::kLinesFileName};

// The current private folder, for the signal handler.
char g_privateFolder[PATH_MAX];
volatile sig_atomic_t g_privateFolderSet = 0;

void RemovePrivateFolderOnSignal(int signalNumber) {
    TVemo_privatefolder::RemoveNow();
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

std::string TemporaryFolder() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    return error ? std::string("/tmp") : folder.string();
}

bool IsPrivateFolderName(std::string_view name) {
    const std::string_view prefix = TVemo_privatefolder::kNamePrefix;
    return name.size() == prefix.size() + 6 && name.starts_with(prefix);
}

// Empties and removes the folder `name` of `parent` when it was left behind.
void RemoveIfAbandoned(int parent, const char* name) {
    struct stat before {};
    if (::fstatat(parent, name, &before, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(before.st_mode) ||
        before.st_uid != ::geteuid() || std::time(nullptr) - before.st_mtime < TVemo_privatefolder::kAbandonedAfterSeconds) {
        return;
    }
    const int folder = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return;
    struct stat opened {};
    // A living run holds its folder's lock; the lock taken here is dropped
    // with the descriptor, after the folder is gone.
    if (::fstat(folder, &opened) != 0 || opened.st_ino != before.st_ino || opened.st_dev != before.st_dev ||
        ::flock(folder, LOCK_EX | LOCK_NB) != 0) {
        ::close(folder);
        return;
    }
    const int listingFd = ::dup(folder);
    if (DIR* listing = listingFd < 0 ? nullptr : ::fdopendir(listingFd)) {
        while (const dirent* entry = ::readdir(listing)) {
            const std::string_view entryName(entry->d_name);
            // unlinkat never follows a link: a planted link goes, its target stays.
            if (entryName != "." && entryName != "..") ::unlinkat(folder, entry->d_name, 0);
        }
        ::closedir(listing);
    } else if (listingFd >= 0) {
        ::close(listingFd);
    }
    ::unlinkat(parent, name, AT_REMOVEDIR);
    ::close(folder);
}

}  // namespace

void RemoveAbandonedPrivateFolders(const std::string& tempFolder) {
    DIR* listing = ::opendir(tempFolder.c_str());
    if (listing == nullptr) return;
    while (const dirent* entry = ::readdir(listing)) {
        if (IsPrivateFolderName(entry->d_name)) RemoveIfAbandoned(::dirfd(listing), entry->d_name);
    }
    ::closedir(listing);
}

TVemo_privatefolder::TVemo_privatefolder() {
    const std::string parent = TemporaryFolder();
    RemoveAbandonedPrivateFolders(parent);
    std::string pattern = parent + "/" + kNamePrefix + "XXXXXX";
    if (pattern.size() >= PATH_MAX) {
        m_path = pattern;
        m_error = std::strerror(ENAMETOOLONG);
        return;
    }
    if (::mkdtemp(pattern.data()) == nullptr) {
        m_path = pattern;
        m_error = std::strerror(errno);
        return;
    }
    m_path = pattern;
    try {
        m_lock.Lock(m_path, TVemo_folderlock::Mode::Wait);
    } catch (const std::exception&) {
        // Unlocked, the folder is still ours; only a sweep a minute from
        // now could mistake it for a leftover.
    }
    std::memcpy(g_privateFolder, m_path.c_str(), m_path.size() + 1);
    g_privateFolderSet = 1;
}

TVemo_privatefolder::~TVemo_privatefolder() {
    if (!m_error.empty()) return;
    g_privateFolderSet = 0;
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
    m_lock.Unlock();
}

void TVemo_privatefolder::RemoveNow() noexcept {
    // The output files being saved first: they stand in the user's folder.
    RemoveUnfinishedSaves();
    if (g_privateFolderSet == 0) return;
    char path[PATH_MAX + 16];
    for (const char* name : kIntermediateNames) {
        // Only async-signal-safe calls here: no snprintf, no allocation.
        std::size_t length = 0;
        for (const char* c = g_privateFolder; *c != '\0' && length < PATH_MAX; ++c) path[length++] = *c;
        path[length++] = '/';
        for (const char* c = name; *c != '\0'; ++c) path[length++] = *c;
        path[length] = '\0';
        ::unlink(path);
    }
    ::rmdir(g_privateFolder);
}

void TVemo_privatefolder::CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = RemovePrivateFolderOnSignal;
    // One clean-up at a time: a second stop signal waits for the first
    // handler, which ends the process.
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signalNumber);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signalNumber, &action, nullptr);
}
