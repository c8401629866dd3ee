// Reading pieces of files at given offsets, and their sizes, for the map and
// the assembly of a package.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files.h"

namespace delta {

// Reads until `size` bytes came or the file ended: the count, or -1 on an
// error.
inline std::int64_t ReadFull(platform::File& file, std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const std::int64_t n = file.Read(data + done, size - done);
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

// Exactly `size` bytes at `offset`; the file's own offset stays as it is.
inline bool ReadAt(platform::File& file, std::int64_t offset, std::uint8_t* data,
                   std::size_t size) {
  return file.ReadAt(offset, data, size) == static_cast<std::int64_t>(size);
}

// The file's size, with the offset left at its start; -1 on an error.
inline std::int64_t SizeOf(platform::File& file) {
  if (!file.SeekToEnd()) return -1;
  const std::int64_t size = file.Tell();
  return file.Seek(0) ? size : -1;
}

}  // namespace delta
