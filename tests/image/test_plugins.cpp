// The three image plug-ins, through the whole load: the test drawing as
// PNG, TIFF and GIF in their usual variants gives the same working bitmap
// as the BMP; transparency becomes white paper; 16-bit samples are scaled,
// not gamma-converted; files are recognised by content, not by name; and
// broken files give a message and nothing on standard error.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <dlfcn.h>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <tiffio.h>

#include "common/Vemo_sys.h"
#include "common/Vemo_texts.h"
#include "image/Vemo_bmpset.h"
#include "image/Vemo_spi.h"
#include "image/Vemo_susie.h"
#include "image_test_support.h"

namespace {

// The drawing enlarged k times, so that tiles and strips come in several.
Drawing Enlarged(const Drawing& drawing, int k) {
    Drawing big;
    for (const std::string& row : drawing.rows) {
        std::string wide;
        for (const char c : row) wide.append(static_cast<std::size_t>(k), c);
        for (int i = 0; i < k; ++i) big.rows.push_back(wide);
    }
    return big;
}

// ---- TIFF files written with libtiff -------------------------------------

enum class TiffKind { G4, G4Tiled, LzwPalette, TiledGrey, DeflateRgb, Grey16, RgbaTransparent, TwoPages };

void WriteTiffPage(TIFF* tiff, const Drawing& d, TiffKind kind) {
    const uint32_t width = static_cast<uint32_t>(d.Width());
    const uint32_t height = static_cast<uint32_t>(d.Height());
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    // Depth first: libtiff sizes the colour map by it.
    const uint16_t bits = kind == TiffKind::Grey16 ? 16
                          : (kind == TiffKind::G4 || kind == TiffKind::G4Tiled || kind == TiffKind::TwoPages) ? 1
                                                                                                               : 8;
    const uint16_t samples = kind == TiffKind::DeflateRgb ? 3 : kind == TiffKind::RgbaTransparent ? 4 : 1;
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    std::function<void(int x, int y, uint8_t* out)> pixel;
    switch (kind) {
    case TiffKind::G4:
    case TiffKind::G4Tiled:
    case TiffKind::TwoPages:
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        pixel = [&](int x, int y, uint8_t* out) {
            if (d.Ink(x, y)) out[x / 8] = static_cast<uint8_t>(out[x / 8] | (0x80 >> (x % 8)));
        };
        break;
    case TiffKind::LzwPalette: {
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
        static std::vector<uint16_t> red(256, 65535), green(256, 65535), blue(256, 65535);
        red[3] = green[3] = blue[3] = 0;
        TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
        pixel = [&](int x, int y, uint8_t* out) { out[x] = d.Ink(x, y) ? 3 : 250; };
        break;
    }
    case TiffKind::TiledGrey:
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        pixel = [&](int x, int y, uint8_t* out) { out[x] = d.Ink(x, y) ? 20 : 230; };
        break;
    case TiffKind::DeflateRgb:
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        pixel = [&](int x, int y, uint8_t* out) {
            const uint8_t v = d.Ink(x, y) ? 0 : 255;
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = v;
        };
        break;
    case TiffKind::Grey16:
        // 0x7E7E is 126 scaled to 8 bits (ink), 186 if taken as linear light.
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        pixel = [&](int x, int y, uint8_t* out) {
            const uint16_t v = d.Ink(x, y) ? 0x7E7E : 0xFFFF;
            std::memcpy(out + 2 * x, &v, 2);
        };
        break;
    case TiffKind::RgbaTransparent: {
        // Paper is transparent black: it must come out white.
        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        pixel = [&](int x, int y, uint8_t* out) {
            out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = 0;
            out[4 * x + 3] = d.Ink(x, y) ? 255 : 0;
        };
        break;
    }
    }
    const tmsize_t rowBytes = (static_cast<tmsize_t>(width) * bits * samples + 7) / 8;
    const bool tiled = kind == TiffKind::G4Tiled || kind == TiffKind::TiledGrey;
    if (!tiled) {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 5u);
        for (uint32_t y = 0; y < height; ++y) {
            std::vector<uint8_t> row(static_cast<std::size_t>(rowBytes), 0);
            for (uint32_t x = 0; x < width; ++x) pixel(static_cast<int>(x), static_cast<int>(y), row.data());
            ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), y, 0), 1);
        }
        return;
    }
    const uint32_t tile = 16;
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, tile);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, tile);
    std::vector<uint8_t> tileBuffer(static_cast<std::size_t>(TIFFTileSize(tiff)));
    const tmsize_t tileRow = TIFFTileRowSize(tiff);
    for (uint32_t top = 0; top < height; top += tile) {
        for (uint32_t left = 0; left < width; left += tile) {
            std::fill(tileBuffer.begin(), tileBuffer.end(), 0);
            for (uint32_t r = 0; r < tile && top + r < height; ++r) {
                std::vector<uint8_t> row(static_cast<std::size_t>(rowBytes) + 16, 0);
                for (uint32_t x = 0; x < width; ++x) pixel(static_cast<int>(x), static_cast<int>(top + r), row.data());
                const std::size_t from = static_cast<std::size_t>(left) * bits / 8;
                const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(tileRow), row.size() - from);
                std::memcpy(&tileBuffer[r * static_cast<std::size_t>(tileRow)], &row[from], count);
            }
            ASSERT_GE(TIFFWriteTile(tiff, tileBuffer.data(), left, top, 0, 0), 0);
        }
    }
}

