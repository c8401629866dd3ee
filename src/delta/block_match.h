// How a package that a block map describes is built from what is at hand:
// the blocks found in a previous package (at any offset, by rolling checksum
// and strong hash), the blocks already at their place in a package built part
// way before, and the spans still to be fetched. Files are read in pieces, so
// memory grows with the number of blocks, never with the packages' sizes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "delta/block_map.h"
#include "platform/files.h"

namespace delta {

// Where each block of the new package comes from: the offset of its bytes in
// the previous package, or one of these.
inline constexpr std::int64_t kFetch = -1;    // from the server
inline constexpr std::int64_t kInPlace = -2;  // already at its place in the package being built
using BlockSources = std::vector<std::int64_t>;

// Asked between pieces of work: true when the caller wants it to stop.
using StopCheck = std::function<bool()>;

struct Span {
  std::int64_t offset = 0;
  std::int64_t length = 0;
};

// Marks kInPlace each block that `target` already holds at its own place.
// False when `target` cannot be read or a stop was asked for.
bool FindBlocksInPlace(const BlockMap& map, platform::File& target, BlockSources& sources,
                       const StopCheck& stop);

// Tries every offset of `previous` for the blocks still marked kFetch and
// records where it finds them. False when `previous` cannot be read or a stop
// was asked for.
bool FindBlocksIn(const BlockMap& map, platform::File& previous, BlockSources& sources,
                  const StopCheck& stop);

// The spans of the blocks marked kFetch, in order; neighbouring blocks make
// one span, and so do spans closer than kSpanMergeGap.
inline constexpr std::int64_t kSpanMergeGap = 128;
std::vector<Span> SpansToFetch(const BlockMap& map, const BlockSources& sources);

// Builds the package in `target` (every block not taken from `previous` is
// at its place there) in the order of its bytes, copying the blocks from
// `previous`: its hash when the whole is the package the map describes.
// `copied`, where given, is called once `previous` is read no more, while
// the last pieces are still being hashed (unless a stop was asked for).
std::optional<PackageHash> AssemblePackage(const BlockMap& map, const BlockSources& sources,
                                           platform::File& previous, platform::File& target,
                                           const StopCheck& stop,
                                           const std::function<void()>& copied = {});

}  // namespace delta
