// The parts of loopback_tcp.h that are the same on every system.
#include "support/loopback_tcp.h"

#include <algorithm>
#include <vector>

namespace testsupport {

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
  if (this != &other) {
    Close();
    s_ = other.s_;
    other.s_ = kNoSocket;
  }
  return *this;
}

std::string TcpConnection::Receive(std::size_t count, int timeoutMs) {
  std::string bytes;
  char chunk[4096];
  while (bytes.size() < count) {
    const std::size_t want = std::min(sizeof chunk, count - bytes.size());
    const int n = Receive(chunk, static_cast<int>(want), timeoutMs);
    if (n <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return bytes;
}

std::size_t TcpConnection::DrainToEnd(int timeoutMs) {
  std::size_t total = 0;
  std::vector<char> chunk(65536);
  for (;;) {
    const int n = Receive(chunk.data(), static_cast<int>(chunk.size()), timeoutMs);
    if (n <= 0) return total;
    total += static_cast<std::size_t>(n);
  }
}

std::uint16_t ClosedPort() {
  // The port stays free once its listener has closed.
  return TcpListener().port();
}

}  // namespace testsupport