void WriteTiff(const std::string& path, const Drawing& d, TiffKind kind) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    WriteTiffPage(tiff, d, kind);
    if (kind == TiffKind::TwoPages) {
        // A second page that is all ink: only the first may be read.
        ASSERT_EQ(TIFFWriteDirectory(tiff), 1);
        Drawing ink = d;
        for (std::string& row : ink.rows) row.assign(row.size(), '#');
        WriteTiffPage(tiff, ink, TiffKind::G4);
    }
    TIFFClose(tiff);
}

// ---- GIF files written with giflib ----------------------------------------

struct GifLayout {
    int screenWidth = 0;  // 0: the drawing's size
    int screenHeight = 0;
    int left = 0;
    int top = 0;
    bool interlaced = false;
    bool transparentPaper = false;  // paper drawn with a transparent red
    bool secondFrame = false;       // an all-ink frame after the first
};

void WriteGif(const std::string& path, const Drawing& d, const GifLayout& layout) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    ASSERT_NE(gif, nullptr);
    const GifColorType colours[4] = {{255, 255, 255}, {0, 0, 0}, {255, 0, 0}, {0, 0, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifSetGifVersion(gif, true);
    const int screenWidth = layout.screenWidth ? layout.screenWidth : d.Width();
    const int screenHeight = layout.screenHeight ? layout.screenHeight : d.Height();
    ASSERT_EQ(EGifPutScreenDesc(gif, screenWidth, screenHeight, 2, 3, map), GIF_OK);
    if (layout.transparentPaper) {
        const GifByteType control[4] = {0x01, 0, 0, 2};  // transparent index 2
        ASSERT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control), GIF_OK);
    }
    ASSERT_EQ(EGifPutImageDesc(gif, layout.left, layout.top, d.Width(), d.Height(), layout.interlaced, nullptr), GIF_OK);
    const auto putRow = [&](int y) {
        std::vector<GifPixelType> row(static_cast<std::size_t>(d.Width()));
        for (int x = 0; x < d.Width(); ++x) row[static_cast<std::size_t>(x)] = d.Ink(x, y) ? 1 : (layout.transparentPaper ? 2 : 0);
        return EGifPutLine(gif, row.data(), d.Width());
    };
    if (layout.interlaced) {
        const int start[] = {0, 4, 2, 1};
        const int step[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
            for (int y = start[pass]; y < d.Height(); y += step[pass]) ASSERT_EQ(putRow(y), GIF_OK);
        }
    } else {
        for (int y = 0; y < d.Height(); ++y) ASSERT_EQ(putRow(y), GIF_OK);
    }
    if (layout.secondFrame) {
        ASSERT_EQ(EGifPutImageDesc(gif, 0, 0, screenWidth, screenHeight, false, nullptr), GIF_OK);
        std::vector<GifPixelType> ink(static_cast<std::size_t>(screenWidth), 1);
        for (int y = 0; y < screenHeight; ++y) ASSERT_EQ(EGifPutLine(gif, ink.data(), screenWidth), GIF_OK);
    }
    GifFreeMapObject(map);
    ASSERT_EQ(EGifCloseFile(gif, &error), GIF_OK);
}

// ---- the load ---------------------------------------------------------------

class PluginTest : public ::testing::Test {
protected:
    PluginTest() { MakeSystemFolder(m_temp.Path() / "Vemosys"); }

    int Load(const std::string& path) {
        m_messages.clear();
        const MessageSink sink = [this](const std::string& text) { m_messages.push_back(text); };
        TVemo_sysF settings((m_temp.Path() / "Vemosys").string(), sink);
        TVemo_susieF susie(sink);
        TVemo_bmpset loader(path, settings, susie, sink);
        m_working = loader.GetWorkingBitmap() ? *loader.GetWorkingBitmap() : QImage();
        return loader.GetStatus();
    }
    std::string First() const { return m_messages.empty() ? std::string() : m_messages.front(); }
    void ExpectDrawing(const Drawing& d, const std::string& what) {
        EXPECT_TRUE(m_messages.empty()) << what << ": " << First();
        EXPECT_EQ(m_working.format(), QImage::Format_Indexed8) << what;
        EXPECT_EQ(m_working.size(), QSize(d.Width(), d.Height())) << what;
        EXPECT_EQ(RowBytes(m_working), ExpectedBytes(d)) << what;
    }

