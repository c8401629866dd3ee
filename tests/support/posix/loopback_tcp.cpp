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

RawSocket FromFd(int fd) { return fd < 0 ? kNoSocket : static_cast<RawSocket>(fd); }

// True when poll(2) reports `events` (or a hang-up or an error) on `s`
// within `timeoutMs`.
bool WaitFor(RawSocket s, short events, int timeoutMs) {
  pollfd p{Fd(s), events, 0};
  for (;;) {
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    return r > 0 && (p.revents & (events | POLLHUP | POLLERR)) != 0;
  }
}

}  // namespace

int TcpConnection::Receive(char* buffer, int size, int timeoutMs) {
  if (!valid() || !WaitFor(s_, POLLIN, timeoutMs)) return -1;
  const ssize_t n = ::recv(Fd(s_), buffer, static_cast<std::size_t>(size), 0);
  return n < 0 ? -1 : static_cast<int>(n);
}

bool TcpConnection::SendAll(std::string_view bytes, int timeoutMs) {
  while (valid() && !bytes.empty()) {
    if (!WaitFor(s_, POLLOUT, timeoutMs)) return false;
    const ssize_t n = ::send(Fd(s_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return bytes.empty();
}

void TcpConnection::Abort() {
  if (!valid()) return;
  linger l{1, 0};
  ::setsockopt(Fd(s_), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

void TcpConnection::Close() {
  if (valid()) ::close(Fd(s_));
  s_ = kNoSocket;
}

TcpListener::TcpListener() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return;
  }
  s_ = FromFd(fd);
  port_ = ntohs(address.sin_port);
}

TcpListener::~TcpListener() {
  if (valid()) ::close(Fd(s_));
}

TcpConnection TcpListener::Accept(int timeoutMs) {
  if (!valid() || !WaitFor(s_, POLLIN, timeoutMs)) return TcpConnection();
  return TcpConnection(FromFd(::accept4(Fd(s_), nullptr, nullptr, SOCK_CLOEXEC)));
}

}  // namespace testsupport
