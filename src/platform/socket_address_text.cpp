#include <cstdio>

#include "platform/socket_calls.h"

namespace platform {

std::string SocketAddressText(const IpAddress& ip, std::uint16_t port) {
  const std::uint8_t* address = ip.bytes.data();
  char text[64];
  if (!ip.v6) {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", address[0], address[1], address[2],
                  address[3], static_cast<unsigned>(port));
    return text;
  }
  unsigned groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = (address[2 * i] << 8) | address[2 * i + 1];
  // The longest run of two or more zero groups (the first of equals) becomes "::".
  int bestStart = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > bestLength) {
      bestStart = i;
      bestLength = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  std::string out = "[";
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      out += "::";
      i += bestLength - 1;
      continue;
    }
    if (i > 0 && i != bestStart + bestLength) out += ':';
    std::snprintf(text, sizeof text, "%x", groups[i]);
    out += text;
  }
  return out + "]:" + std::to_string(port);
}

}  // namespace platform
