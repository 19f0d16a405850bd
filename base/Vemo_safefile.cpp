// Vemo_safefile: temporary file, flush, rename (rules in the header).
#include "base/Vemo_safefile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <random>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Vemo_fileerror.h"
#include "base/Vemo_path.h"

namespace {

constexpr std::size_t kBufferSize = 1 << 16;
constexpr const char* kTempSuffix = ".tmp";
constexpr std::size_t kRandomLength = 6;
// Keeps ".vemo-" + name + ".XXXXXX.tmp" within the 255 bytes a name may have.
constexpr std::size_t kNameBytesInTemp = 200;

std::string TempPrefix(const std::string& name) { return ".vemo-" + name.substr(0, kNameBytesInTemp) + "."; }

std::string RandomLetters() {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}() ^
                                           static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                                           static_cast<uint64_t>(::getpid())};
    std::string letters(kRandomLength, 'A');
    for (char& c : letters) c = kLetters[generator() % (sizeof kLetters - 1)];
    return letters;
}

// The temporary files of the saves under way, for RemoveUnfinishedSaves:
// fixed entries, as a signal handler may not allocate. More saves at once
// than entries go unlisted; a signal then leaves their temporary file for
// the next save of that target to remove, as a killed process does.
constexpr int kListedSaves = 32;
enum ListState : int { kFree, kFilling, kListed, kRemoving };
struct ListedSave {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the list is read by a signal handler");
ListedSave g_listedSaves[kListedSaves];

int ListSave(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kListedSaves; ++i) {
        int expected = kFree;
        if (!g_listedSaves[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(g_listedSaves[i].path, path.c_str(), path.size() + 1);
        g_listedSaves[i].state.store(kListed);
        return i;
    }
    return -1;
}

void UnlistSave(int& entry) {
    if (entry < 0) return;
    // An entry a handler is removing stays taken: the process is ending.
    int expected = kListed;
    g_listedSaves[entry].state.compare_exchange_strong(expected, kFree);
    entry = -1;
}

// Holds SIGINT, SIGTERM and SIGHUP back in this thread while the listed
// temporary file and the file system disagree (created, not yet listed;
// unlisted, not yet renamed or removed).
class StopSignalsHeld {
public:
    StopSignalsHeld() {
        sigset_t stop;
        sigemptyset(&stop);
        for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop, signalNumber);
        ::pthread_sigmask(SIG_BLOCK, &stop, &m_previous);
    }
    ~StopSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }
    StopSignalsHeld(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

private:
    sigset_t m_previous;
};

void LockWhole(int fd) {
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// Removes the temporary files of `prefix` in `folder` that no writer holds.
// Best effort: what cannot be removed stays for a later save.
void RemoveLeftovers(const std::string& folder, const std::string& prefix) {
    DIR* directory = ::opendir(folder.empty() ? "." : folder.c_str());
    if (directory == nullptr) return;
    const int directoryFd = ::dirfd(directory);
    const std::size_t wantedLength = prefix.size() + kRandomLength + std::string_view(kTempSuffix).size();
    while (const dirent* entry = ::readdir(directory)) {
        const std::string_view name(entry->d_name);
        if (name.size() != wantedLength || !name.starts_with(prefix) || !name.ends_with(kTempSuffix)) continue;
        const int fd = ::openat(directoryFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Unlinked while locked: a writer that opened it meanwhile sees
            // the link count drop to 0 once it has the lock, and starts over.
            ::unlinkat(directoryFd, entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(directory);
}

void WriteAll(int fd, const std::string& text, const std::string& target) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw FileError(target, SystemReason(errno));
        }
        done += static_cast<std::size_t>(written);
    }
}

void SyncAndClose(int fd, const std::string& target) {
    if (::fsync(fd) != 0 && errno != EINVAL) {
        const int error = errno;
        ::close(fd);
        throw FileError(target, SystemReason(error));
    }
    if (::close(fd) != 0) throw FileError(target, SystemReason(errno));
}

bool IsFolderNotWritable(int error) { return error == EACCES || error == EPERM || error == EROFS; }

}  // namespace

TVemo_safefile::TVemo_safefile(std::string targetPath) : m_target(std::move(targetPath)) {
    struct stat existing {};
    const bool exists = ::stat(m_target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) throw FileError(m_target, SystemReason(EISDIR));
    if (exists && ::access(m_target.c_str(), W_OK) != 0) throw FileError(m_target, SystemReason(errno));

    const PathParts parts = SplitPath(m_target);
    const std::string prefix = TempPrefix(parts.name);
    RemoveLeftovers(parts.folder, prefix);
    if (!CreateTemporary(parts.folder, prefix)) {
        const int error = errno;
        if (!(exists && S_ISREG(existing.st_mode) && IsFolderNotWritable(error))) {
            throw FileError(m_target, SystemReason(error));
        }
        m_inPlace = true;
        return;
    }
    m_buffer.reserve(kBufferSize);
    if (exists && S_ISREG(existing.st_mode)) {
        // Keep the target's permissions; failing that is not worth losing the save.
        (void)::fchmod(m_fd, existing.st_mode & 07777);
    }
}

TVemo_safefile::~TVemo_safefile() {
    if (m_fd >= 0) ::close(m_fd);
    const StopSignalsHeld held;
    UnlistSave(m_listed);
    if (!m_committed && !m_tempPath.empty()) ::unlink(m_tempPath.c_str());
}

bool TVemo_safefile::CreateTemporary(const std::string& folder, const std::string& prefix) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = JoinPath(folder, prefix + RandomLetters() + kTempSuffix);
        int fd = -1;
        int openError = 0;
        {
            const StopSignalsHeld held;
            fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            openError = errno;
            if (fd >= 0) m_listed = ListSave(candidate);
        }
        if (fd < 0) {
            if (openError == EEXIST) continue;
            errno = openError;
            return false;
        }
        LockWhole(fd);
        struct stat info {};
        if (::fstat(fd, &info) == 0 && info.st_nlink == 0) {
            // Another save took it for a leftover in the moment before the
            // lock; its name may be another save's file by now.
            const StopSignalsHeld held;
            UnlistSave(m_listed);
            ::close(fd);
            continue;
        }
        m_fd = fd;
        m_tempPath = std::move(candidate);
        return true;
    }
    errno = EEXIST;
    return false;
}

