#include "archive/replacing_file.h"

namespace archive {
namespace {

// Removes a file even when it is read-only, which Windows would refuse.
void RemoveFile(const std::string& path) {
  if (!platform::DeleteFile(path)) {
    platform::SetReadOnly(path, false);
    platform::DeleteFile(path);
  }
}

}  // namespace

ReplacingFile::~ReplacingFile() { Discard(); }

ArchiveResult ReplacingFile::Open(const std::string& target, std::uint32_t attributes) {
  Discard();
  if (const auto existing = platform::GetFileStatus(target);
      existing &&
      (existing->attributes & (platform::kAttrDirectory | platform::kAttrReadOnly)) != 0) {
    return ARCHIVE_FILE_OPEN_FAILED;
  }
  target_ = target;
  temporary_ = target + std::string(kTemporarySuffix);
  file_ = platform::File::Create(temporary_, attributes);
  if (!file_.IsOpen() && platform::GetFileStatus(temporary_)) {
    // Left behind by an earlier run, possibly read-only.
    RemoveFile(temporary_);
    file_ = platform::File::Create(temporary_, attributes);
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
  RemoveFile(temporary_);
  pending_ = false;
}

}  // namespace archive
