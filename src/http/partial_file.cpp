#include "http/partial_file.h"

#include <cstdio>
#include <string_view>

#include "platform/files.h"

namespace http {
namespace {

constexpr std::size_t kMaxRecordBytes = 64;

// A decimal number up to the next blank or line end; false for anything else.
bool TakeNumber(std::string_view& text, std::int64_t& value) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++i;
  value = 0;
  const std::size_t first = i;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && i - first < 18; ++i) {
    value = value * 10 + (text[i] - '0');
  }
  if (i == first) return false;
  if (negative) value = -value;
  text.remove_prefix(i);
  return true;
}

// "TOTAL VALIDATOR\n" or "TOTAL -\n", in decimal.
std::optional<PartialFile> ParseRecord(std::string_view text) {
  PartialFile record;
  std::int64_t total = 0;
  if (!TakeNumber(text, total) || text.empty() || text[0] != ' ') return std::nullopt;
  text.remove_prefix(1);
  std::int64_t validator = 0;
  if (text.substr(0, 1) == "-" && text.substr(1) == "\n") {
    text.remove_prefix(1);
  } else if (TakeNumber(text, validator)) {
    record.validator = validator;
  }
  if (text != "\n") return std::nullopt;
  if (total <= 0) return std::nullopt;
  record.totalSize = total;
  return record;
}

}  // namespace

std::string PartialRecordPath(const std::string& tempFile) { return tempFile + ".info"; }

PartialFile FindPartialFile(const std::string& tempFile) {
  const std::optional<platform::FileStatus> status = platform::GetFileStatus(tempFile);
  if (!status || status->size <= 0 || (status->attributes & platform::kAttrDirectory) != 0) {
    return {};
  }
  platform::File file =
      platform::File::Open(PartialRecordPath(tempFile), platform::OpenMode::kRead);
  if (!file.IsOpen()) return {};
  char text[kMaxRecordBytes + 1] = {};
  const std::int64_t n = file.Read(text, kMaxRecordBytes);
  if (n <= 0) return {};
  std::optional<PartialFile> record =
      ParseRecord(std::string_view(text, static_cast<std::size_t>(n)));
  if (!record || status->size >= record->totalSize) return {};
  record->offset = status->size;
  return *record;
}

bool RecordPartialFile(const std::string& tempFile, std::int64_t totalSize,
                       std::optional<HttpTime> validator) {
  char text[kMaxRecordBytes];
  const auto total = static_cast<long long>(totalSize);
  const int n = validator ? std::snprintf(text, sizeof text, "%lld %lld\n", total,
                                          static_cast<long long>(*validator))
                          : std::snprintf(text, sizeof text, "%lld -\n", total);
  platform::File file =
      platform::File::Open(PartialRecordPath(tempFile), platform::OpenMode::kCreateTruncate);
  return file.IsOpen() && n > 0 && file.Write(text, static_cast<std::size_t>(n));
}

void ForgetPartialFile(const std::string& tempFile) {
  platform::DeleteFile(PartialRecordPath(tempFile));
}

}  // namespace http
