#include "delta/block_match.h"

#include <sodium.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "delta/file_pieces.h"
#include "delta/weak_checksum.h"

namespace delta {
namespace {

// Files are searched this many bytes at a time, at least.
constexpr std::size_t kReadBytes = 1 << 20;
// A package is built, and hashed, this many bytes at a time, at least.
constexpr std::size_t kBuildBytes = 256 * 1024;
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// The full-length blocks still to be found, by weak checksum: a table of
// chains with one entry per distinct content (weak checksum and strong
// hash), each entry leading the list of the other blocks with that content,
// so that a package of many equal blocks is never searched block by block.
class BlockIndex {
 public:
  BlockIndex(const BlockMap& map, BlockSources& sources)
      : map_(map),
        sources_(sources),
        next_(static_cast<std::size_t>(map.BlockCount()), kNone),
        same_(static_cast<std::size_t>(map.BlockCount()), kNone) {
    while ((std::int64_t{1} << bits_) < 2 * map.BlockCount()) ++bits_;
    heads_.assign(std::size_t{1} << bits_, kNone);
    seenBits_ = std::max(bits_ + 3, 9);
    seen_.assign(std::size_t{1} << (seenBits_ - 6), 0);
    for (std::uint32_t block = 0; block < map.BlockCount(); ++block) {
      if (sources[block] != kFetch || map.BlockLength(block) != map.blockSize) continue;
      const std::uint32_t bit = Seen(map.weak[block]);
      seen_[bit >> 6] |= std::uint64_t{1} << (bit & 63);
      std::uint32_t& head = heads_[Bucket(map.weak[block])];
      std::uint32_t entry = head;
      while (entry != kNone && !SameContent(entry, block)) entry = next_[entry];
      if (entry != kNone) {
        same_[block] = same_[entry];
        same_[entry] = block;
      } else {
        next_[block] = head;
        head = block;
      }
    }
  }

  // False where no block still to be found has this weak checksum: a table
  // of a bit per checksum's place, small enough to stay in the processor's
  // nearest cache while the search rolls through bytes that match nothing.
  bool MayHold(std::uint32_t weak) const {
    const std::uint32_t bit = Seen(weak);
    return (seen_[bit >> 6] >> (bit & 63)) & 1;
  }

  // Whether the full-length window at `data` is a block still to be found;
  // every block of its content then comes from `offset`. The block, or
  // kNone.
  std::uint32_t Take(std::uint32_t weak, const std::uint8_t* data, std::int64_t offset) {
    std::uint32_t entry = heads_[Bucket(weak)];
    bool hashed = false;
    std::uint64_t strong = 0;
    for (; entry != kNone; entry = next_[entry]) {
      if (map_.weak[entry] != weak || sources_[entry] != kFetch) continue;
      if (!hashed) {
        strong = StrongHash(data, map_.blockSize);
        hashed = true;
      }
      if (map_.strong[entry] != strong) continue;
      for (std::uint32_t block = entry; block != kNone; block = same_[block]) {
        sources_[block] = offset;
      }
      return entry;
    }
    return kNone;
  }

  // Whether the window right after the block found last is the block after
  // that one, by its weak checksum alone: in the stretches both packages
  // share, block follows block, and the strong hash of each would only
  // confirm what the hash of the whole package built confirms anyway (a
  // false match there costs the whole download, never a wrong package).
  bool TakeNext(std::uint32_t previous, std::uint32_t weak, std::int64_t offset) {
    const std::uint32_t next = previous + 1;
    if (next >= sources_.size() || sources_[next] != kFetch || map_.weak[next] != weak ||
        map_.BlockLength(next) != map_.blockSize) {
      return false;
    }
    sources_[next] = offset;
    return true;
  }

 private:
  std::size_t Bucket(std::uint32_t weak) const { return (weak * 0x9E3779B1u) >> (32 - bits_); }
  std::uint32_t Seen(std::uint32_t weak) const { return (weak * 0x9E3779B1u) >> (32 - seenBits_); }
  bool SameContent(std::uint32_t a, std::uint32_t b) const {
    return map_.weak[a] == map_.weak[b] && map_.strong[a] == map_.strong[b];
  }

