// Vemo_path: path splitting (rules in the header).
#include "base/Vemo_path.h"

PathParts SplitPath(std::string_view path) {
    PathParts parts;
    const std::size_t slash = path.rfind('/');
    if (slash != std::string_view::npos) {
        parts.folder = std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
        parts.name = std::string(path.substr(slash + 1));
    } else {
        parts.name = std::string(path);
    }
    const std::size_t dot = parts.name.rfind('.');
    parts.stem = dot == std::string::npos ? parts.name : parts.name.substr(0, dot);
    if (dot != std::string::npos) parts.extension = parts.name.substr(dot);
    return parts;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string DirectoryOf(std::string_view path) {
    std::string folder = SplitPath(path).folder;
    return folder.empty() ? std::string(".") : folder;
}
