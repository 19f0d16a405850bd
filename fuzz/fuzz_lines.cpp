// Fuzzes the readers of the lines file (temp.lix): the writers and the
// overlay. Any bytes must end in a written file, a FileError or a
// range_error (a coordinate that is not finite), never in a crash, a hang
// or a huge allocation.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include "export/Vemo_compdata.h"
#include "fuzz/fuzz_support.h"
#include "trace/Vemotrace_records.h"

namespace {

// Sums up every call, so that two drawings can be compared.
class TallyCanvas : public TVemo_canvas {
public:
    void SetBrushColour(CanvasColour) override {}
    void FillRect(int32_t, int32_t, int32_t, int32_t) override {}
    void SetPenColour(CanvasColour colour) override { Add(1, colour.red, colour.green * 256 + colour.blue); }
    void MoveTo(int32_t x, int32_t y) override { Add(2, x, y); }
    void LineTo(int32_t x, int32_t y) override { Add(3, x, y); }
    uint64_t Tally() const { return m_tally; }

private:
    void Add(uint64_t kind, int64_t a, int64_t b) {
        m_tally = (m_tally * 1000003u) ^ (kind + 7u * static_cast<uint64_t>(a) + 131u * static_cast<uint64_t>(b));
    }
    uint64_t m_tally = 0;
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
        } catch (const std::range_error&) {
            // So is one whose coordinates are no finite numbers.
        }
    }
    // The overlay from the file and from its bytes in memory (as the viewer
    // reads it once per opening) must draw the same.
    TallyCanvas fromFile, fromMemory;
    data_store.DrawLines(linesPath, fromFile, 1.5);
    data_store.DrawLines(std::span<const uint8_t>(data, size), fromMemory, 1.5);
    Require(fromFile.Tally() == fromMemory.Tally(), "the overlay draws the same from the file and from memory");
    return 0;
}
