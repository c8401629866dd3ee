#include "archive/archive_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "archive/directory_path.h"
#include "archive/item_attributes.h"
#include "archive/item_name.h"
#include "archive/item_times.h"
#include "archive/zip_format.h"
#include "platform/files.h"

ArchiveHandle::ArchiveHandle() = default;
ArchiveHandle::~ArchiveHandle() = default;

namespace archive {
namespace {

ArchiveResult DescribeCurrent(ArchiveReader& reader, std::int32_t index, ArchiveItem& item,
                              unz_file_info64& info) {
  unzFile zip = reader.zip.get();
  char name[kArchivePathSize];
  if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) {
    return ARCHIVE_BAD_LOCAL_HEADER;  // the entry is damaged; so is its local check
  }
  if (info.size_filename >= kArchivePathSize) return ARCHIVE_PATH_TOO_LONG;
  if (info.compression_method != kStored && info.compression_method != kDeflated) {
    return ARCHIVE_BAD_LOCAL_HEADER;
  }

  // Opening raw runs minizip's check of the local header against the central
  // entry and locates the local extra field.
  int method = 0;
  int level = 0;
  if (unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK) return ARCHIVE_BAD_LOCAL_HEADER;
  std::vector<std::uint8_t> extra;
  const int extraSize = unzGetLocalExtrafield(zip, nullptr, 0);
  if (extraSize > 0) {
    extra.resize(static_cast<std::size_t>(extraSize));
    const int got = unzGetLocalExtrafield(zip, extra.data(), static_cast<unsigned>(extraSize));
    if (got != extraSize) {
      unzCloseCurrentFile(zip);
      return ARCHIVE_READ_FAILED;
    }
  }
  unzCloseCurrentFile(zip);
  if (extraSize < 0) return ARCHIVE_READ_FAILED;

  item.index = index;
  const std::string_view cleaned = CleanItemName(std::string_view(name, info.size_filename));
  std::memcpy(item.name, cleaned.data(), cleaned.size());
  item.name[cleaned.size()] = '\0';

  item.attributes = MapAttributes(static_cast<std::uint32_t>(info.version),
                                  static_cast<std::uint32_t>(info.external_fa));
  // Some writers mark directories only by the trailing separator.
  if (info.uncompressed_size == 0 && EndsWithSeparator(cleaned)) {
    item.attributes |= platform::kAttrDirectory;
  }
  item.compressedSize = info.compressed_size;
  item.uncompressedSize = info.uncompressed_size;

  ItemTimes times = TimesFromDos(static_cast<std::uint32_t>(info.dosDate));
  ApplyExtendedTimestamp(extra, times);
  item.accessTime = times.accessTime;
  item.creationTime = times.creationTime;
  item.modificationTime = times.modificationTime;
  return ARCHIVE_OK;
}

}  // namespace

bool IsEmptyArchive(const char* fileName) {
  constexpr std::size_t kRecordSize = 22;
  constexpr std::uint8_t kEmptyRecord[kRecordSize - 2] = {'P', 'K', 5, 6};  // all counts 0
  platform::File file = platform::File::Open(fileName, platform::OpenMode::kRead);
  std::uint8_t record[kRecordSize];
  if (!file.IsOpen() || file.Read(record, kRecordSize) != kRecordSize ||
      std::memcmp(record, kEmptyRecord, sizeof kEmptyRecord) != 0 || !file.SeekToEnd()) {
    return false;
  }
  const auto commentSize = static_cast<std::int64_t>(record[20] | record[21] << 8);
  return file.Tell() == static_cast<std::int64_t>(kRecordSize) + commentSize;
}

ArchiveResult CheckHandle(const ArchiveHandle* handle) {
  if (handle == nullptr) return ARCHIVE_BAD_ARGUMENT;
  if (handle->kind != kArchiveReadingHandle || !handle->reader) return ARCHIVE_WRONG_HANDLE;
  return ARCHIVE_OK;
}

ArchiveResult PositionCursor(ArchiveReader& reader, std::int32_t index) {
  unzFile zip = reader.zip.get();
  if (index < reader.cursorIndex) {
    // A damaged first entry leaves the cursor unusable; describing shows it.
    unzGoToFirstFile(zip);
    reader.cursorIndex = 0;
  }
  while (reader.cursorIndex < index) {
    const int status = unzGoToNextFile(zip);
    // minizip does not move at the end of its list or after a damaged entry;
    // otherwise it stands on the next entry, whether or not that one is sound.
    if (status == UNZ_END_OF_LIST_OF_FILE) return ARCHIVE_READ_FAILED;
    ++reader.cursorIndex;
    if (status != UNZ_OK && reader.cursorIndex != index) return ARCHIVE_READ_FAILED;
  }
  return ARCHIVE_OK;
}

ArchiveResult DescribeItem(ArchiveReader& reader, std::int32_t index, ArchiveItem& item) {
  if (index == reader.cachedIndex) {
    item = reader.cachedItem;
    return ARCHIVE_OK;
  }
  if (const ArchiveResult moved = PositionCursor(reader, index); moved != ARCHIVE_OK) return moved;
  ArchiveItem described;
  unz_file_info64 entry{};
  if (const ArchiveResult result = DescribeCurrent(reader, index, described, entry);
      result != ARCHIVE_OK) {
    return result;
  }
  item = described;
  reader.cachedItem = described;
  reader.cachedEntry = entry;
  reader.cachedIndex = index;
  return ARCHIVE_OK;
}

}  // namespace archive

ArchiveHandle* ArchiveOpen(const char* fileName, const char* password) {
  if (fileName == nullptr) return nullptr;
  auto reader = std::make_unique<ArchiveReader>();
  if (password != nullptr) reader->password = password;
  reader->targetDir = archive::WithTrailingSeparator(platform::CurrentDirectory());

  zlib_filefunc64_def functions = reader->source.Functions();
  reader->zip.reset(unzOpen2_64(fileName, &functions));
  if (reader->zip) {
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(reader->zip.get(), &global) != UNZ_OK) return nullptr;
    reader->count = static_cast<std::int32_t>(
        std::min<ZPOS64_T>(global.number_entry, std::numeric_limits<std::int32_t>::max()));
  } else if (!archive::IsEmptyArchive(fileName)) {
    return nullptr;  // minizip has closed the file again
  }

  auto handle = std::make_unique<ArchiveHandle>();
  handle->reader = std::move(reader);
  return handle.release();  // the caller owns it until ArchiveClose
}

ArchiveResult ArchiveGetItem(ArchiveHandle* handle, std::int32_t index, ArchiveItem* item) {
  if (item != nullptr) {
    item->index = 0;
    item->name[0] = '\0';
    item->uncompressedSize = 0;
  }
  if (const ArchiveResult checked = archive::CheckHandle(handle); checked != ARCHIVE_OK) {
    return checked;
  }
  ArchiveReader& reader = *handle->reader;
  if (item == nullptr || index < -1 || index >= reader.count) return ARCHIVE_BAD_ARGUMENT;
  if (index == -1) {
    item->index = reader.count;
    item->attributes = 0;
    item->accessTime = 0;
    item->creationTime = 0;
    item->modificationTime = 0;
    item->compressedSize = 0;
    return ARCHIVE_OK;
  }
  return archive::DescribeItem(reader, index, *item);
}

ArchiveResult ArchiveClose(ArchiveHandle* handle) {
  if (const ArchiveResult checked = archive::CheckHandle(handle); checked != ARCHIVE_OK) {
    return checked;
  }
  const std::unique_ptr<ArchiveHandle> owned(handle);
  owned->reader->itemData.Close();
  return ARCHIVE_OK;
}
