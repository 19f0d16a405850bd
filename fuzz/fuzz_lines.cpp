// Fuzzes the readers of the lines file (temp.lix): the three writers and
// the overlay. Any bytes must end in a written file or a FileError, never
// in a crash, a hang or a huge allocation.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "export/Vemo_compdata.h"
#include "fuzz/fuzz_support.h"
#include "trace/Vemotrace_records.h"

namespace {

class NullCanvas : public TVemo_canvas {
public:
    void SetBrushColour(CanvasColour) override {}
    void FillRect(int32_t, int32_t, int32_t, int32_t) override {}
    void SetPenColour(CanvasColour) override {}
    void MoveTo(int32_t, int32_t) override {}
    void LineTo(int32_t, int32_t) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string folder = ScratchFolder();
    const std::string linesPath = folder + "/temp.lix";
    std::FILE* file = std::fopen(linesPath.c_str(), "wb");
    Require(file != nullptr, "the scratch lines file can be created");
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);

    TraceResult result;
    result.linesPath = linesPath;
    result.imageWidth = 640;
    result.imageHeight = 480;
    result.flipY = 1;
    result.xRatio = 1.0;
    result.yRatio = 0.5;

    TVemo_compdata data_store;
    data_store.SetExportParams(result);
    for (ExportKind kind : {ExportKind::Text, ExportKind::Dxf, ExportKind::A10, ExportKind::Svg}) {
        try {
            data_store.Export(kind, folder + "/plan.bmp", folder);
        } catch (const FileError&) {
            // A damaged lines file is refused; that is the expected outcome.
        }
    }
    NullCanvas canvas;
    data_store.DrawLines(linesPath, canvas, 1.5);
    return 0;
}
