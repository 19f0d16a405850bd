// The image's resolution as the loader reads it: BMP pixels per metre, TIFF
// X/YResolution in inches or centimetres, PNG pHYs in pixels per metre (the
// last two through the plug-ins' header), or none.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <QBuffer>
#include <QImage>

#include "common/Vemo_sys.h"
#include "image/Vemo_bmpset.h"
#include "image/Vemo_dib.h"
#include "image/Vemo_susie.h"
#include "image_test_support.h"

namespace {

void Put32(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// The test drawing as a 1-bit BMP storing the given pixels per metre.
std::vector<uint8_t> BmpAt(uint32_t xPelsPerMeter, uint32_t yPelsPerMeter) {
    std::vector<uint8_t> bytes = DrawingBmp(TestDrawing(), BmpKind::Bits1);
    Put32(bytes, 14 + 24, xPelsPerMeter);
    Put32(bytes, 14 + 28, yPelsPerMeter);
    return bytes;
}

// The test drawing as an 8-bit grey TIFF, with X/YResolution in `unit` when
// `resolution` is above 0.
void WriteTiff(const std::string& path, float resolution, uint16_t unit) {
    const Drawing& d = TestDrawing();
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(d.Width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(d.Height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t{8});
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t{1});
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (resolution > 0.0f) {
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, resolution);
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, resolution);
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, unit);
    }
    for (int y = 0; y < d.Height(); ++y) {
        std::vector<uint8_t> row(static_cast<std::size_t>(d.Width()));
        for (int x = 0; x < d.Width(); ++x) row[static_cast<std::size_t>(x)] = d.Ink(x, y) ? 0 : 255;
        ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0), 1);
    }
    TIFFClose(tiff);
}

uint32_t Crc32(const uint8_t* data, std::size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

enum class Phys { Metre, NoUnit, Absent };

// The test drawing as an RGB PNG (QImage writes pHYs in pixels per metre),
// its pHYs chunk then given unit 0 or removed.
std::vector<uint8_t> PngAt(int pelsPerMeter, Phys phys) {
    QImage image = DrawingImage(TestDrawing(), QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(255, 0, 0));  // a colour: stored as RGB, not grey
    image.setDotsPerMeterX(pelsPerMeter);
    image.setDotsPerMeterY(pelsPerMeter);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    std::vector<uint8_t> bytes(data.begin(), data.end());
    const auto at = static_cast<std::size_t>(data.indexOf("pHYs"));
    EXPECT_NE(data.indexOf("pHYs"), -1);
    if (phys == Phys::NoUnit) {
        bytes[at + 4 + 8] = 0;
        const uint32_t crc = Crc32(&bytes[at], 4 + 9);
        for (int i = 0; i < 4; ++i) bytes[at + 13 + static_cast<std::size_t>(i)] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    } else if (phys == Phys::Absent) {
        bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at - 4), bytes.begin() + static_cast<std::ptrdiff_t>(at + 17));
    }
    return bytes;
}

class Resolution : public ::testing::Test {
protected:
    Resolution() { MakeSystemFolder(m_temp.Path() / "Vemosys"); }

    ImageResolution Load(const std::string& path, std::vector<std::string>& messages) {
        const MessageSink sink = [&messages](const std::string& text) { messages.push_back(text); };
        TVemo_sysF settings((m_temp.Path() / "Vemosys").string(), sink);
        TVemo_susieF susie(sink);
        TVemo_bmpset loader(path, settings, susie, sink, WorkingForm::Packed);
        EXPECT_EQ(loader.GetStatus(), 0) << path;
        return loader.GetResolution();
    }

    TempFolder m_temp;
};

// Catches: a stored resolution not read (or read from the wrong field), a
// unit of centimetres taken as inches, an aspect-ratio-only unit taken as a
// size, and 600 dpi coming out as 599.9988 from its whole pixels per metre.
TEST_F(Resolution, ReadFromEveryFormatThatStoresIt) {
    struct Case {
        const char* name;
        double xDpi;  // 0: none stored
        double yDpi;
    };
    const Case cases[] = {
        {"bmp_600.bmp", 600, 600},       {"bmp_72x144.bmp", 72, 144},  {"bmp_none.bmp", 0, 0},
        {"bmp_x_only.bmp", 300, 300},    {"bmp_odd.bmp", 2540.0 * 0.0254 * 10, 2540.0 * 0.0254 * 10},
        {"tiff_inch.tif", 400, 400},     {"tiff_cm.tif", 300, 300},    {"tiff_no_unit.tif", 0, 0},
        {"tiff_none.tif", 0, 0},         {"png_metre.png", 300, 300},  {"png_no_unit.png", 0, 0},
        {"png_absent.png", 0, 0},
    };
    WriteBytes(m_temp.File("bmp_600.bmp"), BmpAt(23622, 23622));
    WriteBytes(m_temp.File("bmp_72x144.bmp"), BmpAt(2835, 5669));
    WriteBytes(m_temp.File("bmp_none.bmp"), BmpAt(0, 0));
    WriteBytes(m_temp.File("bmp_x_only.bmp"), BmpAt(11811, 0));
    WriteBytes(m_temp.File("bmp_odd.bmp"), BmpAt(25400, 25400));  // 645.16 dpi: no whole dpi near
    WriteTiff(m_temp.File("tiff_inch.tif"), 400.0f, RESUNIT_INCH);
    WriteTiff(m_temp.File("tiff_cm.tif"), 118.11f, RESUNIT_CENTIMETER);
    WriteTiff(m_temp.File("tiff_no_unit.tif"), 300.0f, RESUNIT_NONE);
    WriteTiff(m_temp.File("tiff_none.tif"), 0.0f, RESUNIT_INCH);
    WriteBytes(m_temp.File("png_metre.png"), PngAt(11811, Phys::Metre));
    WriteBytes(m_temp.File("png_no_unit.png"), PngAt(11811, Phys::NoUnit));
    WriteBytes(m_temp.File("png_absent.png"), PngAt(11811, Phys::Absent));
    for (const Case& c : cases) {
        std::vector<std::string> messages;
        const ImageResolution found = Load(m_temp.File(c.name), messages);
        EXPECT_TRUE(messages.empty()) << c.name << ": " << (messages.empty() ? "" : messages.front());
        EXPECT_EQ(found.IsKnown(), c.xDpi > 0) << c.name;
        EXPECT_NEAR(found.xDpi, c.xDpi, 1e-9) << c.name;
        EXPECT_NEAR(found.yDpi, c.yDpi, 1e-9) << c.name;
    }
}

}  // namespace
