// Vemo_colourmap: "draws" a picture into the working bitmap by mapping every
// source colour to the nearest entry of the base image's colour table.
//
// Nearest means the smallest sum of absolute red, green and blue
// differences; on a tie the lowest index wins, so when the base table
// repeats a colour only its first entry is ever used. A colour with
// transparency is first composited onto white.
//
// The mapping goes through tables, not through a conversion per pixel:
// a 256-entry table for 8-bit rows, a table of eight output bytes per input
// byte for 1-bit rows, and a cache keyed by colour for direct-colour rows
// (scans repeat few colours). QImage::convertToFormat would be both slower
// and wrong here: it keeps the source's colour table when the source is
// already indexed.
//
// Reads: rows in Format_Mono, Format_MonoLSB, Format_Indexed8,
// Format_Grayscale8, Format_RGB32 or Format_ARGB32 (any other QImage is
// converted to ARGB32 first). Writes: one byte per pixel, base indexes.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <QImage>
#include <QList>

class TVemo_colourmap {
public:
    explicit TVemo_colourmap(const QList<QRgb>& baseColours);

    // The base index nearest to `colour`.
    uint8_t Nearest(QRgb colour) const;

    // Sets up the tables for rows of `format` indexing `colours` (ignored
    // for direct-colour formats).
    void PrepareFor(QImage::Format format, const QList<QRgb>& colours);
    // Maps `width` pixels of one source row into `target`.
    void MapRow(const uchar* source, uchar* target, int width);

    // Maps a whole picture into `working`, a Format_Indexed8 image of the
    // same size.
    void MapImage(const QImage& source, QImage& working);

private:
    uint8_t NearestOpaque(QRgb colour) const;
    uint8_t Cached(QRgb colour);

    struct BaseColour {
        int red;
        int green;
        int blue;
        uint8_t index;
    };
    std::vector<BaseColour> m_distinct;  // first entry of each colour, in index order

    QImage::Format m_format = QImage::Format_Invalid;
    std::array<uint8_t, 256> m_byteTable{};    // 8-bit rows: source byte -> base index
    std::array<uint64_t, 256> m_eightPixels{};  // 1-bit rows: source byte -> 8 base indexes

    // Direct-colour rows: open hash of recent colours.
    std::vector<uint32_t> m_cacheKeys;  // 0 = empty, else RGB + 1
    std::vector<uint8_t> m_cacheValues;
};
