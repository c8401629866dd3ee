// Checks on texts that end up in a request line or a header line: a control
// byte (CR and LF above all) in any of them could start a line of its own.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>

namespace http {

// True when `a` and `b` are the same text but for the case of ASCII letters
// (header field names, the "HTTP/" of a status line). Inline, so that test
// code can use it without linking the HTTP library.
inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// `text` without the blanks and tabs at either end.
std::string TrimBlanks(std::string_view text);

// True when `text` holds a byte below 0x20 or the byte 0x7F.
bool HasControlByte(std::string_view text);

// The request target as it goes on the request line: blanks, which would end
// the target early, are sent as "%20"; every other byte goes as it is.
std::string EncodeRequestTarget(std::string_view target);

}  // namespace http
