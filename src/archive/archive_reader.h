// The reader behind an ArchiveHandle, shared by the describing and the
// extracting operations.
#pragma once

#include <minizip/unzip.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "archive/archive.h"
#include "archive/archive_source.h"
#include "archive/item_data.h"

struct UnzipCloser {
  void operator()(unzFile zip) const { unzClose(zip); }
};

struct ArchiveReader {
  // Declared before `zip`, which reads through it and so must go first.
  archive::ArchiveSource source;
  // The open archive; its cursor stands on item `cursorIndex`. None for an
  // archive without items.
  std::unique_ptr<void, UnzipCloser> zip;
  std::int32_t cursorIndex = 0;
  std::int32_t count = 0;
  ArchiveItem cachedItem;
  // The central entry of cachedItem, for extracting it without reading the
  // entry again.
  unz_file_info64 cachedEntry{};
  std::int32_t cachedIndex = -1;  // -1 while nothing is cached
  std::optional<std::string> password;
  // The extraction buffer, allocated with the first file item.
  std::unique_ptr<std::uint8_t[]> copyBuffer;
  std::string targetDir;  // ends in a separator
  archive::ItemDataReader itemData;
};

inline constexpr std::size_t kCopyBufferSize = 262144;

namespace archive {

// Whether the file is a zip archive without items: its end-of-central-
// directory record alone, with its comment. minizip takes a record at offset 0
// for a missing one and cannot open such an archive.
bool IsEmptyArchive(const char* fileName);

// ARCHIVE_OK for a usable handle, else the code for its fault.
ArchiveResult CheckHandle(const ArchiveHandle* handle);

// Walks the cursor forward to `index`, from the first item when `index` lies
// behind it. Fails with ARCHIVE_READ_FAILED when the central directory cannot
// be walked that far.
ArchiveResult PositionCursor(ArchiveReader& reader, std::int32_t index);

// Describes item `index` (0 to count-1) into `item`, from the cache when it
// holds that index; a fresh description is cached.
ArchiveResult DescribeItem(ArchiveReader& reader, std::int32_t index, ArchiveItem& item);

}  // namespace archive
