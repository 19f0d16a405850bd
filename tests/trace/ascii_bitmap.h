// ascii_bitmap: bitmaps for the trace tests, written as ASCII art.
//
// One string per row, from the top row down; '#' is ink (pixel byte 0),
// every other character is background (pixel byte 1):
//
//     AsciiBitmap bitmap({
//         ".......",
//         "..####.",
//         ".......",
//     });
//     TVemotrace_compV1(path).MakeSquares(bitmap.View());
//
// Rows are stored with a few spare bytes after each one, so code that
// confuses the width with the stride reads the wrong pixels.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "trace/Vemotrace_types.h"

class AsciiBitmap {
public:
    static constexpr std::ptrdiff_t kRowPadding = 3;
    static constexpr uint8_t kInk = 0;
    static constexpr uint8_t kBackground = 1;
    // Spare bytes hold a value that is neither, to show up when read.
    static constexpr uint8_t kPadding = 0xEE;

    // All rows must have the same length.
    AsciiBitmap(std::initializer_list<std::string_view> rows) {
        const std::vector<std::string_view> lines(rows);
        Resize(lines.empty() ? 0 : static_cast<int32_t>(lines.front().size()),
               static_cast<int32_t>(lines.size()));
        for (int32_t y = 0; y < m_height; ++y) {
            if (static_cast<int32_t>(lines[y].size()) != m_width) {
                throw std::invalid_argument("AsciiBitmap: rows of different length");
            }
            for (int32_t x = 0; x < m_width; ++x) SetInk(x, y, lines[y][x] == '#');
        }
    }

    // A blank bitmap (no ink) of the given size.
    AsciiBitmap(int32_t width, int32_t height) { Resize(width, height); }

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }

    bool IsInk(int32_t x, int32_t y) const { return m_pixels[Offset(x, y)] == kInk; }
    void SetInk(int32_t x, int32_t y, bool ink = true) { m_pixels[Offset(x, y)] = ink ? kInk : kBackground; }

    // Sets every pixel of the box (inclusive corners, clipped) to ink.
    void FillBox(int32_t left, int32_t top, int32_t right, int32_t bottom) {
        for (int32_t y = std::max(top, 0); y <= std::min(bottom, m_height - 1); ++y) {
            for (int32_t x = std::max(left, 0); x <= std::min(right, m_width - 1); ++x) SetInk(x, y);
        }
    }

    // Paints a level stroke drawn with a round pen of the given radius from
    // (x0, y) to (x1, y): a pixel is ink where its centre lies within the
    // radius of that segment, so the stroke ends in round caps.
    void FillRoundStroke(double x0, double x1, double y, double radius) {
        for (int32_t row = 0; row < m_height; ++row) {
            for (int32_t x = 0; x < m_width; ++x) {
                const double px = x + 0.5, py = row + 0.5;
                const double along = std::clamp(px, x0, x1);
                if (std::hypot(px - along, py - y) <= radius) SetInk(x, row);
            }
        }
    }

    // The bitmap as ASCII art again, one row per line; for failure messages.
    std::string Text() const {
        std::string text;
        for (int32_t y = 0; y < m_height; ++y) {
            for (int32_t x = 0; x < m_width; ++x) text += IsInk(x, y) ? '#' : '.';
            text += '\n';
        }
        return text;
    }

    // Valid while this object lives and is not resized.
    BitmapView View() const {
        BitmapView view;
        view.width = m_width;
        view.height = m_height;
        view.pixels = m_pixels.empty() ? nullptr : m_pixels.data();
        view.stride = m_stride;
        return view;
    }

private:
    void Resize(int32_t width, int32_t height) {
        m_width = width;
        m_height = height;
        m_stride = width + kRowPadding;
        m_pixels.assign(static_cast<std::size_t>(m_stride) * static_cast<std::size_t>(height), kPadding);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) m_pixels[Offset(x, y)] = kBackground;
        }
    }

    std::size_t Offset(int32_t x, int32_t y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(m_stride) + static_cast<std::size_t>(x);
    }

    int32_t m_width = 0;
    int32_t m_height = 0;
    std::ptrdiff_t m_stride = 0;
    std::vector<uint8_t> m_pixels;
};
