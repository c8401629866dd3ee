// The archive facade: opens a zip archive by name, describes its items
// (cleaned names, attribute flags, times) and writes them to disk.
//
// Texts passed in and returned are NUL-terminated and in the system's 8-bit
// code page. An item name takes at most 260 bytes including the NUL; a path
// built from it must fit the system's path limit (platform::FitsPathLimit).
// Both "/" and "\\" count as separators in item names and in the texts built
// from them.
//
// Every operation but ArchiveOpen first checks the handle: none gives
// ARCHIVE_BAD_ARGUMENT, a kind other than 1 gives ARCHIVE_WRONG_HANDLE, and in
// both cases nothing changes. A reader is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/files.h"

// One distinct code per kind of failure; 0 is success.
enum ArchiveResult : std::uint32_t {
  ARCHIVE_OK = 0,
  // The output file cannot be created (or replaced), or the item name does not
  // name a file (empty, "." or ".." as its last part).
  ARCHIVE_FILE_OPEN_FAILED = 0x200,
  ARCHIVE_WRITE_FAILED = 0x400,
  // The item's local header cannot be read or disagrees with its central
  // entry.
  ARCHIVE_BAD_LOCAL_HEADER = 0x700,
  // The item's local extra field cannot be read, or the central directory
  // cannot be walked up to the item.
  ARCHIVE_READ_FAILED = 0x800,
  ARCHIVE_BAD_PASSWORD = 0x1000,
  // An item name of 260 bytes or more, or a target directory or joined
  // output path beyond the system's path limit.
  ARCHIVE_PATH_TOO_LONG = 0x2000,
  // No handle, an index out of range, no text, or an empty target directory.
  ARCHIVE_BAD_ARGUMENT = 0x10000,
  ARCHIVE_WRONG_HANDLE = 0x80000,
  // The item's data cannot be read, decrypted or inflated, stops before the
  // item's end, runs past it, or fails its CRC-32.
  ARCHIVE_DATA_ERROR = 0x5000000,
};

inline constexpr std::size_t kArchivePathSize = 260;  // bytes, the NUL included

// One item's description, filled by ArchiveGetItem.
struct ArchiveItem {
  // 0-based position in central directory order; the item count in the
  // summary record (index -1).
  std::int32_t index = 0;
  // The cleaned item name with its separators as stored.
  char name[kArchivePathSize] = {};
  // platform::kAttrReadOnly, kAttrHidden, kAttrSystem, kAttrDirectory,
  // kAttrArchive; no other bit.
  std::uint32_t attributes = 0;
  platform::FileTime accessTime = 0;
  platform::FileTime creationTime = 0;
  platform::FileTime modificationTime = 0;
  // As the central directory states, Zip64 sizes (past 4 GiB) included.
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
};

struct ArchiveReader;

inline constexpr std::int32_t kArchiveReadingHandle = 1;

// Returned by ArchiveOpen, owned by the caller until ArchiveClose.
struct ArchiveHandle {
  ArchiveHandle();
  ~ArchiveHandle();
  ArchiveHandle(const ArchiveHandle&) = delete;
  ArchiveHandle& operator=(const ArchiveHandle&) = delete;

  std::int32_t kind = kArchiveReadingHandle;
  std::unique_ptr<ArchiveReader> reader;
};

// Opens the archive `fileName` for reading (shared for reading only) and keeps
// it open until ArchiveClose. `password` may be null. The target directory
// starts as the process's current directory. Returns null when the file cannot
// be opened or is not a zip archive; nothing then stays open or allocated.
ArchiveHandle* ArchiveOpen(const char* fileName, const char* password);

// Describes item `index` (0 to count-1) into `item`, or with index -1 fills the
// summary record whose `index` is the number of items. The last description is
// cached: asking for it again does not touch the archive. Walking is forward
// only; a lower index restarts from the first item. On failure `item` holds
// index 0, an empty name and uncompressedSize 0.
ArchiveResult ArchiveGetItem(ArchiveHandle* handle, std::int32_t index, ArchiveItem* item);

// Closes the archive and frees the handle, which is invalid afterwards.
ArchiveResult ArchiveClose(ArchiveHandle* handle);

// Sets the directory below which relative names are extracted; a separator is
// appended when it does not end in one. An empty or too long text is refused
// and the previous directory kept.
ArchiveResult ArchiveSetTargetDir(ArchiveHandle* handle, const char* directory);

// Writes item `index` under `fileName`: relative to the target directory
// unless absolute (first byte a separator, or second byte ":"). Missing
// directories on the way are created. A file item is written to a temporary
// file beside the output, under a name that nothing holds ("<output>.part",
// else "<output>.1.part", ...), which replaces the output only when the item
// is complete and its CRC-32 holds; on failure the temporary file is removed
// and an existing output file stays as it was. An existing read-only
// output file is refused with ARCHIVE_FILE_OPEN_FAILED. The new file carries
// the item's attribute flags and its three times.
ArchiveResult ArchiveExtractItem(ArchiveHandle* handle, std::int32_t index, const char* fileName);

// The POSIX mode (file type and permission bits) that an archive made on a
// Unix host records for item `index`; 0 when the host recorded none.
ArchiveResult ArchiveGetItemMode(ArchiveHandle* handle, std::int32_t index, std::uint32_t* mode);

// Writes the uncompressed data of file item `index` to `output`, an open
// file, and nothing else: no name, attributes or times. ARCHIVE_OK only when
// the item is complete and its CRC-32 holds; a directory item gives
// ARCHIVE_BAD_ARGUMENT.
ArchiveResult ArchiveWriteItemData(ArchiveHandle* handle, std::int32_t index,
                                   platform::File& output);

// Reads the uncompressed data of file item `index` into `data`, which is
// replaced; for small items such as the texts of link entries. An item longer
// than `limit` bytes gives ARCHIVE_WRITE_FAILED.
ArchiveResult ArchiveReadItemData(ArchiveHandle* handle, std::int32_t index, std::string* data,
                                  std::size_t limit);

// Closes the handle it holds; for callers that prefer ownership in a scope.
struct ArchiveCloser {
  void operator()(ArchiveHandle* handle) const { ArchiveClose(handle); }
};
using ArchivePtr = std::unique_ptr<ArchiveHandle, ArchiveCloser>;
