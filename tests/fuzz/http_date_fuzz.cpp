// ParseHttpDate on any text. The date tables of tests/http pin the forms;
// here an accepted date lies in the years the forms can write (0 to 9999),
// written back in the RFC 1123 form it reads as the same instant, and the
// instant survives the conversion to a file time and back, which the
// download does when it stamps the file with Last-Modified.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "http/http_date.h"
#include "platform/files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::optional<http::HttpTime> parsed = http::ParseHttpDate(fuzz::AsText(data, size));
  if (!parsed) return 0;
  const http::HttpTime t = *parsed;
  FUZZ_CHECK(t >= http::DaysFromCivil(0, 1, 1) * 86400);
  FUZZ_CHECK(t < http::DaysFromCivil(10000, 1, 1) * 86400);
  FUZZ_CHECK(http::ParseHttpDate(http::FormatHttpDate(t)) == t);
  FUZZ_CHECK(platform::FileTimeToUnixTime(platform::UnixTimeToFileTime(t)) == t);
  return 0;
}
