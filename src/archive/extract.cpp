// Writing items to disk: ArchiveSetTargetDir and ArchiveExtractItem.
#include <string>
#include <string_view>

#include "archive/archive.h"
#include "archive/archive_reader.h"
#include "archive/directory_path.h"
#include "archive/item_attributes.h"
#include "archive/replacing_file.h"
#include "platform/files.h"
#include "platform/path.h"

namespace {

constexpr std::uint32_t kFileAttributeBits = platform::kAttrReadOnly | platform::kAttrHidden |
                                             platform::kAttrSystem | platform::kAttrArchive;

// A last part that cannot name a file of its own.
bool NamesNoFile(std::string_view filePart) {
  return filePart.empty() || filePart == "." || filePart == "..";
}

ArchiveResult ExtractDirectory(const ArchiveReader& reader, std::string_view fileName) {
  const bool absolute = archive::IsAbsolutePath(fileName);
  const std::string path = (absolute ? std::string() : reader.targetDir) + std::string(fileName);
  if (!platform::FitsPathLimit(path)) return ARCHIVE_PATH_TOO_LONG;
  if (absolute) {
    archive::CreateDirectoryPath(std::nullopt, fileName);
  } else {
    archive::CreateDirectoryPath(reader.targetDir, fileName);
  }
  return ARCHIVE_OK;
}

// Copies the data of the current item, which is the cached one, into
// `output` (anything with Write(data, size)); ARCHIVE_OK once the item is
// complete and its CRC-32 holds.
template <class Output>
ArchiveResult CopyItemData(ArchiveReader& reader, Output& output) {
  reader.itemData.Open(reader.zip.get(), reader.source, reader.cachedEntry, reader.password);
  if (!reader.copyBuffer) reader.copyBuffer = std::make_unique<std::uint8_t[]>(kCopyBufferSize);
  ArchiveResult result = ARCHIVE_DATA_ERROR;
  for (;;) {
    const archive::ReadResult read = reader.itemData.Read(reader.copyBuffer.get(), kCopyBufferSize);
    if (read.status == archive::ReadStatus::kBadPassword) {
      result = ARCHIVE_BAD_PASSWORD;
      break;
    }
    if (read.status == archive::ReadStatus::kError) {
      result = ARCHIVE_DATA_ERROR;
      break;
    }
    if (read.bytes > 0 && !output.Write(reader.copyBuffer.get(), read.bytes)) {
      result = ARCHIVE_WRITE_FAILED;
      break;
    }
    if (read.status == archive::ReadStatus::kEnd) {
      result = ARCHIVE_OK;
      break;
    }
  }
  reader.itemData.Close();
  return result;
}

// Positions on item `index` and describes it (then it is the cached one).
ArchiveResult PrepareItem(ArchiveReader& reader, std::int32_t index, ArchiveItem& item) {
  if (index < 0 || index >= reader.count) return ARCHIVE_BAD_ARGUMENT;
  if (const ArchiveResult moved = archive::PositionCursor(reader, index); moved != ARCHIVE_OK) {
    return moved;
  }
  return archive::DescribeItem(reader, index, item);
}

ArchiveResult ExtractFile(ArchiveReader& reader, std::string_view fileName,
                          const ArchiveItem& item) {
  const archive::SplitPath parts = archive::SplitAtLastSeparator(fileName);
  if (NamesNoFile(parts.file)) return ARCHIVE_FILE_OPEN_FAILED;
  const bool absolute = !parts.directory.empty() && archive::IsAbsolutePath(parts.directory);
  std::string output = absolute ? std::string() : reader.targetDir;
  output.append(parts.directory).append(parts.file);
  // The temporary file beside the output must fit as well.
  if (!platform::FitsPathLimit(output + std::string(archive::kTemporarySuffix))) {
    return ARCHIVE_PATH_TOO_LONG;
  }
  if (absolute) {
    archive::CreateDirectoryPath(std::nullopt, parts.directory);
  } else {
    archive::CreateDirectoryPath(reader.targetDir, parts.directory);
  }
  archive::ReplacingFile file;
  if (const ArchiveResult opened =
          file.Open(platform::NativePath(output), item.attributes & kFileAttributeBits);
      opened != ARCHIVE_OK) {
    return opened;
  }
  const ArchiveResult copied = CopyItemData(reader, file);
  if (copied != ARCHIVE_OK) return copied;
  return file.Commit(item.creationTime, item.accessTime, item.modificationTime);
}

}  // namespace

