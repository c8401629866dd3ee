// ByteRangesDecoder on any bytes (a multipart/byteranges body with the
// boundary "B" of a file of 4096 bytes). The table of tests/http pins the
// verdicts; here the body is decoded whole and again in pieces that the
// input's hash chooses: the verdict and the data written must not depend on
// how the bytes arrived, and nothing lies outside the file.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "http/byte_ranges.h"

namespace {

constexpr std::int64_t kFileSize = 4096;

// Decodes `input` in pieces of at most `piece(at)` bytes into a file image.
template <typename Piece>
http::ByteRangesDecoder::State Decode(std::string_view input, Piece piece, std::string& file) {
  http::ByteRangesDecoder decoder("B", kFileSize);
  file.assign(static_cast<std::size_t>(kFileSize), '\0');
  for (std::size_t at = 0; at < input.size();) {
    const std::size_t n = std::min(piece(), input.size() - at);
    decoder.Decode(
        input.data() + at, n, [&](std::int64_t offset, const char* data, std::size_t size) {
          FUZZ_CHECK(offset >= 0 && offset + static_cast<std::int64_t>(size) <= kFileSize);
          file.replace(static_cast<std::size_t>(offset), size, data, size);
          return true;
        });
    at += n;
  }
  return decoder.state();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::AsText(data, size);
  std::string whole;
  std::string pieces;
  const auto once = Decode(
      input, [&] { return input.size(); }, whole);
  std::uint32_t h = fuzz::HashOf(input);
  const auto split = Decode(
      input,
      [&] {
        h = h * 1103515245u + 12345u;
        return std::size_t{1} + h % 17;
      },
      pieces);
  FUZZ_CHECK(once == split);
  FUZZ_CHECK(whole == pieces);
  return 0;
}
