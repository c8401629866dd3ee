// ParseHttpDate on any text. Checks: an accepted date lies in the years the
// forms can write (0 to 9999); written back in the RFC 1123 form it reads as
// the same instant; that form agrees with the C library's own UTC calendar;
// and the instant survives the conversion to a file time and back, which the
// download does when it stamps the file with Last-Modified.
#include <cstdint>
#include <ctime>
#include <string>

#include "fuzz_support.h"
#include "http/http_date.h"
#include "platform/files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  const std::optional<http::HttpTime> parsed = http::ParseHttpDate(text);
  if (!parsed) return 0;
  const http::HttpTime t = *parsed;
  FUZZ_CHECK(t >= http::DaysFromCivil(0, 1, 1) * 86400);
  FUZZ_CHECK(t < http::DaysFromCivil(10000, 1, 1) * 86400);

  const std::string written = http::FormatHttpDate(t);
  FUZZ_CHECK(written.size() == 29);
  FUZZ_CHECK(http::ParseHttpDate(written) == t);

  const std::time_t asTime = static_cast<std::time_t>(t);
  std::tm parts{};
  if (gmtime_r(&asTime, &parts) != nullptr && parts.tm_year + 1900 >= 1000) {
    char expected[64];
    std::strftime(expected, sizeof expected, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    FUZZ_CHECK(written == expected);
  }

  FUZZ_CHECK(platform::FileTimeToUnixTime(platform::UnixTimeToFileTime(t)) == t);
  return 0;
}
