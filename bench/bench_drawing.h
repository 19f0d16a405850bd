// bench_drawing: the generated line drawings that trace_bench and
// make_drawing (bench/compare.sh) both trace, and the resident-memory
// reading both report.
//
// A drawing is drawn the same way at every size, so the cost per megapixel
// should not grow with it: straight strokes 1 to 8 pixels thick, mostly
// horizontal and vertical, circles, solid blobs, small text-like glyphs and
// dots, about 5 % ink.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "trace/Vemotrace_types.h"

namespace bench {

constexpr uint8_t kInk = 0;
constexpr uint8_t kPaper = 255;

// A page of one byte per pixel, ink 0, with clipped drawing operations.
class Page {
public:
    Page(int32_t width, int32_t height)
        : m_width(width), m_height(height), m_pixels(static_cast<std::size_t>(width) * height, kPaper) {}

    void Box(int32_t left, int32_t top, int32_t right, int32_t bottom, uint8_t value = kInk) {
        left = std::max(left, 0);
        top = std::max(top, 0);
        right = std::min(right, m_width - 1);
        bottom = std::min(bottom, m_height - 1);
        if (left > right) return;
        for (int32_t y = top; y <= bottom; ++y) {
            std::memset(m_pixels.data() + static_cast<std::size_t>(y) * m_width + left, value,
                        static_cast<std::size_t>(right - left + 1));
        }
    }

    // A stroke of the given thickness, stamped along the line.
    void Stroke(double x0, double y0, double x1, double y1, int32_t thickness) {
        const double length = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        const int steps = std::max(1, static_cast<int>(length));
        for (int s = 0; s <= steps; ++s) {
            const auto x = static_cast<int32_t>(std::lround(x0 + (x1 - x0) * s / steps));
            const auto y = static_cast<int32_t>(std::lround(y0 + (y1 - y0) * s / steps));
            Box(x - thickness / 2, y - thickness / 2, x - thickness / 2 + thickness - 1,
                y - thickness / 2 + thickness - 1);
        }
    }

    void Circle(double cx, double cy, double radius, int32_t thickness) {
        const int steps = std::max(8, static_cast<int>(2 * std::numbers::pi * radius));
        for (int s = 0; s < steps; ++s) {
            const double a = 2 * std::numbers::pi * s / steps;
            const auto x = static_cast<int32_t>(std::lround(cx + radius * std::cos(a)));
            const auto y = static_cast<int32_t>(std::lround(cy + radius * std::sin(a)));
            Box(x, y, x + thickness - 1, y + thickness - 1);
        }
    }

    void Disc(double cx, double cy, double radius) {
        for (int32_t dy = -static_cast<int32_t>(radius); dy <= static_cast<int32_t>(radius); ++dy) {
            const auto half = static_cast<int32_t>(std::sqrt(radius * radius - double(dy) * dy));
            const auto y = static_cast<int32_t>(cy) + dy;
            Box(static_cast<int32_t>(cx) - half, y, static_cast<int32_t>(cx) + half, y);
        }
    }

    void Dot(int32_t x, int32_t y) { Box(x, y, x, y); }

    double InkShare() const {
        return static_cast<double>(std::count(m_pixels.begin(), m_pixels.end(), kInk)) / m_pixels.size();
    }

    // As a binary PBM (P4, 1 = ink), the format potrace reads.
    bool WritePbm(const std::string& path) const {
        std::ofstream out(path, std::ios::binary);
        out << "P4\n" << m_width << " " << m_height << "\n";
        std::vector<char> row((m_width + 7) / 8);
        for (int32_t y = 0; y < m_height; ++y) {
            std::fill(row.begin(), row.end(), 0);
            const uint8_t* pixels = m_pixels.data() + static_cast<std::size_t>(y) * m_width;
            for (int32_t x = 0; x < m_width; ++x) {
                if (pixels[x] == kInk) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
            }
            out.write(row.data(), static_cast<std::streamsize>(row.size()));
        }
        out.close();
        return static_cast<bool>(out);
    }

