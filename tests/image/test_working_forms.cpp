// The two forms of the working bitmap: the one-byte form the windows show
// and the packed one-bit form the trace job loads must give the trace the
// same ink, so every intermediate and output file must be the same.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QImage>

#include "common/Vemo_sys.h"
#include "export/Vemo_compdata.h"
#include "image/Vemo_bmpset.h"
#include "image/Vemo_susie.h"
#include "image_test_support.h"
#include "trace/Vemotrace_compv.h"

namespace {

namespace fs = std::filesystem;

// A random line drawing: boxes, strokes in all directions and dots, at
// a density that leaves both long runs of ink and of paper. Seed 0 is blank
// paper, seed 1 all ink.
Drawing RandomDrawing(int width, int height, unsigned seed) {
    Drawing d;
    d.rows.assign(static_cast<std::size_t>(height), std::string(static_cast<std::size_t>(width), '.'));
    const auto set = [&](int x, int y) {
        if (x >= 0 && x < width && y >= 0 && y < height) d.rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] = '#';
    };
    if (seed == 1) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) set(x, y);
        }
    }
    if (seed <= 1) return d;
    std::mt19937 random(seed);
    const auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(std::max(n, 1))); };
    for (int shapes = width * height / 300 + 2; shapes > 0; --shapes) {
        const int x = below(width), y = below(height);
        switch (below(3)) {
        case 0: {  // a box
            const int w = 1 + below(12), h = 1 + below(12);
            for (int j = 0; j < h; ++j) {
                for (int i = 0; i < w; ++i) set(x + i, y + j);
            }
            break;
        }
        case 1: {  // a stroke, 1 to 3 pixels thick
            const int dx = below(3) - 1, dy = below(3) - 1, length = 5 + below(60), thick = 1 + below(3);
            for (int s = 0; s < length; ++s) {
                for (int t = 0; t < thick; ++t) set(x + dx * s + (dy != 0 ? t : 0), y + dy * s + (dy == 0 ? t : 0));
            }
            break;
        }
        default:
            set(x, y);
            break;
        }
    }
    return d;
}

class WorkingFormsTest : public ::testing::Test {
protected:
    WorkingFormsTest() { MakeSystemFolder(m_temp.File("Vemosys")); }

    // Loads the image in `form` and traces it in a folder of its own, then
    // writes the three output formats there; returns that folder.
    fs::path TraceIn(const std::string& imageName, const fs::path& image, WorkingForm form) {
        const fs::path folder = m_temp.Path() / (form == WorkingForm::Packed ? "packed" : "bytes");
        fs::create_directories(folder);
        const std::string copy = (folder / imageName).string();
        fs::copy_file(image, copy, fs::copy_options::overwrite_existing);

        const MessageSink sink = [](const std::string& text) { ADD_FAILURE() << text; };
        TVemo_sysF settings(m_temp.File("Vemosys"), sink);
        TVemo_susieF susie(sink);
        TVemo_bmpset loader(copy, settings, susie, sink, form);
        EXPECT_EQ(loader.GetStatus(), 0);
        TVemotrace_compV pipeline(copy);
        if (form == WorkingForm::Packed) {
            pipeline.RunTrace(loader.TakePackedBitmap());
        } else {
            const IndexedBitmap* working = loader.GetIndexedBitmap();
            pipeline.RunTrace(BitmapView{working->width, working->height, working->pixels.get(), working->stride});
        }
        TraceResult result = pipeline.CollectResults();
        result.flipY = 1;
        result.xRatio = 0.5;
        result.yRatio = 2.0;
        m_squareCount = result.squareCount;
        TVemo_compdata data;
        data.SetExportParams(result);
        for (const ExportKind kind : {ExportKind::Text, ExportKind::Dxf, ExportKind::A10}) {
            data.Export(kind, copy, folder.string());
        }
        return folder;
    }

    TempFolder m_temp;
    int32_t m_squareCount = 0;
};

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Catches: the packed bitmap's bit order, its last partial word, rows of
// paper it skips, or a 1-bit file's colour table read the wrong way round,
// changing the trace or any file it leads to.
TEST_F(WorkingFormsTest, PackedAndByteBitmapsGiveTheSameFiles) {
    struct Size {
        int width, height;
    };
    const Size sizes[] = {{1, 1}, {63, 17}, {65, 40}, {257, 120}};
    const BmpKind kinds[] = {BmpKind::Bits1, BmpKind::Bits1InkIsOne, BmpKind::Bits8, BmpKind::Rle4, BmpKind::Bits24};
    int traced = 0;
    for (const Size size : sizes) {
        for (const unsigned seed : {0u, 1u, 7u, 12345u}) {
            const Drawing drawing = RandomDrawing(size.width, size.height, seed);
            // Blank and solid pages only through the two ways a 1-bit file
            // can say which colour is ink; drawings through every reader,
            // the last one a PNG through its plug-in.
            const std::size_t variants = seed <= 1 ? 2 : std::size(kinds) + 1;
            for (std::size_t k = 0; k < variants; ++k) {
                const bool png = k == std::size(kinds);
                const std::string name = png ? "drawing.png" : "drawing.bmp";
                const fs::path image = m_temp.Path() / name;
                if (png) {
                    ASSERT_TRUE(DrawingImage(drawing, QImage::Format_RGB32).save(QString::fromStdString(image.string()), "PNG"));
                } else {
                    WriteBytes(image, DrawingBmp(drawing, kinds[k]));
                }
                SCOPED_TRACE(testing::Message() << size.width << " x " << size.height << " seed " << seed << " file " << k);
                const fs::path bytes = TraceIn(name, image, WorkingForm::Indexed);
                const int32_t squares = m_squareCount;
                const fs::path packed = TraceIn(name, image, WorkingForm::Packed);
                EXPECT_EQ(m_squareCount, squares);
                if (seed > 0) {
                    EXPECT_GT(squares, 0) << "the drawing must have ink";
                }
                for (const char* file : {"temp.sqr", "temp.sqo", "temp.pxy", "temp.lix", "drawing.txt", "drawing.dxf", "drawing.A10"}) {
                    const bool present = fs::exists(bytes / file);
                    EXPECT_EQ(fs::exists(packed / file), present) << file;
                    if (present) {
                        EXPECT_TRUE(Contents(bytes / file) == Contents(packed / file)) << file;
                    }
                }
                fs::remove_all(bytes);
                fs::remove_all(packed);
                ++traced;
            }
        }
    }
    EXPECT_EQ(traced, 4 * (2 * 2 + 2 * 6));
}

}  // namespace
