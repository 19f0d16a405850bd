// Fuzzes the profile-file layer: any bytes must parse, answer lookups,
// take an edit and give back a text in which the edit reads back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/Vemo_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    auto document = ProfileDocument::Parse(text);
    if (document.Text() != text) std::abort();  // parsing alone changes no byte
    (void)document.Get("SYSTEM", "DEFDATA");
    document.Set("CV3FLG", "XRATIO", "2.500");
    document.Set("SYSTEM", "DEFDATA", "/scans/plan.bmp");
    const auto reread = ProfileDocument::Parse(document.Text());
    if (reread.Get("CV3FLG", "XRATIO") != "2.500") std::abort();
    if (reread.Get("SYSTEM", "DEFDATA") != "/scans/plan.bmp") std::abort();
    return 0;
}
