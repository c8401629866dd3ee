#include "http/base64.h"

#include <cstdint>

namespace http {
namespace {
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

int Base64Encode(const std::string& text, std::string& out) {
  out.clear();
  out.reserve((text.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= text.size(); i += 3) {
    const std::uint32_t group =
        static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])) << 16 |
        static_cast<std::uint32_t>(static_cast<unsigned char>(text[i + 1])) << 8 |
        static_cast<unsigned char>(text[i + 2]);
    out += kBase64Alphabet[group >> 18 & 63];
    out += kBase64Alphabet[group >> 12 & 63];
    out += kBase64Alphabet[group >> 6 & 63];
    out += kBase64Alphabet[group & 63];
  }
  const std::size_t left = text.size() - i;
  if (left > 0) {
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])) << 16;
    if (left == 2) {
      group |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[i + 1])) << 8;
    }
    out += kBase64Alphabet[group >> 18 & 63];
    out += kBase64Alphabet[group >> 12 & 63];
    out += left == 2 ? kBase64Alphabet[group >> 6 & 63] : '=';
    out += '=';
  }
  return static_cast<int>(out.size());
}

}  // namespace http
