// Vemotrace_records: the intermediate files of a trace and their records.
//
// Every intermediate file is a raw sequence of fixed-size little-endian
// records, without header or terminator:
//
//   temp.sqr  squares   16 bytes: int32 index, int32 x, int32 y, int32 size
//   temp.sqo  members    8 bytes: int32 group, int32 square
//   temp.pxy  points    16 bytes: double x, double y (image pixels)
//   temp.lix  links      8 bytes: int32 lower point, int32 higher point
//             and, after stage 5, polylines: int32 n, then n x (double x,
//             double y)
//
// Values are packed byte by byte, never by writing a struct whole, so the
// files are the same on every host. A file that cannot be created, read or
// written raises FileError naming the file and the system's reason: a
// short or missing file is never taken for a smaller drawing.
//
// The files lie in folders other users may write to, so they are opened
// without following a symbolic link and must be regular files with a
// single name: a link planted at temp.lix must not make a trace overwrite
// the file it points to.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/Vemo_fileerror.h"

namespace records {

inline constexpr std::size_t kSquareRecordSize = 16;
inline constexpr std::size_t kMemberRecordSize = 8;
inline constexpr std::size_t kPointRecordSize = 16;
inline constexpr std::size_t kLinkRecordSize = 8;
inline constexpr std::size_t kPolylineCountSize = 4;
inline constexpr std::size_t kVertexSize = 16;

inline constexpr const char* kSquaresFileName = "temp.sqr";
inline constexpr const char* kGroupsFileName = "temp.sqo";
inline constexpr const char* kPointsFileName = "temp.pxy";
inline constexpr const char* kLinesFileName = "temp.lix";

// Inline: the stages pack and unpack millions of values, and the byte
// loops compile to single loads and stores on little-endian hosts.
inline void PutInt32(uint8_t* to, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) to[i] = static_cast<uint8_t>(bits >> (8 * i));
}

inline void PutDouble(uint8_t* to, double value) {
    const auto bits = std::bit_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i) to[i] = static_cast<uint8_t>(bits >> (8 * i));
}

inline int32_t GetInt32(const uint8_t* from) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(from[i]) << (8 * i);
    return static_cast<int32_t>(bits);
}

inline double GetDouble(const uint8_t* from) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(from[i]) << (8 * i);
    return std::bit_cast<double>(bits);
}

}  // namespace records

// Writes records to one file through a buffer. Nothing touches the disk
// until Open; every failure, including one only seen when the buffer is
// flushed or the file closed (a full disk), throws FileError.
class RecordWriter {
public:
    explicit RecordWriter(std::string path);
    ~RecordWriter();  // closes quietly if an error left the file open
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    void Open();  // creates or empties the file
    void PutInt32(int32_t value) {
        Reserve(4);
        records::PutInt32(m_buffer.get() + m_used, value);
        m_used += 4;
    }
    void PutDouble(double value) {
        Reserve(8);
        records::PutDouble(m_buffer.get() + m_used, value);
        m_used += 8;
    }
    void Close();  // flushes and closes; a no-op when never opened
    const std::string& Path() const { return m_path; }

private:
    // Large enough that a trace of an A0 scan makes few system calls.
    static constexpr std::size_t kWriteBufferSize = std::size_t{1} << 20;

    void Reserve(std::size_t bytes) {
        if (m_file == nullptr || m_used + bytes > kWriteBufferSize) MakeRoom(bytes);
    }
    void MakeRoom(std::size_t bytes);  // opens the file or flushes the buffer
    void Flush();

    std::string m_path;
    std::FILE* m_file = nullptr;
    std::unique_ptr<uint8_t[]> m_buffer;
    std::size_t m_used = 0;
};

// Reads records from one file. The constructor opens the file (FileError
// when it cannot). Strict reads throw FileError when the file ends inside
// the value; TryInt32 and ReadUpTo let lenient readers stop at the end.
class RecordReader {
public:
    explicit RecordReader(std::string path);
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    double Double();
    void ReadExact(uint8_t* to, std::size_t bytes);
    // Reads as many of `bytes` as the file still holds; returns that number.
    std::size_t ReadUpTo(uint8_t* to, std::size_t bytes);
    // False, with `value` untouched, when fewer than 4 bytes are left.
    bool TryInt32(int32_t& value);
    const std::string& Path() const { return m_path; }

private:
    static constexpr std::size_t kReadBufferSize = std::size_t{1} << 16;

    std::string m_path;
    std::FILE* m_file = nullptr;
    std::unique_ptr<char[]> m_readBuffer;  // outlives m_file: closed in the destructor's body
};
