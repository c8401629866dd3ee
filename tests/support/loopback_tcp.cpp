// The parts of loopback_tcp.h that are the same on every system: bytes move
// through the platform's socket calls.
#include "support/loopback_tcp.h"

#include <algorithm>

namespace testsupport {

int TcpConnection::Receive(char* buffer, int size, int timeoutMs) {
  if (!valid()) return -1;
  if (!WaitReady(s_, false, timeoutMs)) return kTimedOut;
  return std::max(platform::SystemSocketCalls().Receive(s_, buffer, size), -1);
}

std::string TcpConnection::Receive(std::size_t count, int timeoutMs) {
  std::string bytes;
  char chunk[4096];
  for (int n = 1; n > 0 && bytes.size() < count;) {
    n = Receive(chunk, static_cast<int>(std::min(sizeof chunk, count - bytes.size())), timeoutMs);
    if (n > 0) bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return bytes;
}

bool TcpConnection::SendAll(std::string_view bytes, int timeoutMs) {
  while (valid() && !bytes.empty() && WaitReady(s_, true, timeoutMs)) {
    const int n =
        platform::SystemSocketCalls().Send(s_, bytes.data(), static_cast<int>(bytes.size()));
    if (n < 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return bytes.empty();
}

std::uint16_t ClosedPort() {
  // The port stays free once its listener has closed.
  return TcpListener().port();
}

}  // namespace testsupport
