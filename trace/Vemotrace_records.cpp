// Vemotrace_records: little-endian packing and checked, buffered file I/O
// for the intermediate files (layouts in the header).
#include "trace/Vemotrace_records.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/Vemo_texts.h"

namespace {

// Opens an intermediate file (see the header): no links followed, no
// waiting on a pipe, and nothing but a regular file with one name. The
// file is emptied only once it is known to be such a file.
std::FILE* OpenIntermediate(const std::string& path, bool forWriting) {
    const int flags = (forWriting ? O_WRONLY | O_CREAT : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        // A link (ELOOP) or a pipe without a reader (ENXIO): say what it is.
        const int error = errno;
        struct stat what {};
        if (::lstat(path.c_str(), &what) == 0 && !S_ISREG(what.st_mode)) throw FileError(path, texts::ReasonNotAFile(what.st_mode));
        throw FileError(path, SystemReason(error));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw FileError(path, SystemReason(error));
    }
    if (!S_ISREG(info.st_mode) || (forWriting && info.st_nlink > 1)) {
        ::close(fd);
        throw FileError(path, texts::ReasonNotAFile(info.st_mode));
    }
    if (forWriting && info.st_size != 0 && ::ftruncate(fd, 0) != 0) {
        const int error = errno;
        ::close(fd);
        throw FileError(path, SystemReason(error));
    }
    // Regular files never block; the flag only kept a planted pipe from hanging the open.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, forWriting ? "wb" : "rb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        throw FileError(path, SystemReason(error));
    }
    return file;
}

}  // namespace

RecordWriter::RecordWriter(std::string path) : m_path(std::move(path)) {}

RecordWriter::~RecordWriter() {
    if (m_file != nullptr) std::fclose(m_file);
}

void RecordWriter::Open() {
    if (m_file != nullptr) return;
    m_file = OpenIntermediate(m_path, true);
    // Left uninitialised: the block comes as fresh pages that cost nothing
    // until written, so a small file touches only the pages it fills.
    if (!m_buffer) m_buffer.reset(new uint8_t[kWriteBufferSize]);
    m_used = 0;
}

void RecordWriter::MakeRoom(std::size_t bytes) {
    if (m_file == nullptr) Open();
    if (m_used + bytes > kWriteBufferSize) Flush();
}

void RecordWriter::Flush() {
    if (m_used == 0) return;
    errno = 0;
    if (std::fwrite(m_buffer.get(), 1, m_used, m_file) != m_used) {
        throw FileError(m_path, SystemReason(errno != 0 ? errno : EIO));
    }
    m_used = 0;
}

void RecordWriter::Close() {
    if (m_file == nullptr) return;
    Flush();
    errno = 0;
    const bool flushed = std::fflush(m_file) == 0;
    const int flushError = errno;
    std::FILE* file = m_file;
    m_file = nullptr;
    const bool closed = std::fclose(file) == 0;
    if (!flushed) throw FileError(m_path, SystemReason(flushError != 0 ? flushError : EIO));
    if (!closed) throw FileError(m_path, SystemReason(errno != 0 ? errno : EIO));
}

RecordReader::RecordReader(std::string path) : m_path(std::move(path)) {
    m_file = OpenIntermediate(m_path, false);
    // The stages read value by value: a larger buffer than stdio's page
    // saves most of the system calls.
    m_readBuffer.reset(new char[kReadBufferSize]);
    std::setvbuf(m_file, m_readBuffer.get(), _IOFBF, kReadBufferSize);
}

RecordReader::~RecordReader() {
    if (m_file != nullptr) std::fclose(m_file);
}

std::size_t RecordReader::ReadUpTo(uint8_t* to, std::size_t bytes) {
    const std::size_t got = std::fread(to, 1, bytes, m_file);
    if (got < bytes && std::ferror(m_file)) throw FileError(m_path, SystemReason(errno != 0 ? errno : EIO));
    return got;
}

void RecordReader::ReadExact(uint8_t* to, std::size_t bytes) {
    if (ReadUpTo(to, bytes) != bytes) throw FileError(m_path, "the file ends early");
}

bool RecordReader::TryInt32(int32_t& value) {
    uint8_t bytes[4];
    if (ReadUpTo(bytes, sizeof bytes) != sizeof bytes) return false;
    value = records::GetInt32(bytes);
    return true;
}

PolylineReader::PolylineReader(const std::string& path)
    : m_path(path), m_reader(std::make_unique<RecordReader>(path)), m_buffer(kBufferSize), m_data(m_buffer.data()) {}

bool PolylineReader::Fill(std::size_t bytes) {
    if (!m_reader || bytes > m_buffer.size()) return false;
    std::memmove(m_buffer.data(), m_buffer.data() + m_at, m_end - m_at);
    m_end -= m_at;
    m_at = 0;
    while (m_end < bytes) {
        const std::size_t got = m_reader->ReadUpTo(m_buffer.data() + m_end, m_buffer.size() - m_end);
        if (got == 0) return false;
        m_end += got;
    }
    return true;
}
