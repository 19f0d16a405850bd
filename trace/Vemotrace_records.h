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
// files are the same on every host. The squares file is read only through
// ReadSquares and the polyline form of the lines file only through
// PolylineReader (both below), each caller with its own checks. A file that cannot be created, read or
// written raises FileError naming the file and the system's reason: a
// short or missing file is never taken for a smaller drawing.
//
// The files lie in folders other users may write to, so they are opened
// without following a symbolic link and must be regular files with a
// single name: a link planted at temp.lix must not make a trace overwrite
// the file it points to.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/Vemo_fileerror.h"
#include "trace/Vemotrace_types.h"

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

// Point k of a run of vertex records.
inline Point GetVertex(const uint8_t* from, std::size_t k) {
    const uint8_t* at = from + k * kVertexSize;
    return {GetDouble(at), GetDouble(at + 8)};
}

// Records read at a time: a damaged count in a file or a caller never
// asks for more memory than this many records take.
inline constexpr std::size_t kRecordsPerRead = 4096;

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
// when it cannot). ReadExact throws FileError when the file ends inside
// the bytes asked for; TryInt32 and ReadUpTo let lenient readers stop at
// the end.
class RecordReader {
public:
    explicit RecordReader(std::string path);
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    void ReadExact(uint8_t* to, std::size_t bytes);
    // Reads as many of `bytes` as the file still holds; returns that number.
    std::size_t ReadUpTo(uint8_t* to, std::size_t bytes);
    // False, with `value` untouched, when fewer than 4 bytes are left.
    bool TryInt32(int32_t& value);

private:
    static constexpr std::size_t kReadBufferSize = std::size_t{1} << 16;

    std::string m_path;
    std::FILE* m_file = nullptr;
    std::unique_ptr<char[]> m_readBuffer;  // outlives m_file: closed in the destructor's body
};

// One record of temp.sqr. The index field at offset 0 repeats the record's
// position and is not read.
struct SquareRecord {
    int32_t x = 0;     // column of the leftmost pixels
    int32_t y = 0;     // row of the topmost pixels
    int32_t size = 0;  // side length in pixels, as stored (not checked here)
};

// What a squares reader does when the file holds fewer records than asked.
enum class ShortFile { Throws, Stops };

// Calls visit(i, square) for records 0 to count - 1 of the squares file,
// read records::kRecordsPerRead at a time. A file with fewer records
// throws FileError ("the file ends early") before the short batch is
// visited, or, with ShortFile::Stops, visits the whole records it holds and
// stops there. The caller checks the values and throws its own message.
template <typename Visit>
void ReadSquares(const std::string& path, int32_t count, ShortFile shortFile, Visit&& visit) {
    if (count <= 0) return;
    RecordReader reader(path);
    std::vector<uint8_t> batch;
    for (int32_t done = 0; done < count;) {
        const auto wanted = std::min(static_cast<std::size_t>(count - done), records::kRecordsPerRead);
        batch.resize(wanted * records::kSquareRecordSize);
        std::size_t got = wanted;
        if (shortFile == ShortFile::Throws) {
            reader.ReadExact(batch.data(), batch.size());
        } else {
            got = reader.ReadUpTo(batch.data(), batch.size()) / records::kSquareRecordSize;
        }
        for (std::size_t k = 0; k < got; ++k, ++done) {
            const uint8_t* record = batch.data() + k * records::kSquareRecordSize;
            visit(done, SquareRecord{records::GetInt32(record + 4), records::GetInt32(record + 8),
                                     records::GetInt32(record + 12)});
        }
        if (got < wanted) return;
    }
}

// Reads the polyline form of temp.lix, from the file through one buffer
// (one read for many records) or from its bytes already in memory. It
// hands out a polyline's point count and then its points in place, at
// most records::kRecordsPerRead at a time, so a damaged count never asks
// for more memory than the file holds. It only reads: what a short or
// damaged file means (an error, the end of the drawing) is the caller's
// to say.
class PolylineReader {
public:
    enum class Head {
        Count,    // a point count was read
        End,      // no bytes left
        Partial,  // 1 to 3 bytes left, too few for a count
    };

    explicit PolylineReader(const std::string& path);  // FileError when it cannot be opened
    explicit PolylineReader(std::span<const uint8_t> bytes) : m_data(bytes.data()), m_end(bytes.size()) {}
    PolylineReader(const PolylineReader&) = delete;
    PolylineReader& operator=(const PolylineReader&) = delete;

    Head NextCount(int32_t& count) {
        const uint8_t* head = Take(records::kPolylineCountSize);
        if (head == nullptr) return m_at == m_end ? Head::End : Head::Partial;
        count = records::GetInt32(head);
        return Head::Count;
    }
    // The next `count` vertex records (count at most kRecordsPerRead), read
    // with records::GetVertex; nullptr when the file holds fewer, and then
    // the few that are left are not handed out.
    const uint8_t* TakeVertices(std::size_t count) { return Take(count * records::kVertexSize); }
    const std::string& Path() const { return m_path; }

private:
    static constexpr std::size_t kBufferSize = std::size_t{1} << 17;  // twice the largest take

    const uint8_t* Take(std::size_t bytes) {
        if (m_end - m_at < bytes && !Fill(bytes)) return nullptr;
        const uint8_t* at = m_data + m_at;
        m_at += bytes;
        return at;
    }
    bool Fill(std::size_t bytes);  // false when the file holds fewer

    std::string m_path;
    std::unique_ptr<RecordReader> m_reader;  // none for bytes in memory
    std::vector<uint8_t> m_buffer;
    const uint8_t* m_data = nullptr;
    std::size_t m_at = 0;
    std::size_t m_end = 0;
};
