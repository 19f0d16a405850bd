// A small test drawing written as a 1-bit BMP through QImage, for the tests
// that trace a real file (cli, job, app).
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QString>

// A cross and a small square outline, 60 x 40 pixels.
inline QImage TestDrawing() {
    QImage image(60, 40, QImage::Format_Mono);
    image.setColor(0, qRgb(0, 0, 0));
    image.setColor(1, qRgb(255, 255, 255));
    image.fill(1);
    for (int x = 5; x < 55; ++x) image.setPixel(x, 20, 0);
    for (int y = 5; y < 35; ++y) image.setPixel(30, y, 0);
    for (int i = 10; i < 20; ++i) {
        image.setPixel(i, 5, 0);
        image.setPixel(i, 14, 0);
        image.setPixel(10, i - 5, 0);
        image.setPixel(19, i - 5, 0);
    }
    return image;
}

// The test drawing as a 1-bit BMP (storing 72 dpi, as QImage does).
[[nodiscard]] inline bool WriteDrawing(const std::string& path) {
    return TestDrawing().save(QString::fromStdString(path), "BMP");
}

// The test drawing as a 1-bit BMP storing `pelsPerMeter` (0: no resolution)
// in its header.
[[nodiscard]] inline bool WriteDrawingAt(const std::string& path, uint32_t pelsPerMeter) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !TestDrawing().save(&buffer, "BMP") || bytes.size() < 46) return false;
    for (const int at : {38, 42}) {  // biXPelsPerMeter, biYPelsPerMeter
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(pelsPerMeter >> (8 * i));
    }
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.constData(), bytes.size());
    return static_cast<bool>(out.flush());
}
