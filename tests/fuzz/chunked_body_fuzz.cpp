// ChunkedDecoder on any bytes. The table of tests/http pins the verdicts;
// here the bytes are decoded whole and again in pieces that the input's hash
// chooses: the data and the verdict must not depend on how the bytes
// arrived, and the data is never longer than what came in.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "http/chunked_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::AsText(data, size);
  std::string whole(input);
  http::ChunkedDecoder once;
  const std::size_t n = once.Decode(whole.data(), whole.size());
  FUZZ_CHECK(n <= size);
  std::string pieces(input);
  std::string decoded;
  http::ChunkedDecoder split;
  std::uint32_t h = fuzz::HashOf(input);
  for (std::size_t at = 0; at < pieces.size();) {
    const std::size_t piece = std::min<std::size_t>(1 + h % 17, pieces.size() - at);
    h = h * 1103515245u + 12345u;
    decoded.append(pieces.data() + at, split.Decode(pieces.data() + at, piece));
    at += piece;
  }
  FUZZ_CHECK(split.state() == once.state());
  FUZZ_CHECK(decoded == whole.substr(0, n));
  return 0;
}
