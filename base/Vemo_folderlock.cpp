// Vemo_folderlock: the flock on a folder (see the header).
#include "base/Vemo_folderlock.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "base/Vemo_fileerror.h"
#include "base/Vemo_runcontrol.h"

TVemo_folderlock::~TVemo_folderlock() { Unlock(); }

TVemo_folderlock::TVemo_folderlock(TVemo_folderlock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_folder(std::move(other.m_folder)) {}

TVemo_folderlock& TVemo_folderlock::operator=(TVemo_folderlock&& other) noexcept {
    if (this != &other) {
        Unlock();
        m_fd = std::exchange(other.m_fd, -1);
        m_folder = std::move(other.m_folder);
    }
    return *this;
}

bool TVemo_folderlock::Lock(const std::string& folder, Mode mode, const CancelFlag* cancel) {
    Unlock();
    const std::string path = folder.empty() ? std::string(".") : folder;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw FileError(path, SystemReason(errno));
    const int operation = LOCK_EX | (mode == Mode::FailIfBusy ? LOCK_NB : 0);
    int result;
    do {
        result = ::flock(fd, operation);
        if (result != 0 && errno == EINTR && cancel != nullptr && cancel->IsRequested()) {
            ::close(fd);
            throw RunCancelled();
        }
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            ::close(fd);
            return false;
        }
        if (error != ENOLCK && error != EOPNOTSUPP && error != EBADF) {
            ::close(fd);
            throw FileError(path, SystemReason(error));
        }
        // No flock on this file system: held in name only (see the header).
    }
    m_fd = fd;
    m_folder = folder;
    return true;
}

void TVemo_folderlock::Unlock() {
    if (m_fd < 0) return;
    ::close(m_fd);  // closing the last descriptor releases the flock
    m_fd = -1;
    m_folder.clear();
}
