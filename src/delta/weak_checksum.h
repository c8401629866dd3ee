// The weak checksum of a block: quick to compute and quick to move along a
// file one byte at a time, so that every offset of a file can be tried as
// the start of a known block; a block's strong hash then decides. Two sums
// modulo 2^16 over a window of L bytes x[0..L-1]: a, the sum of the bytes,
// and b, the sum of (L - i) * x[i]. Moving the window on by one byte takes
// the first byte out of both and adds the new last byte.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace delta {

class WeakChecksum {
 public:
  // The checksum of the `size` bytes at `data`.
  void Reset(const std::uint8_t* data, std::size_t size) {
    std::uint32_t a = 0;
    std::uint32_t weighted = 0;  // the sum of i * x[i]
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: every block of the previous package is summed
    // once, so this is most of the search where the packages share most.
    const std::size_t chunks = size / 16;
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    const __m128i high = _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15);
    __m128i sums = zero;     // the bytes of the chunks so far
    __m128i before = zero;   // over the chunks, the bytes before each
    __m128i inChunk = zero;  // over the chunks, j * x[j] within each
    for (std::size_t c = 0; c < chunks; ++c) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * c));
      before = _mm_add_epi32(before, sums);
      sums = _mm_add_epi32(sums, _mm_sad_epu8(x, zero));
      inChunk = _mm_add_epi32(inChunk, _mm_madd_epi16(_mm_unpacklo_epi8(x, zero), low));
      inChunk = _mm_add_epi32(inChunk, _mm_madd_epi16(_mm_unpackhi_epi8(x, zero), high));
    }
    // The byte j of chunk c weighs 16 c + j. Over all chunks, c times a
    // chunk's sum makes (chunks - 1) times all their bytes, less the bytes
    // before each chunk, summed over the chunks.
    a = Lane(sums, 0) + Lane(sums, 2);
    const std::uint32_t last = static_cast<std::uint32_t>(chunks) - 1;
    weighted = Lane(inChunk, 0) + Lane(inChunk, 1) + Lane(inChunk, 2) + Lane(inChunk, 3) +
               16 * (last * a - (Lane(before, 0) + Lane(before, 2)));
    i = chunks * 16;
#endif
    for (; i < size; ++i) {
      a += data[i];
      weighted += static_cast<std::uint32_t>(i) * data[i];
    }
    length_ = static_cast<std::uint32_t>(size);
    a_ = a;
    b_ = length_ * a - weighted;
  }
  // The window moves on by one byte: `out` was its first byte, `in` is the
  // byte after its last.
  void Roll(std::uint8_t out, std::uint8_t in) {
    a_ += static_cast<std::uint32_t>(in) - out;
    b_ += a_ - length_ * out;
  }
  // Unsigned arithmetic wraps modulo 2^32, which keeps both sums right
  // modulo 2^16.
  std::uint32_t value() const { return (a_ & 0xFFFFu) | (b_ << 16); }

 private:
#if defined(__SSE2__)
  static std::uint32_t Lane(__m128i v, int lane) {
    alignas(16) std::uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
    return lanes[lane];
  }
#endif

  std::uint32_t length_ = 0;
  std::uint32_t a_ = 0;
  std::uint32_t b_ = 0;
};

}  // namespace delta
