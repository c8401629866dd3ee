#include "support/loopback_tcp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace testsupport {
namespace {

int Fd(RawSocket s) { return static_cast<int>(static_cast<std::intptr_t>(s)); }

}  // namespace

bool WaitReady(RawSocket s, bool forWrite, int timeoutMs) {
  const short events = forWrite ? POLLOUT : POLLIN;
  pollfd p{Fd(s), events, 0};
  int r;
  while ((r = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
  }
  return r > 0 && (p.revents & (events | POLLHUP | POLLERR)) != 0;
}

void TcpConnection::Abort() {
  if (!valid()) return;
  linger l{1, 0};
  ::setsockopt(Fd(s_), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

TcpListener::TcpListener(std::uint8_t host, std::uint16_t port, int backlog) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(0x7F000000u | host);
  address.sin_port = htons(port);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return;
  }
  s_ = static_cast<RawSocket>(fd);
  port_ = ntohs(address.sin_port);
}

TcpConnection TcpListener::Accept(int timeoutMs) {
  if (!valid() || !WaitReady(s_, false, timeoutMs)) return TcpConnection();
  const int fd = ::accept4(Fd(s_), nullptr, nullptr, SOCK_CLOEXEC);
  return TcpConnection(fd < 0 ? kNoSocket : static_cast<RawSocket>(fd));
}

}  // namespace testsupport
