// Fuzz target: a BMP file through the image loader's reader and colour
// mapping, as TVemo_bmpset reads one, and the same bytes as a packed DIB,
// as the plug-in loader reads one.
#include <cstddef>
#include <cstdint>
#include <span>

#include <QImage>
#include <QList>

#include "image/Vemo_colourmap.h"
#include "image/Vemo_dib.h"

namespace {

// The delivered base image's table: black, then white.
QList<QRgb> BaseColours() {
    QList<QRgb> colours(256, qRgb(255, 255, 255));
    colours[0] = qRgb(0, 0, 0);
    return colours;
}

void MapIntoWorking(const TVemo_dib& dib) {
    if (dib.Error() != DibError::None) return;
    QImage working(dib.Width(), dib.Height(), QImage::Format_Indexed8);
    if (working.isNull()) return;
    TVemo_colourmap colours(BaseColours());
    colours.PrepareFor(dib.RowFormat(), dib.Colours());
    uchar* bits = working.bits();
    const qsizetype stride = working.bytesPerLine();
    dib.Decode([&](int y, const uchar* row) { colours.MapRow(row, bits + y * stride, dib.Width()); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    MapIntoWorking(TVemo_dib::FromBmpFile(bytes));

    const TVemo_dib packed = TVemo_dib::FromPackedDib(bytes, bytes);
    DibError error = DibError::None;
    const QImage picture = packed.ToImage(error);
    if (!picture.isNull()) {
        QImage working(picture.width(), picture.height(), QImage::Format_Indexed8);
        TVemo_colourmap colours(BaseColours());
        colours.MapImage(picture, working);
    }
    return 0;
}