    TempFolder m_temp;
    std::vector<std::string> m_messages;
    QImage m_working;
};

// Catches: a PNG colour type read wrongly, transparency left black, or
// 16-bit samples gamma-converted so that dark grey turns into paper.
TEST_F(PluginTest, PngVariantsGiveTheDrawing) {
    const Drawing& d = TestDrawing();
    struct Variant {
        const char* name;
        QImage image;
    };
    QImage transparent = DrawingImage(d, QImage::Format_ARGB32);
    for (int y = 0; y < d.Height(); ++y) {
        for (int x = 0; x < d.Width(); ++x) {
            if (!d.Ink(x, y)) transparent.setPixel(x, y, qRgba(0, 0, 0, 0));
        }
    }
    QImage grey16(d.Width(), d.Height(), QImage::Format_Grayscale16);
    for (int y = 0; y < d.Height(); ++y) {
        auto* row = reinterpret_cast<quint16*>(grey16.scanLine(y));
        for (int x = 0; x < d.Width(); ++x) row[x] = d.Ink(x, y) ? 0x7E7E : 0xFFFF;
    }
    const Variant variants[] = {
        {"palette", DrawingImage(d, QImage::Format_Indexed8)},
        {"bilevel", DrawingImage(d, QImage::Format_Mono)},
        {"grey", DrawingImage(d, QImage::Format_Grayscale8)},
        {"rgb", DrawingImage(d, QImage::Format_RGB32)},
        {"rgba", transparent},
        {"grey16", grey16},
        {"rgba64", transparent.convertToFormat(QImage::Format_RGBA64)},
    };
    for (const Variant& v : variants) {
        const std::string path = m_temp.File(std::string(v.name) + ".png");
        ASSERT_TRUE(v.image.save(QString::fromStdString(path), "PNG")) << v.name;
        ASSERT_EQ(Load(path), 0) << v.name;
        ExpectDrawing(d, v.name);
    }
}

// Catches: strips, tiles, G4, palettes, 16-bit samples, alpha or the page
// order handled wrongly.
TEST_F(PluginTest, TiffVariantsGiveTheDrawing) {
    const Drawing d = Enlarged(TestDrawing(), 3);  // 39 x 21: several strips and tiles
    const std::pair<const char*, TiffKind> variants[] = {
        {"g4", TiffKind::G4},           {"g4_tiled", TiffKind::G4Tiled},  {"lzw_palette", TiffKind::LzwPalette},
        {"tiled_grey", TiffKind::TiledGrey}, {"rgb", TiffKind::DeflateRgb}, {"grey16", TiffKind::Grey16},
        {"rgba", TiffKind::RgbaTransparent}, {"two_pages", TiffKind::TwoPages},
    };
    for (const auto& [name, kind] : variants) {
        const std::string path = m_temp.File(std::string(name) + ".tif");
        WriteTiff(path, d, kind);
        ASSERT_EQ(Load(path), 0) << name;
        ExpectDrawing(d, name);
    }
}

// Catches: interlaced rows misplaced, the frame not placed on its logical
// screen, transparent or uncovered pixels not white, a later frame drawn.
TEST_F(PluginTest, GifFirstFrameOnItsScreen) {
    const Drawing& d = TestDrawing();
    const std::pair<const char*, GifLayout> plain[] = {
        {"plain", {}},
        {"interlaced", {.interlaced = true}},
        {"transparent", {.transparentPaper = true, .secondFrame = true}},
    };
    for (const auto& [name, layout] : plain) {
        const std::string path = m_temp.File(std::string(name) + ".gif");
        WriteGif(path, d, layout);
        ASSERT_EQ(Load(path), 0) << name;
        ExpectDrawing(d, name);
    }

    const std::string path = m_temp.File("placed.gif");
    WriteGif(path, d, {.screenWidth = 20, .screenHeight = 12, .left = 4, .top = 3, .transparentPaper = true});
    ASSERT_EQ(Load(path), 0);
    Drawing screen{std::vector<std::string>(12, std::string(20, '.'))};
    for (int y = 0; y < d.Height(); ++y) {
        for (int x = 0; x < d.Width(); ++x) {
            if (d.Ink(x, y)) screen.rows[static_cast<std::size_t>(y + 3)][static_cast<std::size_t>(x + 4)] = '#';
        }
    }
    ExpectDrawing(screen, "placed");
}

