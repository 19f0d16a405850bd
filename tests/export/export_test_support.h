// Helpers shared by the export tests: a scratch folder, lines files built
// from point lists, whole-file reads and the independent DXF check.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "trace/Vemotrace_records.h"

namespace exporttest {

using Polyline = std::vector<std::pair<double, double>>;

// A fresh folder under the system's temporary folder, removed with all it
// holds (write permission is given back first).
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vemo-export-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path, ignored)) {
            if (entry.is_directory(ignored)) {
                std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
            }
        }
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void AppendInt32(std::string& bytes, int32_t value) {
    uint8_t raw[4];
    records::PutInt32(raw, value);
    bytes.append(reinterpret_cast<const char*>(raw), sizeof raw);
}

inline void AppendDouble(std::string& bytes, double value) {
    uint8_t raw[8];
    records::PutDouble(raw, value);
    bytes.append(reinterpret_cast<const char*>(raw), sizeof raw);
}

// The bytes of a lines file holding `polylines` in order.
inline std::string LinesBytes(const std::vector<Polyline>& polylines) {
    std::string bytes;
    for (const Polyline& polyline : polylines) {
        AppendInt32(bytes, static_cast<int32_t>(polyline.size()));
        for (const auto& [x, y] : polyline) {
            AppendDouble(bytes, x);
            AppendDouble(bytes, y);
        }
    }
    return bytes;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string("<missing: ") + path + ">";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Splits at CR LF; fails the test on a bare LF or CR. The text after the
// last CR LF must be empty (every line ended).
inline std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "text after the last CR LF: " << text.substr(start);
            break;
        }
        const std::string line = text.substr(start, end - start);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "bare CR or LF in line " << lines.size() + 1;
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

// The names in `folder`, sorted: for checking that nothing else was left.
inline std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Reads `path` with Debian's ezdxf (python3-ezdxf) and runs its auditor.
// Returns the script's report ("polylines=N vertices=M" when all is well);
// the test fails when the file is unreadable or the auditor finds errors.
// With `entities`, the report goes on with the layers and entities as
// check_dxf.py --entities prints them.
inline std::string CheckDxfWithEzdxf(const std::string& path, bool entities = false) {
    const std::string command = "/usr/bin/python3 '" VEMO_SOURCE_DIR "/tests/export/check_dxf.py' " +
                                std::string(entities ? "--entities " : "") + "'" + path + "' 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return std::string();
    }
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    const int status = ::pclose(pipe);
    EXPECT_EQ(status, 0) << "ezdxf rejects " << path << ":\n" << output;
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    return output;
}

}  // namespace exporttest
