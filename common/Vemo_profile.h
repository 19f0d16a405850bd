// Vemo_profile: the profile (INI) file layer under the settings holder.
//
// Reads "[section]" and "key=value" lines the way users expect of such
// files: section and key names match without regard to ASCII case, white
// space around names and values is ignored, the first matching section and
// key win, a missing key reads as empty, and at most 1023 bytes of a value
// are returned. Lines starting with ';' or '#' are comments.
//
// Writing changes as little as it can: the value of the first matching key
// is replaced in place, a missing key is added after the last line of its
// section, a missing section is added at the end of the file. Every other
// line (comments, unknown sections and keys, blank lines) keeps its bytes
// and its place, and the file keeps its line endings (CR LF or LF).
//
// Save goes through the program's safe save (base/Vemo_safefile.h): a full
// disk or a crash leaves the old file whole, and a file in a folder the
// user cannot write to is written in place; it reports whether that worked.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class ProfileDocument {
public:
    static constexpr std::size_t kMaxValueLength = 1023;

    // The content of `path`: an empty document when there is no such file.
    // False, with `error` saying why, when the file exists but cannot be
    // read: such a file must not be saved over.
    static bool Load(const std::string& path, ProfileDocument& document, std::string& error);
    // For reading only: an unreadable file reads as an empty one.
    static ProfileDocument LoadForReading(const std::string& path);
    static ProfileDocument Parse(std::string text);

    std::string Get(const std::string& section, const std::string& key) const;
    // Line breaks in `value` are removed: they would start a second key.
    void Set(const std::string& section, const std::string& key, const std::string& value);

    std::string Text() const;
    // True when the whole content reached the disk under `path`; otherwise
    // `error` says why and the old file is untouched.
    bool Save(const std::string& path, std::string& error) const;

private:
    std::vector<std::string> m_lines;  // without their '\n'; a CR LF line keeps its '\r'
    bool m_endsWithNewline = false;    // the last line had a line ending
    bool m_crlf = false;               // the file's line ending style for new lines
};
