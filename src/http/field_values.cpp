#include "http/field_values.h"

#include <cctype>
#include <limits>

namespace http {
namespace {

// Leading decimal digits of `text` (at least one), advancing it past them.
std::optional<std::int64_t> TakeNumber(std::string_view& text) {
  std::size_t i = 0;
  std::int64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    const int digit = text[i] - '0';
    if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
    ++i;
  }
  if (i == 0) return std::nullopt;
  text.remove_prefix(i);
  return value;
}

}  // namespace

std::optional<std::int64_t> ParseContentLength(std::string_view value) {
  std::string_view rest = value;
  const std::optional<std::int64_t> n = TakeNumber(rest);
  if (!n || !rest.empty()) return std::nullopt;
  return n;
}

std::optional<ContentRange> ParseContentRange(std::string_view value) {
  if (value.size() < 6) return std::nullopt;
  for (std::size_t i = 0; i < 5; ++i) {
    if (std::tolower(static_cast<unsigned char>(value[i])) != "bytes"[i]) return std::nullopt;
  }
  std::string_view rest = value.substr(5);
  if (rest.empty() || rest.front() != ' ') return std::nullopt;
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  ContentRange range;
  const auto first = TakeNumber(rest);
  if (!first || rest.empty() || rest.front() != '-') return std::nullopt;
  rest.remove_prefix(1);
  const auto last = TakeNumber(rest);
  if (!last || rest.empty() || rest.front() != '/') return std::nullopt;
  rest.remove_prefix(1);
  range.first = *first;
  range.last = *last;
  if (rest == "*") {
    range.complete = -1;
  } else {
    const auto complete = TakeNumber(rest);
    if (!complete || !rest.empty() || *last >= *complete) return std::nullopt;
    range.complete = *complete;
  }
  if (range.first > range.last) return std::nullopt;
  return range;
}

}  // namespace http
