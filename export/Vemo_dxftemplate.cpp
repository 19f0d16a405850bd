// Vemo_dxftemplate: splits the compiled-in template file into its items.
#include "export/Vemo_dxftemplate.h"

#include <cstddef>

// Defined by the unit the build generates from the template file.
extern const unsigned char kDxfTemplateBytes[];
extern const std::size_t kDxfTemplateBytesSize;

std::vector<std::string> DxfTemplate() {
    // Every item, the last empty one included, is ended by "\n".
    const char* bytes = reinterpret_cast<const char*>(kDxfTemplateBytes);
    std::vector<std::string> items;
    std::size_t start = 0;
    for (std::size_t i = 0; i < kDxfTemplateBytesSize; ++i) {
        if (bytes[i] != '\n') continue;
        items.emplace_back(bytes + start, i - start);
        start = i + 1;
    }
    if (start < kDxfTemplateBytesSize) items.emplace_back(bytes + start, kDxfTemplateBytesSize - start);
    return items;
}
