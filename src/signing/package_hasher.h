// A package's digest, the BLAKE2b-512 hash of its bytes that an "ED"
// signature signs, taken piece by piece while the bytes pass for another
// reason (a copy, a read), so that no second pass over the file is needed.
// The hashing runs on a thread of its own, a piece behind the caller, so
// that a copy and its hash take about the time of the slower of the two;
// where no thread can be had, each piece is hashed as it comes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace signing {

inline constexpr std::size_t kPackageDigestSize = 64;
using PackageDigest = std::array<std::uint8_t, kPackageDigestSize>;

class PackageHasher {
 public:
  PackageHasher();
  ~PackageHasher();
  PackageHasher(const PackageHasher&) = delete;
  PackageHasher& operator=(const PackageHasher&) = delete;

  // The package's next bytes, in order.
  void Add(const std::uint8_t* data, std::size_t size);
  // The digest of every byte added.
  PackageDigest Finish();

 private:
  struct Pipeline;
  std::unique_ptr<Pipeline> pipeline_;
};

}  // namespace signing
