// BlockMapReader on any bytes: fed whole and again in pieces that the
// input's hash chooses, the verdict and the map must be the same, and an
// accepted map describes its package consistently.
#include <algorithm>
#include <cstdint>
#include <optional>

#include "delta/block_map.h"
#include "fuzz_support.h"

namespace {

template <typename Piece>
std::optional<delta::BlockMap> Read(const std::uint8_t* data, std::size_t size, Piece piece) {
  delta::BlockMapReader reader;
  for (std::size_t at = 0; at < size;) {
    const std::size_t n = std::min(piece(), size - at);
    if (!reader.Feed(data + at, n)) return std::nullopt;
    at += n;
  }
  return reader.Finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (sodium_init() < 0) return 0;
  const std::optional<delta::BlockMap> once = Read(data, size, [&] { return size; });
  std::uint32_t h = fuzz::HashOf(fuzz::AsText(data, size));
  const std::optional<delta::BlockMap> split = Read(data, size, [&] {
    h = h * 1103515245u + 12345u;
    return std::size_t{1} + h % 64;
  });
  FUZZ_CHECK(once.has_value() == split.has_value());
  if (!once) return 0;
  FUZZ_CHECK(once->weak == split->weak && once->strong == split->strong &&
             once->packageHash == split->packageHash);
  FUZZ_CHECK(static_cast<std::int64_t>(size) == delta::BlockMapSize(once->BlockCount()));
  FUZZ_CHECK(once->BlockCount() <= delta::kMaxBlocks && once->packageSize > 0);
  FUZZ_CHECK(once->BlockOffset(once->BlockCount() - 1) < once->packageSize);
  return 0;
}