void TVemo_safefile::Write(std::string_view text) {
    m_buffer.append(text);
    if (!m_inPlace && m_buffer.size() >= kBufferSize) Flush();
}

void TVemo_safefile::Flush() {
    WriteAll(m_fd, m_buffer, m_target);
    m_buffer.clear();
}

void TVemo_safefile::Commit() {
    if (m_committed) return;
    if (m_inPlace) {
        const int fd = ::open(m_target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) throw FileError(m_target, SystemReason(errno));
        try {
            WriteAll(fd, m_buffer, m_target);
        } catch (...) {
            ::close(fd);
            throw;
        }
        SyncAndClose(fd, m_target);
        m_buffer.clear();
        m_committed = true;
        return;
    }
    Flush();
    if (::fsync(m_fd) != 0 && errno != EINVAL) throw FileError(m_target, SystemReason(errno));
    // Renamed while still open and locked, so that no other save takes the
    // finished file for a leftover.
    {
        const StopSignalsHeld held;
        UnlistSave(m_listed);
        if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0) throw FileError(m_target, SystemReason(errno));
    }
    m_committed = true;
    if (::close(std::exchange(m_fd, -1)) != 0) throw FileError(m_target, SystemReason(errno));
}

void SaveFileSafely(const std::string& path, std::string_view contents) {
    TVemo_safefile file(path);
    file.Write(contents);
    file.Commit();
}

void RemoveUnfinishedSaves() noexcept {
    for (ListedSave& save : g_listedSaves) {
        int expected = kListed;
        if (save.state.compare_exchange_strong(expected, kRemoving)) ::unlink(save.path);
    }
}
