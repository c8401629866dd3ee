#include <cstdio>
#include <cstring>

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

std::string SocketAddressText(const void* socketAddress, std::size_t length) {
  std::uint16_t family = 0;
  if (length < sizeof family) return {};
  std::memcpy(&family, socketAddress, sizeof family);
  IpAddress ip;
  std::uint8_t port[2];
  if (family == kAddressFamilyInet && length >= sizeof(Ipv4SocketAddress)) {
    Ipv4SocketAddress v4;
    std::memcpy(&v4, socketAddress, sizeof v4);
    std::memcpy(ip.bytes.data(), v4.address, sizeof v4.address);
    std::memcpy(port, v4.port, sizeof port);
  } else if (family == AddressFamilyInet6() && length >= sizeof(Ipv6SocketAddress)) {
    Ipv6SocketAddress v6;
    std::memcpy(&v6, socketAddress, sizeof v6);
    ip.v6 = true;
    std::memcpy(ip.bytes.data(), v6.address, sizeof v6.address);
    std::memcpy(port, v6.port, sizeof port);
  } else {
    return {};
  }
  return SocketAddressText(ip, static_cast<std::uint16_t>(port[0] << 8 | port[1]));
}

}  // namespace platform
