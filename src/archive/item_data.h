// Reading the uncompressed data of the current item of an open minizip
// archive. minizip opens the item raw, which checks its local header and
// locates its stored bytes; those are read through the archive's file layer
// in large blocks, and decryption (traditional cipher), inflating (zlib, raw
// deflate) and the CRC-32 check happen here, the same on every system
// whatever minizip was built with. (minizip's own raw reading would copy
// each byte once more and run a CRC-32 over the stored bytes that nothing
// checks.)
#pragma once

#include <minizip/unzip.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "archive/archive_source.h"
#include "archive/traditional_cipher.h"

namespace archive {

enum class ReadStatus {
  kMore,         // bytes delivered, the item goes on
  kEnd,          // the item is complete: sizes and CRC-32 hold
  kBadPassword,  // the encryption header's check byte does not match
  kError,        // unreadable, damaged, truncated, too long or wrong CRC-32
};

struct ReadResult {
  std::size_t bytes = 0;
  ReadStatus status = ReadStatus::kError;
};

// One per reader; its buffers and inflate state are reused for every item.
class ItemDataReader {
 public:
  ItemDataReader() = default;
  ~ItemDataReader();
  ItemDataReader(const ItemDataReader&) = delete;
  ItemDataReader& operator=(const ItemDataReader&) = delete;

  // Opens the current item of `zip`, described by `info`; `source` is the
  // file minizip reads `zip` through. A failure shows in the first Read.
  void Open(unzFile zip, ArchiveSource& source, const unz_file_info64& info,
            const std::optional<std::string>& password);
  // Fills up to `capacity` bytes of `out` with the next uncompressed data.
  ReadResult Read(std::uint8_t* out, std::size_t capacity);
  // Closes the item's data; needed before the archive's cursor moves.
  void Close();

 private:
  ReadResult Fail(ReadStatus status);
  ReadResult ReadStored(std::uint8_t* out, std::size_t capacity);
  ReadResult ReadDeflated(std::uint8_t* out, std::size_t capacity);
  ReadResult Finish(std::size_t bytes);
  // Raw bytes of the item, decrypted; false unless exactly `size` arrived.
  bool ReadRaw(std::uint8_t* buffer, std::size_t size);

  unzFile zip_ = nullptr;
  ArchiveSource* source_ = nullptr;
  std::int64_t rawPosition_ = 0;  // file offset of the next stored byte
  bool open_ = false;
  bool failed_ = false;
  bool started_ = false;
  bool deflated_ = false;
  bool streamEnded_ = false;
  std::uint32_t expectedCrc_ = 0;
  std::uint32_t crc_ = 0;
  std::uint32_t dosDateTime_ = 0;
  bool hasDescriptor_ = false;
  std::uint64_t rawLeft_ = 0;     // stored bytes not yet read
  std::uint64_t outputLeft_ = 0;  // uncompressed bytes still to come
  std::optional<TraditionalCipher> cipher_;
  std::optional<std::string> password_;

  // Raw input for inflating, allocated with the first deflated item.
  std::unique_ptr<std::uint8_t[]> input_;
  z_stream stream_{};
  bool inflateReady_ = false;
};

}  // namespace archive
