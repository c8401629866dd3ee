// A package's block map: what a client needs to build the package from the
// blocks it already holds and to ask the server only for the rest. The
// vendor publishes it beside the package as PACKAGE.blockmap
// (tools/blockmap). It needs no signature: the package built with its help
// is checked against the map's hash of the whole package and then, as every
// package is, against the package's own signature.
//
// Version 2, integers little-endian:
//   "KVBM"           4 bytes
//   version          uint32, 2
//   block size       uint32, a power of two from kMinBlockSize to kMaxBlockSize
//   package size     uint64, at least 1
//   blocks           one entry of 12 bytes per block of the package, the
//                    last block shorter where the size ends within it: its
//                    weak checksum (weak_checksum.h, uint32) and its strong
//                    hash (the first 8 bytes of its BLAKE2b-128, as a uint64)
//   package hash     64 bytes, BLAKE2b-512 of the whole package: the hash a
//                    package signature signs, so that one pass over the
//                    package built serves both checks
//   map check        16 bytes, BLAKE2b-128 of every byte before it
// A map with more than kMaxBlocks blocks, or any byte more or less, is
// refused, so that no map can make a client hold more than a few MB.
#pragma once

#include <sodium.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/files.h"

namespace delta {

inline constexpr char kBlockMapSuffix[] = ".blockmap";
inline constexpr std::uint32_t kBlockMapVersion = 2;
inline constexpr std::uint32_t kMinBlockSize = 2048;
inline constexpr std::uint32_t kMaxBlockSize = 1u << 24;
inline constexpr std::int64_t kMaxBlocks = 1 << 18;
inline constexpr std::size_t kBlockMapHeaderSize = 20;
inline constexpr std::size_t kBlockEntrySize = 12;
inline constexpr std::size_t kPackageHashSize = 64;
inline constexpr std::size_t kMapCheckSize = 16;
// The size of a map of `blocks` blocks.
constexpr std::int64_t BlockMapSize(std::int64_t blocks) {
  return static_cast<std::int64_t>(kBlockMapHeaderSize + kPackageHashSize + kMapCheckSize) +
         blocks * static_cast<std::int64_t>(kBlockEntrySize);
}
inline constexpr std::int64_t kMaxBlockMapSize = BlockMapSize(kMaxBlocks);

using PackageHash = std::array<std::uint8_t, kPackageHashSize>;

struct BlockMap {
  std::uint32_t blockSize = 0;
  std::int64_t packageSize = 0;
  std::vector<std::uint32_t> weak;    // per block
  std::vector<std::uint64_t> strong;  // per block
  PackageHash packageHash{};

  std::int64_t BlockCount() const { return static_cast<std::int64_t>(weak.size()); }
  std::int64_t BlockOffset(std::int64_t block) const { return block * blockSize; }
  std::uint32_t BlockLength(std::int64_t block) const {
    const std::int64_t left = packageSize - BlockOffset(block);
    return left < blockSize ? static_cast<std::uint32_t>(left) : blockSize;
  }
};

// The block size the map of a package of `packageSize` bytes gets: 2 KiB,
// doubled as often as the package needs to stay within kMaxBlocks blocks.
// 0 for a package too large for any map.
std::uint32_t BlockSizeFor(std::int64_t packageSize);

// A block's strong hash.
std::uint64_t StrongHash(const std::uint8_t* data, std::size_t size);

// Reads the package from `package`'s start and writes its map to `map`.
// False when a file cannot be read or written, or the package is empty or
// too large for a map.
bool WriteBlockMap(platform::File& package, platform::File& map);

// Reads a map as its bytes arrive, holding only the block entries; anything
// that is not exactly a map of this version is refused.
class BlockMapReader {
 public:
  BlockMapReader();
  // The next bytes; false once the map is refused.
  bool Feed(const std::uint8_t* bytes, std::size_t size);
  // After the last bytes: the map, unless it was refused or cut short.
  std::optional<BlockMap> Finish();

 private:
  bool TakeHeader();

  BlockMap map_;
  bool refused_ = false;
  std::int64_t taken_ = 0;  // bytes fed so far
  std::int64_t blocks_ = 0;
  std::int64_t size_ = 0;  // the whole map's, once the header came
  std::array<std::uint8_t, kBlockMapHeaderSize> pending_{};  // a field cut between feeds
  std::size_t pendingBytes_ = 0;
  std::array<std::uint8_t, kMapCheckSize> check_{};  // the map check as it came
  crypto_generichash_state checkState_;              // of every byte before the map check
};

// The map in the file `map`, read from its start.
std::optional<BlockMap> ReadBlockMap(platform::File& map);

}  // namespace delta
