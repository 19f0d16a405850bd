// Vemo_profile: reading and minimal in-place editing of profile files.
#include "common/Vemo_profile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Vemo_fileerror.h"
#include "base/Vemo_safefile.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char ca = a[i], cb = b[i];
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb - 'A' + 'a');
        if (ca != cb) return false;
    }
    return true;
}

// The section name of a "[name]" line, if it is one.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    line.remove_prefix(1);
    const std::size_t close = line.find(']');
    if (close != std::string_view::npos) line = line.substr(0, close);
    return Trim(line);
}

bool IsComment(std::string_view line) {
    line = Trim(line);
    return !line.empty() && (line.front() == ';' || line.front() == '#');
}

// The key name of a "key=value" line, if it is one.
std::optional<std::string_view> KeyName(std::string_view line) {
    if (IsComment(line) || SectionName(line)) return std::nullopt;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(0, equals));
}

// Cuts `value` to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutValue(std::string_view value, std::size_t limit) {
    if (value.size() <= limit) return std::string(value);
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) --end;
    return std::string(value.substr(0, end));
}

struct Location {
    std::optional<std::size_t> sectionLine;  // the first matching "[section]"
    std::optional<std::size_t> keyLine;      // the first matching key in it
    std::size_t sectionEnd = 0;              // one past its last non-blank line
};

Location Find(const std::vector<std::string>& lines, std::string_view section, std::string_view key) {
    Location found;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionName(lines[i]);
        if (!found.sectionLine) {
            if (name && EqualsIgnoringCase(*name, section)) {
                found.sectionLine = i;
                found.sectionEnd = i + 1;
            }
            continue;
        }
        if (name) break;  // the next section starts
        if (!Trim(lines[i]).empty()) found.sectionEnd = i + 1;
        if (!found.keyLine) {
            const auto keyName = KeyName(lines[i]);
            if (keyName && EqualsIgnoringCase(*keyName, key)) found.keyLine = i;
        }
    }
    return found;
}

std::string WithoutLineBreaks(const std::string& value) {
    std::string clean;
    clean.reserve(value.size());
    for (char c : value) {
        if (c != '\r' && c != '\n' && c != '\0') clean += c;
    }
    return clean;
}

}  // namespace

bool ProfileDocument::Load(const std::string& path, ProfileDocument& document, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            document = ProfileDocument();
            return true;
        }
        error = SystemReason(errno);
        return false;
    }
    std::string text;
    char buffer[65536];
    int failure = 0;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            failure = errno;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    if (failure != 0) {
        error = SystemReason(failure);
        return false;
    }
    document = Parse(std::move(text));
    return true;
}

ProfileDocument ProfileDocument::LoadForReading(const std::string& path) {
    ProfileDocument document;
    std::string error;
    if (!Load(path, document, error)) return ProfileDocument();
    return document;
}

ProfileDocument ProfileDocument::Parse(std::string text) {
    ProfileDocument document;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t newline = text.find('\n', start);
        if (newline == std::string::npos) {
            document.m_lines.push_back(text.substr(start));
            break;
        }
        document.m_lines.push_back(text.substr(start, newline - start));
        start = newline + 1;
    }
    document.m_endsWithNewline = !text.empty() && text.back() == '\n';
    const std::size_t firstNewline = text.find('\n');
    document.m_crlf = firstNewline != std::string::npos && firstNewline > 0 && text[firstNewline - 1] == '\r';
    return document;
}

std::string ProfileDocument::Get(const std::string& section, const std::string& key) const {
    const Location found = Find(m_lines, section, key);
    if (!found.keyLine) return std::string();
    const std::string& line = m_lines[*found.keyLine];
    return CutValue(Trim(std::string_view(line).substr(line.find('=') + 1)), kMaxValueLength);
}

void ProfileDocument::Set(const std::string& section, const std::string& key, const std::string& value) {
    const std::string clean = WithoutLineBreaks(value);
    const std::string ending = m_crlf ? "\r" : "";
    const Location found = Find(m_lines, section, key);
    if (found.keyLine) {
        std::string& line = m_lines[*found.keyLine];
        const bool hadCr = !line.empty() && line.back() == '\r';
        line = line.substr(0, line.find('=') + 1) + clean + (hadCr ? "\r" : "");
        return;
    }
    if (!m_lines.empty() && !m_endsWithNewline) {
        // The old last line gets the line ending it lacked.
        m_lines.back() += ending;
        m_endsWithNewline = true;
    }
    const std::string keyLine = key + "=" + clean + ending;
    if (found.sectionLine) {
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(found.sectionEnd), keyLine);
        return;
    }
    m_lines.push_back("[" + section + "]" + ending);
    m_lines.push_back(keyLine);
    m_endsWithNewline = true;
}

std::string ProfileDocument::Text() const {
    std::string text;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        text += m_lines[i];
        if (i + 1 < m_lines.size() || m_endsWithNewline) text += '\n';
    }
    return text;
}

bool ProfileDocument::Save(const std::string& path, std::string& error) const {
    try {
        SaveFileSafely(path, Text());
    } catch (const FileError& failure) {
        error = failure.Reason();
        return false;
    }
    return true;
}