  const BlockMap& map_;
  BlockSources& sources_;
  int bits_ = 1;
  int seenBits_ = 9;  // sixteen bits of the table per block or more
  std::vector<std::uint32_t> heads_;
  std::vector<std::uint64_t> seen_;
  std::vector<std::uint32_t> next_;  // the next entry in the same chain
  std::vector<std::uint32_t> same_;  // the next block of the same content
};

bool Matches(const BlockMap& map, std::int64_t block, const std::uint8_t* data) {
  const std::uint32_t length = map.BlockLength(block);
  WeakChecksum weak;
  weak.Reset(data, length);
  const auto at = static_cast<std::size_t>(block);
  return weak.value() == map.weak[at] && StrongHash(data, length) == map.strong[at];
}

bool Stopped(const StopCheck& stop) { return stop && stop(); }

// The hash of a package being built, taken on a thread of its own that reads
// the package behind the copying: the copy never waits for the hash (the
// slower of the two), so whatever follows the copy runs beside the hash.
// Where no thread can be had, the package is hashed once it is whole.
class HashBehind {
 public:
  HashBehind(platform::File& target, std::int64_t size) : target_(target), size_(size) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // Finish hashes.
    }
  }
  ~HashBehind() {
    if (!thread_.joinable()) return;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      abandoned_ = true;
    }
    changed_.notify_one();
    thread_.join();
  }
  HashBehind(const HashBehind&) = delete;
  HashBehind& operator=(const HashBehind&) = delete;

  // Every byte before `offset` is in place.
  void Reached(std::int64_t offset) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      written_ = offset;
    }
    changed_.notify_one();
  }

  // The hash, once every byte is in place; none where the package could not
  // be read.
  std::optional<PackageHash> Finish() {
    if (thread_.joinable()) {
      thread_.join();
    } else {
      Run();
    }
    return hash_;
  }

 private:
  void Run() {
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, kPackageHashSize);
    std::vector<std::uint8_t> data(kBuildBytes);
    for (std::int64_t at = 0; at < size_;) {
      std::int64_t until = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return written_ > at || abandoned_; });
        if (abandoned_) return;
        until = written_;
      }
      for (; at < until;) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(until - at, static_cast<std::int64_t>(data.size())));
        if (!ReadAt(target_, at, data.data(), n)) return;
        crypto_generichash_update(&state, data.data(), n);
        at += static_cast<std::int64_t>(n);
      }
    }
    PackageHash hash;
    crypto_generichash_final(&state, hash.data(), hash.size());
    hash_ = hash;
  }

  platform::File& target_;
  const std::int64_t size_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::int64_t written_ = 0;
  bool abandoned_ = false;
  std::optional<PackageHash> hash_;
  std::thread thread_;
};

}  // namespace

bool FindBlocksInPlace(const BlockMap& map, platform::File& target, BlockSources& sources,
                       const StopCheck& stop) {
  const std::int64_t size = SizeOf(target);
  if (sodium_init() < 0 || size < 0) return false;
  // A multiple of the block size: pieces begin with a block.
  std::vector<std::uint8_t> data(std::max<std::size_t>(kReadBytes, map.blockSize));
  for (std::int64_t first = 0; first < map.BlockCount() && map.BlockOffset(first) < size;) {
    if (Stopped(stop)) return false;
    const std::int64_t n = ReadFull(target, data.data(), data.size());
    if (n <= 0) return false;
    std::int64_t block = first;
    for (; block < map.BlockCount() && map.BlockOffset(block - first) < n; ++block) {
      const std::int64_t at = map.BlockOffset(block - first);
      if (at + map.BlockLength(block) <= n && Matches(map, block, data.data() + at)) {
        sources[static_cast<std::size_t>(block)] = kInPlace;
      }
    }
    first = block;
  }
  return true;
}