    // A 1-bit BMP (bottom-up rows, colour 0 black, colour 1 white), the
    // form scanners deliver and vemo-trace reads directly.
    bool WriteBmp(const std::string& path) const {
        const uint32_t rowBytes = ((static_cast<uint32_t>(m_width) + 31) / 32) * 4;
        const uint32_t pixelOffset = 14 + 40 + 8;
        const uint64_t fileSize = pixelOffset + uint64_t{rowBytes} * static_cast<uint32_t>(m_height);
        std::vector<char> header(pixelOffset, 0);
        const auto put = [&header](std::size_t at, uint32_t value, int bytes) {
            for (int i = 0; i < bytes; ++i) header[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
        };
        header[0] = 'B';
        header[1] = 'M';
        put(2, static_cast<uint32_t>(fileSize), 4);
        put(10, pixelOffset, 4);
        put(14, 40, 4);
        put(18, static_cast<uint32_t>(m_width), 4);
        put(22, static_cast<uint32_t>(m_height), 4);
        put(26, 1, 2);
        put(28, 1, 2);
        put(46, 2, 4);
        put(58, 0xFFFFFF, 4);  // colour 1: white; colour 0 stays black
        std::ofstream out(path, std::ios::binary);
        out.write(header.data(), static_cast<std::streamsize>(header.size()));
        std::vector<char> row(rowBytes);
        for (int32_t y = m_height - 1; y >= 0; --y) {
            std::fill(row.begin(), row.end(), 0);
            const uint8_t* pixels = m_pixels.data() + static_cast<std::size_t>(y) * m_width;
            for (int32_t x = 0; x < m_width; ++x) {
                if (pixels[x] != kInk) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
            }
            out.write(row.data(), static_cast<std::streamsize>(row.size()));
        }
        out.close();
        return static_cast<bool>(out);
    }

    BitmapView View() const { return BitmapView{m_width, m_height, m_pixels.data(), m_width}; }
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }

private:
    int32_t m_width;
    int32_t m_height;
    std::vector<uint8_t> m_pixels;
};

// The same mix per megapixel at every page size, so every size has the
// same kind of content at the same density.
Page DrawPlan(int32_t width, int32_t height, uint32_t seed) {
    Page page(width, height);
    std::mt19937 random(seed);
    const auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    const auto thickness = [&]() {
        static const int32_t kThickness[] = {1, 1, 1, 2, 2, 2, 3, 3, 4, 5, 6, 8};
        return kThickness[random() % std::size(kThickness)];
    };
    const double megapixels = double(width) * height / 1e6;
    const auto perMegapixel = [&](double n) { return static_cast<int>(std::lround(n * megapixels)); };

    for (int i = perMegapixel(40); i > 0; --i) {  // walls and dimension lines
        const double x = uniform(0, width), y = uniform(0, height), length = uniform(10, 600);
        if (random() % 2) {
            page.Stroke(x, y, x + length, y, thickness());
        } else {
            page.Stroke(x, y, x, y + length, thickness());
        }
    }
    for (int i = perMegapixel(12); i > 0; --i) {  // slanted lines
        const double x = uniform(0, width), y = uniform(0, height);
        const double a = uniform(0, 2 * std::numbers::pi), length = uniform(10, 400);
        page.Stroke(x, y, x + length * std::cos(a), y + length * std::sin(a), thickness());
    }
    for (int i = perMegapixel(4); i > 0; --i) {  // circles and arcs
        page.Circle(uniform(0, width), uniform(0, height), uniform(5, 80), thickness());
    }
    for (int i = perMegapixel(1.5); i > 0; --i) {  // solid blobs: pillars, filled marks
        const double x = uniform(0, width), y = uniform(0, height);
        if (random() % 2) {
            page.Disc(x, y, uniform(4, 40));
        } else {
            const auto s = static_cast<int32_t>(uniform(8, 60));
            page.Box(static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(x) + s,
                     static_cast<int32_t>(y) + s);
        }
    }
    for (int i = perMegapixel(25); i > 0; --i) {  // labels: rows of small glyphs
        double x = uniform(0, width);
        const double y = uniform(0, height);
        const double glyphHeight = uniform(7, 20), glyphWidth = glyphHeight * 0.6;
        const int32_t pen = glyphHeight > 14 ? 2 : 1;
        for (int glyph = 2 + static_cast<int>(random() % 8); glyph > 0; --glyph, x += glyphWidth * 1.3) {
            for (int stroke = 2 + static_cast<int>(random() % 3); stroke > 0; --stroke) {
                page.Stroke(x + uniform(0, glyphWidth), y + uniform(0, glyphHeight), x + uniform(0, glyphWidth),
                            y + uniform(0, glyphHeight), pen);
            }
        }
    }
    for (int i = perMegapixel(600); i > 0; --i) {  // scanner dots
        page.Dot(static_cast<int32_t>(uniform(0, width)), static_cast<int32_t>(uniform(0, height)));
    }
    return page;
}

// Resident set sizes in kB from /proc/self/status ("VmRSS", "VmHWM").
long StatusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

}  // namespace bench
