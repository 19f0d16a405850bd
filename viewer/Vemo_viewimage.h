// Vemo_viewimage: the viewer's image bitmap and the drawing of its visible
// part at a zoom.
//
// The image stays an 8-bit indexed QImage (one byte per pixel, the base
// image's colour table); the zoomed image never exists as a whole. Render
// fills a bitmap of the visible size only, so its cost follows the visible
// area and not the zoom:
//  - enlarging (zoom >= 1): every screen pixel takes the image pixel under
//    its centre, image pixel (c, r) covering the surface pixels from
//    c * zoom to (c + 1) * zoom, the same place where the polyline overlay
//    draws a point (c + 0.5, r + 0.5) at that zoom;
//  - reducing (zoom < 1): every screen pixel shows the darkest of the image
//    pixels it covers, so a line one pixel wide stays visible on an A0 scan
//    shown whole. To keep that cheap at any zoom, reduced copies of the
//    image (each a quarter of the one before on either axis, darkest pixel
//    of each 4 x 4 block) are kept beside it: about 1/15 of a byte per
//    image pixel in all.
// "Darkest" is by the colour table's luminance, ties going to the lower
// index; ink (black, index 0) wins over any colour, a group colour over
// white paper.
//
// Reads and writes nothing outside the object and the bitmap it fills.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <QImage>

class TVemo_viewimage {
public:
    // Takes `image`, which must be Format_Indexed8 (or null), and builds its
    // reduced copies. The object should hold the only reference, so that
    // painting into Image() does not copy it.
    void SetImage(QImage image);
    // The image, for painting into it; call Rebuild afterwards.
    QImage& Image() { return m_image; }
    const QImage& Image() const { return m_image; }
    // Builds the reduced copies afresh from the image and its colour table.
    void Rebuild();

    int Width() const { return m_image.width(); }
    int Height() const { return m_image.height(); }

    // Fills `viewport` (Format_Indexed8; it gets the image's colour table)
    // with the image drawn `zoom` times its size, seen from the point
    // (left, top) of the zoomed surface. Surface pixels beyond the image
    // show its last column or row.
    void Render(QImage& viewport, double zoom, int left, int top) const;

private:
    // One reduced copy: each pixel the darkest of a factor x factor block
    // of the image.
    struct Level {
        int factor = 1;
        int width = 0;
        int height = 0;
        std::vector<uint8_t> pixels;  // width * height, rows top down
    };

    void RenderEnlarged(QImage& viewport, double zoom, int left, int top) const;
    void RenderReduced(QImage& viewport, double zoom, int left, int top) const;

    QImage m_image;
    std::vector<Level> m_levels;  // factors 4, 16, 64, ...
    // Per colour index: its darkness order (lower is darker), and back.
    std::array<uint8_t, 256> m_rank{};
    std::array<uint8_t, 256> m_indexOfRank{};
    bool m_rankIsIndex = true;  // the table is already in darkness order
};
