#include "archive/archive_source.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace archive {

zlib_filefunc64_def ArchiveSource::Functions() {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = &ArchiveSource::Open;
  functions.zread_file = &ArchiveSource::Read;
  functions.zwrite_file = &ArchiveSource::Write;
  functions.ztell64_file = &ArchiveSource::Tell;
  functions.zseek64_file = &ArchiveSource::Seek;
  functions.zclose_file = &ArchiveSource::Close;
  functions.zerror_file = &ArchiveSource::Error;
  functions.opaque = this;
  return functions;
}

voidpf ArchiveSource::Open(voidpf opaque, const void* fileName, int mode) {
  auto* self = static_cast<ArchiveSource*>(opaque);
  if (fileName == nullptr ||
      (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) {
    return nullptr;
  }
  self->file_ = platform::File::Open(static_cast<const char*>(fileName), platform::OpenMode::kRead);
  self->position_ = 0;
  self->filePosition_ = 0;
  self->windowSize_ = 0;
  self->failed_ = false;
  return self->file_.IsOpen() ? self : nullptr;
}

std::size_t ArchiveSource::ReadBuffered(unsigned char* out, std::size_t size) {
  const bool inWindow = position_ >= windowStart_ &&
                        position_ < windowStart_ + static_cast<std::int64_t>(windowSize_);
  if (!inWindow) {
    if (!window_) window_ = std::make_unique<unsigned char[]>(kWindowSize);
    if (filePosition_ != position_ && !file_.Seek(position_)) {
      failed_ = true;
      return 0;
    }
    filePosition_ = position_;
    windowStart_ = position_;
    windowSize_ = 0;
    while (windowSize_ < kWindowSize) {
      const std::int64_t n = file_.Read(window_.get() + windowSize_, kWindowSize - windowSize_);
      if (n <= 0) {
        failed_ = n < 0;
        break;
      }
      windowSize_ += static_cast<std::size_t>(n);
      filePosition_ += n;
    }
  }
  const auto offset = static_cast<std::size_t>(position_ - windowStart_);
  const std::size_t count = std::min(size, windowSize_ > offset ? windowSize_ - offset : 0);
  std::memcpy(out, window_.get() + offset, count);
  return count;
}

uLong ArchiveSource::Read(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* self = static_cast<ArchiveSource*>(stream);
  auto* out = static_cast<unsigned char*>(buffer);
  // Most reads are header fields of a few bytes inside the window.
  const std::int64_t offset = self->position_ - self->windowStart_;
  if (offset >= 0 && static_cast<std::uint64_t>(offset) + size <= self->windowSize_) {
    const unsigned char* from = self->window_.get() + offset;
    for (uLong i = 0; i < size; ++i) out[i] = from[i];
    self->position_ += static_cast<std::int64_t>(size);
    return size;
  }
  uLong done = 0;
  // minizip takes a short count for an error, so read until full or the end.
  while (done < size && !self->failed_) {
    std::size_t n = 0;
    if (size - done >= kWindowSize) {
      if (self->filePosition_ != self->position_ && !self->file_.Seek(self->position_)) {
        self->failed_ = true;
        break;
      }
      self->filePosition_ = self->position_;
      const std::int64_t got = self->file_.Read(out + done, size - done);
      if (got < 0) self->failed_ = true;
      n = got > 0 ? static_cast<std::size_t>(got) : 0;
      self->filePosition_ += static_cast<std::int64_t>(n);
    } else {
      n = self->ReadBuffered(out + done, size - done);
    }
    if (n == 0) break;
    done += static_cast<uLong>(n);
    self->position_ += static_cast<std::int64_t>(n);
  }
  return done;
}

bool ArchiveSource::ReadAt(std::int64_t offset, void* buffer, std::size_t size) {
  position_ = offset;
  failed_ = false;
  return Read(this, this, buffer, static_cast<uLong>(size)) == size;
}

uLong ArchiveSource::Write(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ArchiveSource::Tell(voidpf, voidpf stream) {
  return static_cast<ZPOS64_T>(static_cast<ArchiveSource*>(stream)->position_);
}

long ArchiveSource::Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* self = static_cast<ArchiveSource*>(stream);
  constexpr auto kMax = static_cast<ZPOS64_T>(std::numeric_limits<std::int64_t>::max());
  if (offset > kMax) return -1;
  const auto delta = static_cast<std::int64_t>(offset);
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      self->position_ = delta;
      return 0;
    case ZLIB_FILEFUNC_SEEK_CUR:
      self->position_ += delta;
      return 0;
    case ZLIB_FILEFUNC_SEEK_END: {
      if (!self->file_.SeekToEnd()) return -1;
      const std::int64_t end = self->file_.Tell();
      if (end < 0) return -1;
      self->filePosition_ = end;
      self->position_ = end + delta;
      return 0;
    }
    default:
      return -1;
  }
}

int ArchiveSource::Close(voidpf, voidpf stream) {
  static_cast<ArchiveSource*>(stream)->file_.Close();
  return 0;
}

int ArchiveSource::Error(voidpf, voidpf stream) {
  return static_cast<ArchiveSource*>(stream)->failed_ ? 1 : 0;
}

}  // namespace archive
