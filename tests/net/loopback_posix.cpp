#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "loopback.h"

namespace nettest {
namespace {

int Fd(net::SocketHandle s) { return static_cast<int>(static_cast<std::intptr_t>(s)); }

bool PollFor(int fd, short events, int timeoutMs) {
  pollfd entry{fd, events, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (entry.revents & (events | POLLHUP | POLLERR)) != 0;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

Peer::~Peer() { Close(); }

Peer::Peer(Peer&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Peer& Peer::operator=(Peer&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool Peer::Send(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string Peer::Receive(std::size_t length, int timeoutMs) {
  std::string bytes;
  char chunk[4096];
  while (bytes.size() < length && PollFor(fd_, POLLIN, timeoutMs)) {
    const std::size_t want = std::min(sizeof chunk, length - bytes.size());
    const ssize_t n = ::recv(fd_, chunk, want, 0);
    if (n <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return bytes;
}

std::size_t Peer::DrainToEnd() {
  std::size_t total = 0;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return total;
    total += static_cast<std::size_t>(n);
  }
}

bool Peer::HasBytes(int timeoutMs) { return PollFor(fd_, POLLIN, timeoutMs); }

void Peer::ShutdownSend() { ::shutdown(fd_, SHUT_WR); }

void Peer::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void Peer::SetReceiveBuffer(int bytes) {
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

Listener::Listener(int backlog) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(fd_, backlog) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
}

Listener::~Listener() {
  if (fd_ >= 0) ::close(fd_);
}

Peer Listener::Accept() {
  if (!PollFor(fd_, POLLIN, 5000)) return Peer();
  return Peer(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
}

Connection Connect(Listener& listener) {
  Connection connection;
  connection.socket.reset(net::SocketCreate(2, 1, 0));
  if (net::SocketConnectHost(connection.socket.get(), "127.0.0.1", listener.port(), 5000, 0) == 0) {
    connection.peer = listener.Accept();
  }
  return connection;
}

bool WaitReadable(net::SocketHandle s, int timeoutMs) { return PollFor(Fd(s), POLLIN, timeoutMs); }

bool WaitPeerClosed(net::SocketHandle s, int timeoutMs) {
  return PollFor(Fd(s), POLLRDHUP, timeoutMs);
}

void SetSendBuffer(net::SocketHandle s, int bytes) {
  ::setsockopt(Fd(s), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

std::uint16_t ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

std::int32_t ConnectionRefusedCode() { return ECONNREFUSED; }

void LoopbackAddress(std::uint16_t port, void* address16) {
  const sockaddr_in address = Loopback(port);
  std::memcpy(address16, &address, sizeof address);
}

}  // namespace nettest