bool FindBlocksIn(const BlockMap& map, platform::File& previous, BlockSources& sources,
                  const StopCheck& stop) {
  if (sodium_init() < 0 || !previous.Seek(0)) return false;
  const std::size_t window = map.blockSize;
  BlockIndex index(map, sources);
  std::vector<std::uint8_t> data(std::max<std::size_t>(kReadBytes, window) + window);
  std::size_t start = 0;   // the window's first byte in data
  std::size_t filled = 0;  // bytes in data
  std::int64_t base = 0;   // the offset in the file of data[0]
  bool ended = false;
  WeakChecksum weak;
  bool fresh = true;            // the checksum is to be computed anew at start
  std::uint32_t found = kNone;  // the block that ends right before start
  for (;;) {
    // The window and the byte after it, for the next roll.
    if (start + window >= filled && !ended) {
      if (Stopped(stop)) return false;
      std::memmove(data.data(), data.data() + start, filled - start);
      base += static_cast<std::int64_t>(start);
      filled -= start;
      start = 0;
      const std::int64_t n = ReadFull(previous, data.data() + filled, data.size() - filled);
      if (n < 0) return false;
      filled += static_cast<std::size_t>(n);
      ended = filled < data.size();
    }
    if (start + window > filled) break;
    if (fresh) {
      weak.Reset(data.data() + start, window);
      fresh = false;
    }
    const std::int64_t offset = base + static_cast<std::int64_t>(start);
    if (found != kNone && index.TakeNext(found, weak.value(), offset)) {
      ++found;
    } else {
      found = index.Take(weak.value(), data.data() + start, offset);
    }
    if (found != kNone) {
      start += window;
      fresh = true;
      continue;
    }
    // On, a byte at a time, to the next window that may be a block.
    if (start + window >= filled) break;
    do {
      weak.Roll(data[start], data[start + window]);
      ++start;
    } while (start + window < filled && !index.MayHold(weak.value()));
  }
  // A last block shorter than the others can only be found at the end.
  const std::int64_t last = map.BlockCount() - 1;
  const std::uint32_t length = map.BlockLength(last);
  const std::int64_t size = base + static_cast<std::int64_t>(filled);
  if (length < map.blockSize && sources[static_cast<std::size_t>(last)] == kFetch &&
      size >= length) {
    if (!ReadAt(previous, size - length, data.data(), length)) return false;
    if (Matches(map, last, data.data())) sources[static_cast<std::size_t>(last)] = size - length;
  }
  return true;
}

std::vector<Span> SpansToFetch(const BlockMap& map, const BlockSources& sources) {
  std::vector<Span> spans;
  for (std::int64_t block = 0; block < map.BlockCount(); ++block) {
    if (sources[static_cast<std::size_t>(block)] != kFetch) continue;
    const std::int64_t offset = map.BlockOffset(block);
    const std::int64_t end = offset + map.BlockLength(block);
    if (!spans.empty() && offset - (spans.back().offset + spans.back().length) <= kSpanMergeGap) {
      spans.back().length = end - spans.back().offset;
    } else {
      spans.push_back({offset, end - offset});
    }
  }
  return spans;
}

std::optional<PackageHash> AssemblePackage(const BlockMap& map, const BlockSources& sources,
                                           platform::File& previous, platform::File& target,
                                           const StopCheck& stop,
                                           const std::function<void()>& copied) {
  if (sodium_init() < 0) return std::nullopt;
  HashBehind hash(target, map.packageSize);
  std::vector<std::uint8_t> data(std::max<std::size_t>(kBuildBytes, map.blockSize));
  for (std::int64_t first = 0; first < map.BlockCount();) {
    if (Stopped(stop)) return std::nullopt;
    // A run of blocks that lie one after another in the same file.
    const std::int64_t from = sources[static_cast<std::size_t>(first)];
    std::size_t length = map.BlockLength(first);
    std::int64_t next = first + 1;
    while (next < map.BlockCount() && length + map.BlockLength(next) <= data.size()) {
      const std::int64_t source = sources[static_cast<std::size_t>(next)];
      if (from >= 0 ? source != from + static_cast<std::int64_t>(length) : source >= 0) break;
      length += map.BlockLength(next++);
    }
    // Blocks fetched or found in place are where they belong already.
    const std::int64_t offset = map.BlockOffset(first);
    if (from >= 0 && (!ReadAt(previous, from, data.data(), length) ||
                      !target.WriteAt(offset, data.data(), length))) {
      return std::nullopt;
    }
    hash.Reached(offset + static_cast<std::int64_t>(length));
    first = next;
  }
  if (copied && !Stopped(stop)) copied();
  const std::optional<PackageHash> whole = hash.Finish();
  if (!whole || *whole != map.packageHash) return std::nullopt;
  return whole;
}

}  // namespace delta
