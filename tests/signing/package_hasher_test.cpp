// The digest taken piece by piece on the hasher's own thread is the one hash
// of the whole, however the bytes are cut and whatever their number.
#include "signing/package_hasher.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

TEST(PackageHasher, EqualsTheHashOfTheWholeHoweverThePiecesCome) {
  ASSERT_GE(sodium_init(), 0);
  std::mt19937 generator(7);
  std::vector<std::uint8_t> bytes(3 * 256 * 1024 + 1000);
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(generator());
  struct Case {
    std::size_t size;
    std::size_t piece;  // the size of each Add
  };
  const Case cases[] = {
      {0, 1},                        // nothing added
      {1, 1},                        //
      {256 * 1024, 256 * 1024},      // one buffer exactly
      {256 * 1024 + 1, 256 * 1024},  // and one byte in the other
      {bytes.size(), 4096},          // many small pieces, both buffers in turn
      {bytes.size(), 600 * 1024},    // pieces larger than a buffer
      {bytes.size(), bytes.size()},  // everything at once
  };
  for (const Case& c : cases) {
    signing::PackageDigest want{};
    crypto_generichash(want.data(), want.size(), bytes.data(), c.size, nullptr, 0);
    signing::PackageHasher hasher;
    for (std::size_t at = 0; at < c.size; at += c.piece) {
      hasher.Add(bytes.data() + at, std::min(c.piece, c.size - at));
    }
    EXPECT_EQ(hasher.Finish(), want) << c.size << " in pieces of " << c.piece;
  }
}

}  // namespace
