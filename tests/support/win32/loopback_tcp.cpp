#include "support/loopback_tcp.h"

#include "platform/win32/windows_api.h"

namespace testsupport {
namespace {

SOCKET Sock(RawSocket s) { return static_cast<SOCKET>(s); }

// Winsock must be started once per process before the first socket; the count
// the library keeps makes this independent of the tests' own start-up and
// clean-up.
void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

}  // namespace

bool WaitReady(RawSocket s, bool forWrite, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Sock(s), &set);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int r = forWrite ? ::select(0, nullptr, &set, nullptr, &tv)
                         : ::select(0, &set, nullptr, nullptr, &tv);
  return r > 0;
}

void TcpConnection::Abort() {
  if (!valid()) return;
  linger l{1, 0};
  ::setsockopt(Sock(s_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  Close();
}

TcpListener::TcpListener(std::uint8_t host, std::uint16_t port, int backlog) {
  StartWinsock();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(0x7F000000u | host);
  address.sin_port = htons(port);
  int length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(s, backlog) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::closesocket(s);
    return;
  }
  s_ = static_cast<RawSocket>(s);
  port_ = ntohs(address.sin_port);
}

TcpConnection TcpListener::Accept(int timeoutMs) {
  if (!valid() || !WaitReady(s_, false, timeoutMs)) return TcpConnection();
  return TcpConnection(static_cast<RawSocket>(::accept(Sock(s_), nullptr, nullptr)));
}

}  // namespace testsupport
