// Vemo_path: the one way to take a path apart into folder, name and
// extension. Paths use "/"; nothing here touches the disk.
#pragma once

#include <string>
#include <string_view>

struct PathParts {
    // The text before the last "/": "x/y" for "x/y/plan.bmp", "/" for
    // "/plan.bmp", empty for a bare "plan.bmp".
    std::string folder;
    // The text after the last "/": "plan.bmp".
    std::string name;
    // The name without its extension: "plan".
    std::string stem;
    // The name from its last "." on, dot included and case kept: ".bmp";
    // empty when the name has no ".". ".profile" is all extension.
    std::string extension;
};

PathParts SplitPath(std::string_view path);

// `name` inside `folder`; a bare `name` for an empty folder.
std::string JoinPath(const std::string& folder, const std::string& name);

// The folder of `path` as something to open: "." for a bare name.
std::string DirectoryOf(std::string_view path);
