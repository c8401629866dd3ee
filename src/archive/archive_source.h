// The file layer under minizip: the archive is read through the platform's
// file calls (opened existing, read only, shared for reading only), so its
// descriptor is not inherited by started programs.
#pragma once

#include <minizip/unzip.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/files.h"

namespace archive {

// One open archive file. minizip's stream pointer is this object; it must
// outlive the unzFile opened with Functions().
class ArchiveSource {
 public:
  ArchiveSource() = default;
  ArchiveSource(const ArchiveSource&) = delete;
  ArchiveSource& operator=(const ArchiveSource&) = delete;

  // The function table to pass to unzOpen2_64.
  zlib_filefunc64_def Functions();

  // Reads exactly `size` bytes at `offset` of the open archive file; false
  // when fewer are there. minizip seeks before each of its reads, so this
  // does not disturb it.
  bool ReadAt(std::int64_t offset, void* buffer, std::size_t size);

 private:
  static voidpf Open(voidpf opaque, const void* fileName, int mode);
  static uLong Read(voidpf opaque, voidpf stream, void* buffer, uLong size);
  static uLong Write(voidpf opaque, voidpf stream, const void* buffer, uLong size);
  static ZPOS64_T Tell(voidpf opaque, voidpf stream);
  static long Seek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
  static int Close(voidpf opaque, voidpf stream);
  static int Error(voidpf opaque, voidpf stream);

  // Serves `size` bytes at position_ from the window, refilling it first.
  std::size_t ReadBuffered(unsigned char* out, std::size_t size);

  platform::File file_;
  // The position minizip reads from next.
  std::int64_t position_ = 0;
  // minizip reads its headers a few bytes at a time, each after a seek; they
  // are served from a window of the file read ahead in one call. Reads of at
  // least kWindowSize go to the file directly.
  static constexpr std::size_t kWindowSize = 16384;
  std::unique_ptr<unsigned char[]> window_;
  std::int64_t windowStart_ = 0;   // file offset of window_[0]
  std::size_t windowSize_ = 0;     // valid bytes in window_
  std::int64_t filePosition_ = 0;  // where the descriptor stands
  bool failed_ = false;
};

}  // namespace archive
