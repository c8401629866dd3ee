// Values of the response fields that frame the body: Content-Length and
// Content-Range. Anything that is not exactly the expected form is refused,
// so a wrong value fails the response instead of being half-read.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace http {

// Decimal digits only, at most 2^63 - 1.
std::optional<std::int64_t> ParseContentLength(std::string_view value);

struct ContentRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::int64_t complete = -1;  // -1 for "*"
};

// "bytes FIRST-LAST/COMPLETE" or "bytes FIRST-LAST/*", with FIRST <= LAST
// and LAST < COMPLETE.
std::optional<ContentRange> ParseContentRange(std::string_view value);

}  // namespace http
