// The parts of loopback_tcp.h that are the same on every system: bytes move
// and sockets close through the platform's socket calls.
#include "support/loopback_tcp.h"

#include <algorithm>

#include "platform/socket_calls.h"

namespace testsupport {

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
  if (this != &other) {
    Close();
    s_ = other.s_;
    other.s_ = kNoSocket;
  }
  return *this;
}

int TcpConnection::Receive(char* buffer, int size, int timeoutMs) {
  if (!valid() || !WaitReady(s_, false, timeoutMs)) return -1;
  const int n = platform::SystemSocketCalls().Receive(s_, buffer, size);
  return n < 0 ? -1 : n;
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

bool TcpConnection::SendAll(std::string_view bytes, int timeoutMs) {
  while (valid() && !bytes.empty()) {
    if (!WaitReady(s_, true, timeoutMs)) return false;
    const int n =
        platform::SystemSocketCalls().Send(s_, bytes.data(), static_cast<int>(bytes.size()));
    if (n < 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return bytes.empty();
}

void TcpConnection::Close() {
  if (valid()) platform::SystemSocketCalls().CloseSocket(s_);
  s_ = kNoSocket;
}

TcpListener::~TcpListener() {
  if (valid()) platform::SystemSocketCalls().CloseSocket(s_);
}

std::uint16_t ClosedPort() {
  // The port stays free once its listener has closed.
  return TcpListener().port();
}

}  // namespace testsupport
