// square_files: helpers for the tests of the square cover, the square table
// and the square groups: a temporary folder, and the squares and groups
// files packed and unpacked here byte by byte, independently of the
// engine's own record code.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace square_files {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vemo-squares-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
        m_path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// One record of temp.sqr.
struct SquareRecord {
    int32_t index, x, y, size;
    bool operator==(const SquareRecord&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const SquareRecord& s) {
    return out << "(" << s.index << ", " << s.x << ", " << s.y << ", " << s.size << ")";
}

// One record of temp.sqo.
struct MemberRecord {
    int32_t group, square;
    bool operator==(const MemberRecord&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const MemberRecord& m) {
    return out << "(" << m.group << ", " << m.square << ")";
}

inline void AppendInt32(std::vector<uint8_t>& bytes, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(bits >> shift));
}

inline int32_t Int32At(const std::vector<uint8_t>& bytes, std::size_t at) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
    return static_cast<int32_t>(bits);
}

inline std::vector<uint8_t> SquareBytes(const std::vector<SquareRecord>& squares) {
    std::vector<uint8_t> bytes;
    for (const SquareRecord& s : squares) {
        AppendInt32(bytes, s.index);
        AppendInt32(bytes, s.x);
        AppendInt32(bytes, s.y);
        AppendInt32(bytes, s.size);
    }
    return bytes;
}

inline std::vector<uint8_t> MemberBytes(const std::vector<MemberRecord>& members) {
    std::vector<uint8_t> bytes;
    for (const MemberRecord& m : members) {
        AppendInt32(bytes, m.group);
        AppendInt32(bytes, m.square);
    }
    return bytes;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

// The whole squares file; its size must be a whole number of records.
inline std::vector<SquareRecord> ReadSquares(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    EXPECT_EQ(bytes.size() % 16, 0u) << path;
    std::vector<SquareRecord> squares;
    for (std::size_t at = 0; at + 16 <= bytes.size(); at += 16) {
        squares.push_back(
            {Int32At(bytes, at), Int32At(bytes, at + 4), Int32At(bytes, at + 8), Int32At(bytes, at + 12)});
    }
    return squares;
}

inline std::vector<MemberRecord> ReadMembers(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    EXPECT_EQ(bytes.size() % 8, 0u) << path;
    std::vector<MemberRecord> members;
    for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8) {
        members.push_back({Int32At(bytes, at), Int32At(bytes, at + 4)});
    }
    return members;
}

}  // namespace square_files
