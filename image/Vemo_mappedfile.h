// Vemo_mappedfile: a whole file read into memory, for the decoders.
//
// The file is read, not mapped: a mapped file that another process
// shortens while it is decoded kills the reader with SIGBUS, where a read
// simply ends early, and a short file is what the decoders report as cut
// off. Used by the image loader and by the plug-ins (header-only, so the
// plug-ins need no part of the host library).
//
// Reads: the named file. Writes: nothing. On failure Data() is empty and
// Error() holds the system's reason.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            m_error = std::strerror(errno);
            return;
        }
        struct stat info {};
        if (::fstat(fd, &info) != 0) {
            m_error = std::strerror(errno);
        } else if (!S_ISREG(info.st_mode)) {
            m_error = std::strerror(EINVAL);
        } else if (info.st_size > 0) {
            Read(fd, static_cast<std::size_t>(info.st_size));
        }
        // An empty file gives an empty span without error: the decoders
        // then report it as too short, which is the more useful message.
        ::close(fd);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool IsOpen() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    std::span<const uint8_t> Data() const { return {m_bytes.get(), m_size}; }

private:
    // Up to `expected` bytes: a file that shrank meanwhile gives fewer, one
    // that grew is taken at the size it had when it was opened.
    void Read(int fd, std::size_t expected) {
        m_bytes.reset(new (std::nothrow) uint8_t[expected]);
        if (!m_bytes) {
            m_error = std::strerror(ENOMEM);
            return;
        }
        while (m_size < expected) {
            const ssize_t got = ::read(fd, m_bytes.get() + m_size, expected - m_size);
            if (got == 0) break;
            if (got < 0) {
                if (errno == EINTR) continue;
                m_error = std::strerror(errno);
                m_bytes.reset();
                m_size = 0;
                return;
            }
            m_size += static_cast<std::size_t>(got);
        }
    }

    std::unique_ptr<uint8_t[]> m_bytes;
    std::size_t m_size = 0;
    std::string m_error;
};
