// What a partial download keeps beside its temporary file: the size of the
// whole file the transfer was begun for and the Last-Modified time the server
// gave for it, if it gave one. A resume is asked for only when that record
// exists, and the answer is taken only when it names the same whole size and
// the same time, so two versions of a file are never spliced together.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "http/http_date.h"

namespace http {

struct PartialFile {
  std::int64_t offset = 0;  // bytes held; 0 when there is nothing to resume
  std::int64_t totalSize = 0;
  std::optional<HttpTime> validator;  // the Last-Modified the server gave
};

// The record's own path: the temporary file's name followed by ".info".
std::string PartialRecordPath(const std::string& tempFile);

// Where a transfer into `tempFile` may continue: offset 0 when the file is
// missing, empty, a directory, not shorter than the whole, or has no record.
PartialFile FindPartialFile(const std::string& tempFile);

// Records what the transfer that now begins `tempFile` from 0 is for.
bool RecordPartialFile(const std::string& tempFile, std::int64_t totalSize,
                       std::optional<HttpTime> validator);

// Removes the record (the temporary file has become the target).
void ForgetPartialFile(const std::string& tempFile);

}  // namespace http
