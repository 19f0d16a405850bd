// Vemo_mappedfile: a whole file mapped read-only into memory.
//
// Image files can be gigabytes; mapping them lets the decoders read them
// in place instead of copying them into the heap first. Used by the image
// loader and by the plug-ins (header-only, so the plug-ins need no part of
// the host library).
//
// Reads: the named file. Writes: nothing. On failure Data() is empty and
// Error() holds the system's reason.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
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
            void* address = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (address == MAP_FAILED) {
                m_error = std::strerror(errno);
            } else {
                m_address = address;
                m_size = static_cast<std::size_t>(info.st_size);
            }
        }
        // An empty file maps to an empty span without error: the decoders
        // then report it as too short, which is the more useful message.
        ::close(fd);
    }
    ~MappedFile() {
        if (m_address != nullptr) ::munmap(m_address, m_size);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool IsOpen() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    std::span<const uint8_t> Data() const {
        return {static_cast<const uint8_t*>(m_address), m_address != nullptr ? m_size : 0};
    }

private:
    void* m_address = nullptr;
    std::size_t m_size = 0;
    std::string m_error;
};
