// The weak checksum of a block: quick to compute and quick to move along a
// file one byte at a time, so that every offset of a file can be tried as
// the start of a known block; a block's strong hash then decides. Two sums
// modulo 2^16 over a window of L bytes x[0..L-1]: a, the sum of the bytes,
// and b, the sum of (L - i) * x[i]. Moving the window on by one byte takes
// the first byte out of both and adds the new last byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace delta {

class WeakChecksum {
 public:
  // The checksum of the `size` bytes at `data`.
  void Reset(const std::uint8_t* data, std::size_t size) {
    std::uint32_t a = 0;
    std::uint32_t weighted = 0;  // the sum of i * x[i]
    for (std::size_t i = 0; i < size; ++i) {
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
  std::uint32_t length_ = 0;
  std::uint32_t a_ = 0;
  std::uint32_t b_ = 0;
};

}  // namespace delta
