#include "delta/block_map.h"

#include <algorithm>
#include <cstring>

#include "delta/file_pieces.h"
#include "delta/weak_checksum.h"

namespace delta {
namespace {

constexpr std::uint8_t kMagic[4] = {'K', 'V', 'B', 'M'};
// Blocks are read and written this many bytes at a time, at least.
constexpr std::size_t kIoBytes = 1 << 20;

void PutLittleEndian(std::uint8_t* out, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t GetLittleEndian(const std::uint8_t* in, std::size_t bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes; i-- > 0;) value = value << 8 | in[i];
  return value;
}

// Writes the map's bytes and hashes them for its check.
class MapWriter {
 public:
  explicit MapWriter(platform::File& file) : file_(file) {
    crypto_generichash_init(&state_, nullptr, 0, kMapCheckSize);
  }
  bool Put(const std::uint8_t* bytes, std::size_t size) {
    crypto_generichash_update(&state_, bytes, size);
    return file_.Write(bytes, size);
  }
  bool PutCheck() {
    std::array<std::uint8_t, kMapCheckSize> check;
    crypto_generichash_final(&state_, check.data(), check.size());
    return file_.Write(check.data(), check.size());
  }

 private:
  platform::File& file_;
  crypto_generichash_state state_;
};

}  // namespace

std::uint32_t BlockSizeFor(std::int64_t packageSize) {
  std::uint32_t size = kMinBlockSize;
  while (size < kMaxBlockSize && (packageSize + size - 1) / size > kMaxBlocks) size *= 2;
  return packageSize > 0 && (packageSize + size - 1) / size <= kMaxBlocks ? size : 0;
}

std::uint64_t StrongHash(const std::uint8_t* data, std::size_t size) {
  std::uint8_t hash[crypto_generichash_BYTES_MIN];
  crypto_generichash(hash, sizeof hash, data, size, nullptr, 0);
  return GetLittleEndian(hash, 8);
}

bool WriteBlockMap(platform::File& package, platform::File& map) {
  const std::int64_t size = SizeOf(package);
  const std::uint32_t blockSize = BlockSizeFor(size);
  if (sodium_init() < 0 || blockSize == 0) return false;

  MapWriter out(map);
  std::uint8_t header[kBlockMapHeaderSize];
  std::memcpy(header, kMagic, sizeof kMagic);
  PutLittleEndian(header + 4, kBlockMapVersion, 4);
  PutLittleEndian(header + 8, blockSize, 4);
  PutLittleEndian(header + 12, static_cast<std::uint64_t>(size), 8);
  if (!out.Put(header, sizeof header)) return false;

  crypto_generichash_state whole;
  crypto_generichash_init(&whole, nullptr, 0, kPackageHashSize);
  std::vector<std::uint8_t> data(std::max<std::size_t>(blockSize, kIoBytes));
  std::vector<std::uint8_t> entries;
  WeakChecksum weak;
  for (std::int64_t done = 0; done < size;) {
    const std::int64_t n = ReadFull(package, data.data(), data.size());
    if (n <= 0 || n > size - done) return false;
    crypto_generichash_update(&whole, data.data(), static_cast<unsigned long long>(n));
    entries.assign((static_cast<std::size_t>(n) + blockSize - 1) / blockSize * kBlockEntrySize, 0);
    for (std::size_t at = 0, entry = 0; at < static_cast<std::size_t>(n);
         at += blockSize, entry += kBlockEntrySize) {
      const std::size_t length = std::min<std::size_t>(blockSize, static_cast<std::size_t>(n) - at);
      weak.Reset(data.data() + at, length);
      PutLittleEndian(&entries[entry], weak.value(), 4);
      PutLittleEndian(&entries[entry + 4], StrongHash(data.data() + at, length), 8);
    }
    if (!out.Put(entries.data(), entries.size())) return false;
    done += n;
  }
  PackageHash hash;
  crypto_generichash_final(&whole, hash.data(), hash.size());
  return out.Put(hash.data(), hash.size()) && out.PutCheck();
}

BlockMapReader::BlockMapReader() {
  crypto_generichash_init(&checkState_, nullptr, 0, kMapCheckSize);
}

bool BlockMapReader::TakeHeader() {
  const std::uint8_t* h = pending_.data();
  const auto version = GetLittleEndian(h + 4, 4);
  const auto blockSize = static_cast<std::uint32_t>(GetLittleEndian(h + 8, 4));
  const auto packageSize = GetLittleEndian(h + 12, 8);
  if (std::memcmp(h, kMagic, sizeof kMagic) != 0 || version != kBlockMapVersion ||
      blockSize < kMinBlockSize || blockSize > kMaxBlockSize ||
      (blockSize & (blockSize - 1)) != 0 || packageSize == 0 ||
      packageSize > static_cast<std::uint64_t>(kMaxBlocks) * blockSize) {
    return false;
  }
  map_.blockSize = blockSize;
  map_.packageSize = static_cast<std::int64_t>(packageSize);
  blocks_ = (map_.packageSize + blockSize - 1) / blockSize;
  map_.weak.reserve(static_cast<std::size_t>(blocks_));
  map_.strong.reserve(static_cast<std::size_t>(blocks_));
  size_ = BlockMapSize(blocks_);
  return true;
}

bool BlockMapReader::Feed(const std::uint8_t* bytes, std::size_t size) {
  for (std::size_t at = 0; at < size && !refused_;) {
    const std::int64_t checkStart =
        size_ > 0 ? size_ - static_cast<std::int64_t>(kMapCheckSize) : 0;
    // Which field the next byte belongs to, and how many bytes it has.
    std::size_t field = 0;
    if (size_ == 0) {
      field = kBlockMapHeaderSize;
    } else if (taken_ >= size_) {
      refused_ = true;  // a byte past the map
      break;
    } else if (taken_ >= checkStart) {
      field = kMapCheckSize;
    } else if (map_.BlockCount() < blocks_) {
      field = kBlockEntrySize;
    } else {
      field = kPackageHashSize;
    }
    std::uint8_t* target = field == kMapCheckSize      ? check_.data()
                           : field == kPackageHashSize ? map_.packageHash.data()
                                                       : pending_.data();
    const std::size_t take = std::min(field - pendingBytes_, size - at);
    std::memcpy(target + pendingBytes_, bytes + at, take);
    if (field != kMapCheckSize) crypto_generichash_update(&checkState_, bytes + at, take);
    pendingBytes_ += take;
    taken_ += static_cast<std::int64_t>(take);
    at += take;
    if (pendingBytes_ < field) break;
    pendingBytes_ = 0;
    if (field == kBlockMapHeaderSize) {
      refused_ = !TakeHeader();
    } else if (field == kBlockEntrySize) {
      map_.weak.push_back(static_cast<std::uint32_t>(GetLittleEndian(pending_.data(), 4)));
      map_.strong.push_back(GetLittleEndian(pending_.data() + 4, 8));
    }
  }
  return !refused_;
}

std::optional<BlockMap> BlockMapReader::Finish() {
  std::array<std::uint8_t, kMapCheckSize> check;
  crypto_generichash_final(&checkState_, check.data(), check.size());
  if (refused_ || size_ == 0 || taken_ != size_ || check != check_) return std::nullopt;
  return std::move(map_);
}

std::optional<BlockMap> ReadBlockMap(platform::File& map) {
  if (sodium_init() < 0) return std::nullopt;
  BlockMapReader reader;
  std::vector<std::uint8_t> data(64 * 1024);
  for (;;) {
    const std::int64_t n = map.Read(data.data(), data.size());
    if (n < 0) return std::nullopt;
    if (n == 0) return reader.Finish();
    if (!reader.Feed(data.data(), static_cast<std::size_t>(n))) return std::nullopt;
  }
}

}  // namespace delta
