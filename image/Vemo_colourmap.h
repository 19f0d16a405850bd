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
// (scans repeat few colours).
//
// Two outputs: one byte per pixel (base indexes, for the windows), or the
// trace's packed row, one bit per pixel set where the base index is 0 (the
// ink). Both come from the same nearest-colour decisions, so the trace sees
// the same ink either way.
//
// Reads: rows in one of the four DibRowFormats. Writes: the target row.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "image/Vemo_dib.h"

class TVemo_colourmap {
public:
    explicit TVemo_colourmap(const std::vector<Rgb>& baseColours);

    // The base index nearest to `colour`.
    uint8_t Nearest(Rgb colour) const;

    // Sets up the tables for rows of `format` indexing `colours` (ignored
    // for direct-colour formats).
    void PrepareFor(DibRowFormat format, const std::vector<Rgb>& colours);
    // Maps `width` pixels of one source row into `target`, one byte each.
    void MapRow(const uint8_t* source, uint8_t* target, int width);
    // Maps `width` pixels of one source row into (width + 63) / 64 words of
    // ink bits: bit x % 64 of word x / 64 for pixel x, spare bits 0.
    // Returns whether any pixel is ink (false: every word is 0).
    bool MapRowToInk(const uint8_t* source, uint64_t* target, int width);

private:
    uint8_t NearestOpaque(Rgb colour) const;
    uint8_t Cached(Rgb colour);

    struct BaseColour {
        int red;
        int green;
        int blue;
        uint8_t index;
    };
    std::vector<BaseColour> m_distinct;  // first entry of each colour, in index order

    DibRowFormat m_format = DibRowFormat::Invalid;
    std::array<uint8_t, 256> m_byteTable{};    // 8-bit rows: source byte -> base index
    std::array<uint64_t, 256> m_eightPixels{};  // 1-bit rows: source byte -> 8 base indexes
    // 1-bit rows to ink: which of the two colours is ink.
    bool m_zeroIsInk = false;
    bool m_oneIsInk = false;

    // Direct-colour rows: open hash of recent colours.
    std::vector<uint32_t> m_cacheKeys;  // 0 = empty, else RGB + 1
    std::vector<uint8_t> m_cacheValues;
};
