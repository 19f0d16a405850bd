// Vemotrace_packed: the one-bit working bitmap (see the header).
//
// The words come from calloc: for anything larger than a few pages the
// allocator maps fresh zero pages, which cost nothing until written. That
// is why rows of paper are skipped rather than written as zeros.
#include "trace/Vemotrace_packed.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Bit i set where byte i of the 8 bytes at `bytes` is 0 (ink).
uint64_t InkBitsOf8(const uint8_t* bytes) {
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t v;
        std::memcpy(&v, bytes, sizeof v);
        constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
        // High bit of each byte set exactly where the byte is 0.
        const uint64_t zero = ~(((v & kLow7) + kLow7) | v | kLow7);
        // Gathers the eight high bits, byte i to bit i of the top byte.
        return ((zero >> 7) * 0x0102040810204080ULL) >> 56;
    } else {
        uint64_t bits = 0;
        for (unsigned i = 0; i < 8; ++i) bits |= uint64_t{bytes[i] == 0} << i;
        return bits;
    }
}

}  // namespace

void PackedBitmap::FreeWords::operator()(uint64_t* words) const { std::free(words); }

PackedBitmap::PackedBitmap(int32_t width, int32_t height) : m_width(width), m_height(height) {
    if (IsEmpty()) return;
    m_wordsPerRow = (static_cast<std::size_t>(width) + 63) / 64;
    const std::size_t count = m_wordsPerRow * static_cast<std::size_t>(height);
    m_words.reset(static_cast<uint64_t*>(std::calloc(count, sizeof(uint64_t))));
    if (!m_words) throw std::bad_alloc();
    m_rowHasInk.assign(static_cast<std::size_t>(height), 0);
}

PackedBitmap PackedBitmap::FromBytes(const BitmapView& bitmap) {
    PackedBitmap packed(bitmap.width, bitmap.height);
    if (packed.IsEmpty()) return packed;
    const int32_t width = bitmap.width;
    std::vector<uint64_t> row(packed.m_wordsPerRow);
    for (int32_t y = 0; y < bitmap.height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        const uint8_t* pixels = bitmap.Row(y);
        int32_t x = 0;
        for (; x + 8 <= width; x += 8) row[x / 64] |= InkBitsOf8(pixels + x) << (x % 64);
        for (; x < width; ++x) row[x / 64] |= uint64_t{pixels[x] == 0} << (x % 64);
        packed.PutRow(y, row.data());
    }
    return packed;
}

PackedBitmap PackedBitmap::Clone() const {
    PackedBitmap copy(m_width, m_height);
    for (int32_t y = 0; y < m_height; ++y) {
        if (RowHasInk(y)) copy.PutRow(y, Row(y));
    }
    return copy;
}

void PackedBitmap::PutRow(int32_t y, const uint64_t* words) {
    uint64_t any = 0;
    for (std::size_t i = 0; i < m_wordsPerRow; ++i) any |= words[i];
    if (any == 0) return;
    std::memcpy(Row(y), words, m_wordsPerRow * sizeof(uint64_t));
    MarkInk(y);
}
