#include "net/socket_library.h"

namespace net {
namespace {
thread_local std::int32_t socketLastError = 0;
constexpr std::uint16_t kWantedVersion = 0x0202;  // 2.2
}  // namespace

int SocketStartup() {
  std::uint16_t granted = 0;
  const std::int32_t code = platform::SocketLibraryStart(kWantedVersion, granted);
  if (code != 0) {
    SetSocketLastError(code);
    return -1;
  }
  if (granted != kWantedVersion) {
    platform::SocketLibraryStop();
    SetSocketLastError(ErrVersionNotSupported());
    return -1;
  }
  return 0;
}

int SocketCleanup() { return platform::SocketLibraryStop(); }

std::int32_t SocketLastError() { return socketLastError; }

void SetSocketLastError(std::int32_t code) { socketLastError = code; }

}  // namespace net
