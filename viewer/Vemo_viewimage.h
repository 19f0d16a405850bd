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
// A drawing whose base colours are ink and one paper colour needs no more
// than a bit per pixel: SetPacked keeps it as the loader's packed bitmap
// (an eighth of a byte per pixel, rows of paper not even that) and draws it
// with the same rules, ink winning. An A0 scan at 600 dpi then opens from
// about 70 MB of bits instead of 560 MB of bytes. ToIndexed turns it into
// the one-byte form when something must be painted into it.
//
// Reads and writes nothing outside the object and the bitmap it fills.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include <QImage>

#include "trace/Vemotrace_packed.h"

class TVemo_viewimage {
public:
    // Takes `image`, which must be Format_Indexed8 (or null), and builds its
    // reduced copies. The object should hold the only reference, so that
    // painting into Image() does not copy it.
    void SetImage(QImage image);
    // Takes a packed bitmap (set bits are ink) shown in `ink` and `paper`,
    // and builds its reduced copies.
    void SetPacked(PackedBitmap bits, QRgb ink, QRgb paper);
    bool IsPacked() const { return m_packed.has_value(); }
    // A packed image becomes the one-byte form with `table` (ink index 0,
    // paper `paperIndex`); an image already in that form stays as it is.
    void ToIndexed(const QList<QRgb>& table, int paperIndex);
    // The image, for painting into it; call Rebuild afterwards.
    QImage& Image() { return m_image; }
    const QImage& Image() const { return m_image; }
    // Builds the reduced copies afresh from the image and its colour table.
    void Rebuild();

    int Width() const { return m_packed ? m_packed->Width() : m_image.width(); }
    int Height() const { return m_packed ? m_packed->Height() : m_image.height(); }

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
    void BuildFirstPackedLevel();
    // Reduced copies from the last one made (or the image) down to the smallest.
    void BuildLevels();
    // Ranks of the image's columns [first, end) of `row` (packed form).
    void UnpackRanks(int row, int64_t first, int64_t end, uint8_t* into) const;

    QImage m_image;
    std::optional<PackedBitmap> m_packed;
    QList<QRgb> m_packedTable;  // {ink, paper}: ranks 0 and 1 are these indexes
    std::vector<Level> m_levels;  // factors 4, 16, 64, ...
    // Per colour index: its darkness order (lower is darker), and back.
    std::array<uint8_t, 256> m_rank{};
    std::array<uint8_t, 256> m_indexOfRank{};
    bool m_rankIsIndex = true;  // the table is already in darkness order
};
