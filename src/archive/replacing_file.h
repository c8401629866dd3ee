// An output file that replaces its target only when it is complete: the data
// goes into a temporary file beside the target, named after it, which is
// renamed over the target by Commit. Until then the target, if there is one,
// stays untouched; a temporary file that is not committed is removed. The
// temporary file is created under a name that nothing holds yet
// ("<target>.part", else "<target>.1.part", ...), so a file of that name is
// never truncated or removed. No data is forced to the disk: the rename is
// what keeps a reader from ever seeing a partial file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/archive.h"
#include "platform/files.h"

namespace archive {

inline constexpr std::string_view kTemporarySuffix = ".part";

class ReplacingFile {
 public:
  ReplacingFile() = default;
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Starts the replacement of `target` (a native path) by a new file with the
  // attribute flags `attributes`. ARCHIVE_FILE_OPEN_FAILED when the target is
  // a directory or read-only, or no temporary file can be created.
  ArchiveResult Open(const std::string& target, std::uint32_t attributes);
  bool Write(const void* data, std::size_t size);
  // Gives the new file its times, closes it and renames it over the target.
  // ARCHIVE_FILE_OPEN_FAILED when the rename fails; the target then stays.
  ArchiveResult Commit(platform::FileTime creation, platform::FileTime access,
                       platform::FileTime modification);

 private:
  void Discard();

  platform::File file_;
  std::string target_;
  std::string temporary_;
  bool pending_ = false;  // a temporary file exists that is not committed
};

}  // namespace archive
