#include "http/header_text.h"

namespace http {

bool HasControlByte(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

std::string EncodeRequestTarget(std::string_view target) {
  std::string out;
  out.reserve(target.size());
  for (char c : target) {
    if (c == ' ') {
      out += "%20";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace http
