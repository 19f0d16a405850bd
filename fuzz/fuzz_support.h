// Helpers shared by the fuzz targets.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <stdlib.h>

// Aborts when an invariant does not hold, so that libFuzzer keeps the input.
inline void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz: invariant violated: %s\n", what);
    std::abort();
}

// One scratch folder for the whole run, removed when the process exits. A
// plain array, so that no destructor has cleared the name before the
// clean-up at exit runs.
inline const char* ScratchFolder() {
    static char folder[] = "/tmp/vemo-fuzz-XXXXXX";
    static const bool made = [] {
        if (mkdtemp(folder) == nullptr) std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return true;
    }();
    (void)made;
    return folder;
}
