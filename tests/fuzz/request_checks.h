// Checks on a composed request text: whatever came from a URL or a server
// (host, object, referer) must not be able to end the request line or a
// header line early and so add lines of its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"

namespace fuzz {

inline void CheckRequestText(std::string_view text, std::string_view method) {
  FUZZ_CHECK(text.size() >= 4 && text.substr(text.size() - 4) == "\r\n\r\n");
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\r') {
      FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == '\n');
    } else if (byte == '\n') {
      FUZZ_CHECK(i > 0 && text[i - 1] == '\r');
    } else {
      FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
    }
  }
  std::vector<std::string_view> lines;
  for (std::size_t pos = 0; pos < text.size() - 2;) {
    const std::size_t end = text.find("\r\n", pos);
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  FUZZ_CHECK(!lines.empty());
  // Request line: METHOD SP target SP HTTP/1.1, the target without blanks.
  const std::string_view first = lines.front();
  const std::string prefix = std::string(method) + " ";
  FUZZ_CHECK(first.substr(0, prefix.size()) == prefix);
  constexpr std::string_view kVersion = " HTTP/1.1";
  FUZZ_CHECK(first.size() > prefix.size() + kVersion.size());
  FUZZ_CHECK(first.substr(first.size() - kVersion.size()) == kVersion);
  const std::string_view target =
      first.substr(prefix.size(), first.size() - prefix.size() - kVersion.size());
  FUZZ_CHECK(target.find(' ') == std::string_view::npos);
  // Header lines: only the engine's own fields, the Host line once.
  static const std::string_view kNames[] = {
      "Proxy-Authorization", "Authorization", "Host",       "Accept", "Pragma",  "Cache-Control",
      "User-Agent",          "Referer",       "Connection", "Range",  "If-Range"};
  int hosts = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::size_t colon = lines[i].find(": ");
    FUZZ_CHECK(colon != std::string_view::npos);
    const std::string_view name = lines[i].substr(0, colon);
    bool known = false;
    for (const std::string_view k : kNames) known = known || name == k;
    FUZZ_CHECK(known);
    if (name == "Host") ++hosts;
  }
  FUZZ_CHECK(hosts == 1);
}

}  // namespace fuzz
