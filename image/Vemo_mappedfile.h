// Vemo_mappedfile: files read with plain reads, for the decoders.
//
// Files are read, not mapped: a mapped file that another process shortens
// while it is decoded kills the reader with SIGBUS, where a read simply
// ends early, and a short file is what the decoders report as cut off.
// ReadOnlyFile reads pieces at given offsets (the image loader streams a
// BMP's rows through a small buffer with it); MappedFile reads a whole file
// into memory (the base image, run-length data and the plug-ins). Header-
// only, so the plug-ins need no part of the host library.
//
// Reads: the named file. Writes: nothing. On failure Error() holds the
// system's reason.
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

class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0) {
            m_error = std::strerror(errno);
            return;
        }
        struct stat info {};
        if (::fstat(m_fd, &info) != 0) {
            m_error = std::strerror(errno);
        } else if (!S_ISREG(info.st_mode)) {
            m_error = std::strerror(EINVAL);
        } else {
            m_size = static_cast<uint64_t>(info.st_size);
        }
    }
    ~ReadOnlyFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // False once opening or a read has failed.
    bool IsOpen() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    // The size when the file was opened: a file that grows later is taken
    // at this size.
    uint64_t Size() const { return m_size; }

    // Reads up to `bytes` bytes from `offset` into `into` and returns how
    // many it read: fewer where the file ends (it may have shrunk since it
    // was opened) or when the system fails the read (then Error() says why).
    std::size_t ReadAt(uint64_t offset, uint8_t* into, std::size_t bytes) {
        if (!IsOpen() || offset >= m_size) return 0;
        if (bytes > m_size - offset) bytes = static_cast<std::size_t>(m_size - offset);
        std::size_t done = 0;
        while (done < bytes) {
            const ssize_t got = ::pread(m_fd, into + done, bytes - done, static_cast<off_t>(offset + done));
            if (got == 0) break;
            if (got < 0) {
                if (errno == EINTR) continue;
                m_error = std::strerror(errno);
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

private:
    int m_fd = -1;
    uint64_t m_size = 0;
    std::string m_error;
};

class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        ReadOnlyFile file(path);
        // An empty file gives an empty span without error: the decoders
        // then report it as too short, which is the more useful message.
        if (file.IsOpen() && file.Size() > 0) Read(file);
        if (m_error.empty()) m_error = file.Error();
        if (!m_error.empty()) {
            m_bytes.reset();
            m_size = 0;
        }
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool IsOpen() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    std::span<const uint8_t> Data() const { return {m_bytes.get(), m_size}; }

private:
    // Up to the size the file had when it was opened: a file that shrank
    // meanwhile gives fewer bytes.
    void Read(ReadOnlyFile& file) {
        const std::size_t expected = static_cast<std::size_t>(file.Size());
        m_bytes.reset(new (std::nothrow) uint8_t[expected]);
        if (!m_bytes) {
            m_error = std::strerror(ENOMEM);
            return;
        }
        m_size = file.ReadAt(0, m_bytes.get(), expected);
    }

    std::unique_ptr<uint8_t[]> m_bytes;
    std::size_t m_size = 0;
    std::string m_error;
};
