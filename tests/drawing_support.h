// A small test drawing written as a 1-bit BMP through QImage, for the tests
// that trace a real file (cli, job, app).
#pragma once

#include <string>

#include <QImage>
#include <QString>

// A cross and a small square outline, as a 1-bit BMP.
[[nodiscard]] inline bool WriteDrawing(const std::string& path) {
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
    return image.save(QString::fromStdString(path), "BMP");
}
