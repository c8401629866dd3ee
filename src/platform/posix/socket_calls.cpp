#include "platform/socket_calls.h"

#include <cerrno>

namespace platform {

std::int32_t SocketErrorTimedOut() { return ETIMEDOUT; }
std::int32_t SocketErrorWouldBlock() { return EWOULDBLOCK; }
// POSIX has no library version to refuse; a number no call returns.
std::int32_t SocketErrorVersionNotSupported() { return EPROTONOSUPPORT; }

std::int32_t SocketLibraryStart(std::uint16_t requestedVersion, std::uint16_t& grantedVersion) {
  grantedVersion = requestedVersion;
  return 0;
}

int SocketLibraryStop() { return 0; }

}  // namespace platform