// Catches: a plug-in choosing by file name and decoding a file that is not
// its format (a PNG named .tif goes to the TIFF plug-in and is refused).
TEST_F(PluginTest, PluginsRecogniseTheirFormatByContent) {
    const std::string path = m_temp.File("really_png.tif");
    ASSERT_TRUE(DrawingImage(TestDrawing(), QImage::Format_RGB32).save(QString::fromStdString(path), "PNG"));
    EXPECT_EQ(Load(path), 1);
    EXPECT_EQ(m_messages, std::vector{texts::ImageNotDecodable(
                              path, texts::ReasonPluginRefuses((m_temp.Path() / "Vemosys" / "vemo_tiff.spi").string()))});
}

// Catches: a truncated file traced as a half-blank picture, or a library
// writing its complaints to standard error.
TEST_F(PluginTest, BrokenFilesGiveAMessageAndNothingOnStandardError) {
    const Drawing d = Enlarged(TestDrawing(), 3);
    const std::string png = m_temp.File("whole.png");
    ASSERT_TRUE(DrawingImage(d, QImage::Format_RGB32).save(QString::fromStdString(png), "PNG"));
    const std::string tif = m_temp.File("whole.tif");
    WriteTiff(tif, d, TiffKind::LzwPalette);
    const std::string gif = m_temp.File("whole.gif");
    WriteGif(gif, d, {});

    for (const std::string& whole : {png, tif, gif}) {
        std::ifstream in(whole, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // TIFF keeps its directory at the end: cut the pixel data instead.
        if (whole == tif) {
            std::fill(bytes.begin() + 8, bytes.begin() + 8 + 40, 0xFF);
        } else {
            bytes.resize(bytes.size() * 2 / 3);
        }
        const std::string broken = m_temp.File("broken" + whole.substr(whole.size() - 4));
        WriteBytes(broken, bytes);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Load(broken), 1) << broken;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << broken;
        EXPECT_TRUE(m_working.isNull()) << broken;
        EXPECT_EQ(m_messages,
                  std::vector<std::string>{texts::ImageNotDecodable(broken, texts::ReasonPluginFailed(kSpiOutOfOrder))})
            << broken;
    }
}

// Catches: the published information entries wrong or written past the
// caller's buffer.
TEST(PluginInfo, DescribesTheFormatWithinTheBuffer) {
    for (const auto& [plugin, extensions] : {std::pair{"vemo_png.spi", "*.png"}, std::pair{"vemo_tiff.spi", "*.tif;*.tiff"},
                                             std::pair{"vemo_gif.spi", "*.gif"}}) {
        void* library = dlopen((std::string(VEMO_SYSTEM_DIR) + "/" + plugin).c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << plugin;
        const auto info = reinterpret_cast<SpiGetPluginInfoFn>(dlsym(library, "GetPluginInfo"));
        ASSERT_NE(info, nullptr) << plugin;
        char buffer[64];
        EXPECT_EQ(info(0, buffer, sizeof buffer), 4);
        EXPECT_STREQ(buffer, "00IN");
        EXPECT_EQ(info(2, buffer, sizeof buffer), static_cast<int>(std::strlen(extensions)));
        EXPECT_STREQ(buffer, extensions);
        char small[4] = {'x', 'x', 'x', 'x'};
        EXPECT_EQ(info(0, small, 3), 2);
        EXPECT_STREQ(small, "00");
        EXPECT_EQ(info(4, buffer, sizeof buffer), 0);
        dlclose(library);
    }
}

// Catches: a plug-in handing over a wider form than the file holds (a grey
// or palette picture as 24-bit colour costs three times the memory).
TEST(PluginForms, EachPictureComesInTheSmallestFormThatHoldsIt) {
    TempFolder temp;
    void* library = dlopen((std::string(VEMO_SYSTEM_DIR) + "/vemo_tiff.spi").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr);
    const auto getPicture = reinterpret_cast<SpiGetPictureFn>(dlsym(library, kSpiGetPictureName));
    ASSERT_NE(getPicture, nullptr);
    const std::pair<TiffKind, int> cases[] = {{TiffKind::G4, 1},         {TiffKind::LzwPalette, 8},
                                              {TiffKind::TiledGrey, 8},  {TiffKind::Grey16, 8},
                                              {TiffKind::DeflateRgb, 24}};
    for (const auto& [kind, bits] : cases) {
        std::string path = temp.File("form.tif");
        WriteTiff(path, TestDrawing(), kind);
        SpiHandle info = nullptr;
        SpiHandle pixels = nullptr;
        ASSERT_EQ(getPicture(path.data(), 0, kSpiInputFile, &info, &pixels, nullptr, 0), kSpiAllRight);
        SpiBitmapInfoHeader header;
        std::memcpy(&header, info, sizeof header);
        EXPECT_EQ(header.bitCount, bits) << static_cast<int>(kind);
        std::free(info);
        std::free(pixels);
    }
    dlclose(library);
}

}  // namespace
