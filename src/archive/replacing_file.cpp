#include "archive/replacing_file.h"

#include "platform/install_files.h"

namespace archive {

ReplacingFile::~ReplacingFile() { Discard(); }

ArchiveResult ReplacingFile::Open(const std::string& target, std::uint32_t attributes) {
  Discard();
  if (const auto existing = platform::GetFileStatus(target);
      existing &&
      (existing->attributes & (platform::kAttrDirectory | platform::kAttrReadOnly)) != 0) {
    return ARCHIVE_FILE_OPEN_FAILED;
  }
  target_ = target;
  constexpr int kNamesTried = 100;
  for (int n = 0; n < kNamesTried && !file_.IsOpen(); ++n) {
    temporary_ =
        target + (n == 0 ? std::string() : "." + std::to_string(n)) + std::string(kTemporarySuffix);
    file_ = platform::CreateNewFile(temporary_, attributes, 0);
    // Only a taken name is worth another try.
    if (!file_.IsOpen() && !platform::GetEntryStatus(temporary_)) break;
  }
  if (!file_.IsOpen()) return ARCHIVE_FILE_OPEN_FAILED;
  pending_ = true;
  return ARCHIVE_OK;
}

bool ReplacingFile::Write(const void* data, std::size_t size) {
  return pending_ && file_.Write(data, size);
}

ArchiveResult ReplacingFile::Commit(platform::FileTime creation, platform::FileTime access,
                                    platform::FileTime modification) {
  if (!pending_) return ARCHIVE_FILE_OPEN_FAILED;
  // A failure to set the times is not reported; the data is what counts.
  file_.SetTimes(&creation, &access, &modification);
  file_.Close();
  if (!platform::ReplaceFile(temporary_, target_)) {
    Discard();
    return ARCHIVE_FILE_OPEN_FAILED;
  }
  pending_ = false;
  return ARCHIVE_OK;
}

void ReplacingFile::Discard() {
  if (!pending_) return;
  file_.Close();
  platform::RemoveEntry(temporary_);
  pending_ = false;
}

}  // namespace archive
