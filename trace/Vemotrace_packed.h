// Vemotrace_packed: the working bitmap as the trace reads it, one bit per
// pixel.
//
// Bit x % 64 of word x / 64 of row y is set when pixel (x, y) is ink; the
// bits after the last column of a row are 0. A drawing is mostly paper, so
// the rows are kept lazily: the words come from the system zero-filled and
// a row without ink is never written, nor read by the trace (RowHasInk).
// A blank A0 scan then costs no memory beyond the bookkeeping, and an
// inked one costs an eighth of a byte per pixel.
//
// Filled either straight from a file's rows (the image loader) or from a
// one-byte-per-pixel BitmapView (FromBytes). Owns its words; moves, never
// copies implicitly. Throws std::bad_alloc when the words cannot be had.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "trace/Vemotrace_types.h"

class PackedBitmap {
public:
    PackedBitmap() = default;
    // A bitmap of the given size, all paper. A size of 0 (or less) in
    // either direction gives an empty bitmap that still reports that size.
    PackedBitmap(int32_t width, int32_t height);
    PackedBitmap(PackedBitmap&&) noexcept = default;
    PackedBitmap& operator=(PackedBitmap&&) noexcept = default;

    // The ink of a one-byte-per-pixel bitmap (ink where the byte is 0).
    static PackedBitmap FromBytes(const BitmapView& bitmap);
    // A separate copy of the same pixels (only its inked rows are written).
    PackedBitmap Clone() const;

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    bool IsEmpty() const { return m_width <= 0 || m_height <= 0; }
    std::size_t WordsPerRow() const { return m_wordsPerRow; }

    bool RowHasInk(int32_t y) const { return m_rowHasInk[static_cast<std::size_t>(y)] != 0; }
    bool IsInk(int32_t x, int32_t y) const { return (Row(y)[x / 64] >> (x % 64)) & 1; }
    // The words of row y. Reading a row without ink gives zeros.
    const uint64_t* Row(int32_t y) const { return m_words.get() + static_cast<std::size_t>(y) * m_wordsPerRow; }
    uint64_t* Row(int32_t y) { return m_words.get() + static_cast<std::size_t>(y) * m_wordsPerRow; }

    // Stores row y from WordsPerRow() words (spare bits 0); a row of paper
    // is skipped. Rows may be stored in any order, each at most once.
    void PutRow(int32_t y, const uint64_t* words);
    // Marks row y as holding ink after its words were written in place.
    void MarkInk(int32_t y) { m_rowHasInk[static_cast<std::size_t>(y)] = 1; }

private:
    struct FreeWords {
        void operator()(uint64_t* words) const;
    };

    int32_t m_width = 0;
    int32_t m_height = 0;
    std::size_t m_wordsPerRow = 0;
    std::unique_ptr<uint64_t[], FreeWords> m_words;
    std::vector<uint8_t> m_rowHasInk;
};
