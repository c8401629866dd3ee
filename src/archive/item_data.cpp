#include "archive/item_data.h"

#include <algorithm>
#include <limits>

#include "archive/zip_format.h"

namespace archive {
namespace {

constexpr std::size_t kInputSize = 65536;  // raw bytes per read of a deflated item
constexpr std::uint32_t kFlagEncrypted = 0x0001;
constexpr std::uint32_t kFlagDescriptor = 0x0008;

// zlib counts in uInt; chunks never exceed what one call can take.
uInt ChunkSize(std::uint64_t left, std::size_t capacity) {
  const std::uint64_t limit = std::min<std::uint64_t>(capacity, std::numeric_limits<uInt>::max());
  return static_cast<uInt>(std::min(left, limit));
}

}  // namespace

ItemDataReader::~ItemDataReader() {
  Close();
  if (inflateReady_) inflateEnd(&stream_);
}

void ItemDataReader::Open(unzFile zip, ArchiveSource& source, const unz_file_info64& info,
                          const std::optional<std::string>& password) {
  Close();
  zip_ = zip;
  source_ = &source;
  failed_ = false;
  started_ = false;
  streamEnded_ = false;
  crc_ = 0;
  expectedCrc_ = static_cast<std::uint32_t>(info.crc);
  dosDateTime_ = static_cast<std::uint32_t>(info.dosDate);
  hasDescriptor_ = (info.flag & kFlagDescriptor) != 0;
  rawLeft_ = info.compressed_size;
  outputLeft_ = info.uncompressed_size;
  cipher_.reset();
  password_.reset();
  if ((info.flag & kFlagEncrypted) != 0) password_ = password.value_or(std::string());

  int method = -1;
  int level = 0;
  if (unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK) {
    failed_ = true;
    return;
  }
  open_ = true;
  rawPosition_ = static_cast<std::int64_t>(unzGetCurrentFileZStreamPos64(zip));
  if (method != kStored && method != kDeflated) {
    failed_ = true;
    return;
  }
  deflated_ = method == kDeflated;
}

void ItemDataReader::Close() {
  if (open_) {
    // Raw reading keeps no CRC-32 of its own to report here.
    unzCloseCurrentFile(zip_);
    open_ = false;
  }
}

ReadResult ItemDataReader::Fail(ReadStatus status) {
  failed_ = true;
  return ReadResult{0, status};
}

bool ItemDataReader::ReadRaw(std::uint8_t* buffer, std::size_t size) {
  if (size > rawLeft_ || !source_->ReadAt(rawPosition_, buffer, size)) return false;
  rawPosition_ += static_cast<std::int64_t>(size);
  rawLeft_ -= size;
  if (cipher_) cipher_->Decrypt(buffer, size);
  return true;
}

ReadResult ItemDataReader::Read(std::uint8_t* out, std::size_t capacity) {
  if (failed_) return ReadResult{0, ReadStatus::kError};
  if (!started_) {
    started_ = true;
    if (password_) {
      cipher_.emplace(*password_);
      std::uint8_t header[kEncryptionHeaderSize];
      if (!ReadRaw(header, sizeof header)) return Fail(ReadStatus::kError);
      if (!EncryptionHeaderMatches(header, expectedCrc_, dosDateTime_, hasDescriptor_)) {
        return Fail(ReadStatus::kBadPassword);
      }
    }
    if (deflated_) {
      if (!input_) input_ = std::make_unique<std::uint8_t[]>(kInputSize);
      const int status =
          inflateReady_ ? inflateReset(&stream_) : inflateInit2(&stream_, -MAX_WBITS);
      if (status != Z_OK) return Fail(ReadStatus::kError);
      inflateReady_ = true;
      stream_.avail_in = 0;
    } else if (rawLeft_ != outputLeft_) {
      return Fail(ReadStatus::kError);  // stored data must be as long as the item
    }
  }
  return deflated_ ? ReadDeflated(out, capacity) : ReadStored(out, capacity);
}

ReadResult ItemDataReader::ReadStored(std::uint8_t* out, std::size_t capacity) {
  const uInt want = ChunkSize(outputLeft_, capacity);
  if (want > 0) {
    if (!ReadRaw(out, want)) return Fail(ReadStatus::kError);
    crc_ = static_cast<std::uint32_t>(crc32(crc_, out, want));
    outputLeft_ -= want;
  }
  if (outputLeft_ > 0) return ReadResult{want, ReadStatus::kMore};
  return Finish(want);
}

ReadResult ItemDataReader::ReadDeflated(std::uint8_t* out, std::size_t capacity) {
  stream_.next_out = out;
  stream_.avail_out = ChunkSize(capacity, capacity);
  const uInt room = stream_.avail_out;
  while (stream_.avail_out > 0 && !streamEnded_) {
    if (stream_.avail_in == 0) {
      if (rawLeft_ == 0) return Fail(ReadStatus::kError);  // the stream stops early
      const uInt chunk = ChunkSize(rawLeft_, kInputSize);
      if (!ReadRaw(input_.get(), chunk)) return Fail(ReadStatus::kError);
      stream_.next_in = input_.get();
      stream_.avail_in = chunk;
    }
    const int status = inflate(&stream_, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      streamEnded_ = true;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      return Fail(ReadStatus::kError);
    }
  }
  const std::size_t produced = room - stream_.avail_out;
  if (produced > outputLeft_) return Fail(ReadStatus::kError);  // longer than stated
  crc_ = static_cast<std::uint32_t>(crc32(crc_, out, static_cast<uInt>(produced)));
  outputLeft_ -= produced;
  if (!streamEnded_) return ReadResult{produced, ReadStatus::kMore};
  return Finish(produced);
}

ReadResult ItemDataReader::Finish(std::size_t bytes) {
  if (outputLeft_ != 0 || crc_ != expectedCrc_) return Fail(ReadStatus::kError);
  failed_ = true;  // a read after the end is an error
  return ReadResult{bytes, ReadStatus::kEnd};
}

}  // namespace archive
