// Checks on a composed request text: whatever came from a URL or a server
// (host, object, referer) must not be able to end the request line or a
// header line early and so add lines of its own.
#pragma once

#include <string>
#include <string_view>

#include "fuzz_support.h"

namespace fuzz {

inline void CheckRequestText(std::string_view text) {
  FUZZ_CHECK(text.ends_with("\r\n\r\n"));
  // Request line: GET SP target SP HTTP/1.1, the target without blanks.
  const std::size_t firstEnd = text.find("\r\n");
  const std::string_view first = text.substr(0, firstEnd);
  FUZZ_CHECK(first.starts_with("GET ") && first.ends_with(" HTTP/1.1") && first.size() > 13);
  FUZZ_CHECK(first.substr(4, first.size() - 13).find(' ') == std::string_view::npos);
  // Header lines: only the engine's own fields, the Host line once; no
  // control byte but the CR LF that ends each line.
  constexpr std::string_view kNames =
      "|Proxy-Authorization|Authorization|Host|Accept|Pragma|Cache-Control|User-Agent|Referer"
      "|Connection|Range|If-Range|";
  int hosts = 0;
  for (std::size_t pos = 0; pos < text.size() - 2;) {
    const std::size_t end = text.find("\r\n", pos);
    const std::string_view line = text.substr(pos, end - pos);
    for (const char c : line) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    if (pos > 0) {
      const std::size_t colon = line.find(": ");
      FUZZ_CHECK(colon != std::string_view::npos && colon > 0);
      const std::string_view name = line.substr(0, colon);
      FUZZ_CHECK(kNames.find("|" + std::string(name) + "|") != std::string_view::npos);
      hosts += name == "Host";
    }
    pos = end + 2;
  }
  FUZZ_CHECK(hosts == 1);
}

}  // namespace fuzz