ArchiveResult ArchiveSetTargetDir(ArchiveHandle* handle, const char* directory) {
  if (const ArchiveResult checked = archive::CheckHandle(handle); checked != ARCHIVE_OK) {
    return checked;
  }
  if (directory == nullptr || directory[0] == '\0') return ARCHIVE_BAD_ARGUMENT;
  std::string target = archive::WithTrailingSeparator(directory);
  if (!platform::FitsPathLimit(target)) return ARCHIVE_PATH_TOO_LONG;
  handle->reader->targetDir = std::move(target);
  return ARCHIVE_OK;
}

ArchiveResult ArchiveExtractItem(ArchiveHandle* handle, std::int32_t index, const char* fileName) {
  if (const ArchiveResult checked = archive::CheckHandle(handle); checked != ARCHIVE_OK) {
    return checked;
  }
  ArchiveReader& reader = *handle->reader;
  if (index < 0 || index >= reader.count || fileName == nullptr) return ARCHIVE_BAD_ARGUMENT;
  const std::string_view name(fileName);
  if (!platform::FitsPathLimit(name)) return ARCHIVE_PATH_TOO_LONG;
  ArchiveItem item;
  // Nothing is written for an item that cannot be described.
  if (const ArchiveResult prepared = PrepareItem(reader, index, item); prepared != ARCHIVE_OK) {
    return prepared;
  }
  if ((item.attributes & platform::kAttrDirectory) != 0) return ExtractDirectory(reader, name);
  return ExtractFile(reader, name, item);
}

ArchiveResult ArchiveGetItemMode(ArchiveHandle* handle, std::int32_t index, std::uint32_t* mode) {
  if (const ArchiveResult checked = archive::CheckHandle(handle); checked != ARCHIVE_OK) {
    return checked;
  }
  if (mode == nullptr) return ARCHIVE_BAD_ARGUMENT;
  *mode = 0;
  ArchiveReader& reader = *handle->reader;
  ArchiveItem item;
  if (const ArchiveResult prepared = PrepareItem(reader, index, item); prepared != ARCHIVE_OK) {
    return prepared;
  }
  *mode = archive::UnixMode(static_cast<std::uint32_t>(reader.cachedEntry.version),
                            static_cast<std::uint32_t>(reader.cachedEntry.external_fa));
  return ARCHIVE_OK;
}

namespace {

// Copies file item `index` into `output`.
template <class Output>
ArchiveResult CopyFileItem(ArchiveHandle* handle, std::int32_t index, Output& output) {
  if (const ArchiveResult checked = archive::CheckHandle(handle); checked != ARCHIVE_OK) {
    return checked;
  }
  ArchiveReader& reader = *handle->reader;
  ArchiveItem item;
  if (const ArchiveResult prepared = PrepareItem(reader, index, item); prepared != ARCHIVE_OK) {
    return prepared;
  }
  if ((item.attributes & platform::kAttrDirectory) != 0) return ARCHIVE_BAD_ARGUMENT;
  return CopyItemData(reader, output);
}

// Collects an item's data in memory, up to a limit.
struct TextOutput {
  bool Write(const void* data, std::size_t size) {
    if (size > limit - text.size()) return false;
    text.append(static_cast<const char*>(data), size);
    return true;
  }
  std::string& text;
  std::size_t limit;
};

}  // namespace

ArchiveResult ArchiveWriteItemData(ArchiveHandle* handle, std::int32_t index,
                                   platform::File& output) {
  return CopyFileItem(handle, index, output);
}

ArchiveResult ArchiveReadItemData(ArchiveHandle* handle, std::int32_t index, std::string* data,
                                  std::size_t limit) {
  if (data == nullptr) return ARCHIVE_BAD_ARGUMENT;
  data->clear();
  TextOutput output{*data, limit};
  return CopyFileItem(handle, index, output);
}
