// The loopback helpers of loopback.h on Windows Sockets: the far end uses
// plain blocking Winsock calls; waits are select(2) with a limit.
#include <algorithm>
#include <cstring>
#include <utility>

#include "loopback.h"
#include "platform/win32/windows_api.h"

namespace nettest {
namespace {

SOCKET Native(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }
SOCKET Native(net::SocketHandle s) { return static_cast<SOCKET>(s); }
int Descriptor(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }

// Winsock must be started in every process that calls it; the count the
// library keeps makes this independent of the tests' own start-up and clean-up.
void EnsureLibrary() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

enum class Readiness { kRead, kWrite, kExcept };

// True when select reports `s` ready within `timeoutMs`.
bool SelectFor(SOCKET s, Readiness what, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int ready = select(0, what == Readiness::kRead ? &set : nullptr,
                           what == Readiness::kWrite ? &set : nullptr,
                           what == Readiness::kExcept ? &set : nullptr, &limit);
  return ready > 0;
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
    const int n =
        ::send(Native(fd_), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string Peer::Receive(std::size_t length, int timeoutMs) {
  std::string bytes;
  char chunk[4096];
  while (bytes.size() < length && SelectFor(Native(fd_), Readiness::kRead, timeoutMs)) {
    const std::size_t want = std::min(sizeof chunk, length - bytes.size());
    const int n = ::recv(Native(fd_), chunk, static_cast<int>(want), 0);
    if (n <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return bytes;
}

std::size_t Peer::DrainToEnd() {
  std::size_t total = 0;
  static char chunk[65536];
  for (;;) {
    const int n = ::recv(Native(fd_), chunk, sizeof chunk, 0);
    if (n <= 0) return total;
    total += static_cast<std::size_t>(n);
  }
}

bool Peer::HasBytes(int timeoutMs) { return SelectFor(Native(fd_), Readiness::kRead, timeoutMs); }

void Peer::ShutdownSend() { ::shutdown(Native(fd_), SD_SEND); }

void Peer::Close() {
  if (fd_ >= 0) ::closesocket(Native(fd_));
  fd_ = -1;
}

void Peer::SetReceiveBuffer(int bytes) {
  ::setsockopt(Native(fd_), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
               sizeof bytes);
}

Listener::Listener(int backlog) {
  EnsureLibrary();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  fd_ = Descriptor(s);
  sockaddr_in address = Loopback(0);
  int size = sizeof address;
  if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(s, backlog) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
}

Listener::~Listener() {
  if (fd_ >= 0) ::closesocket(Native(fd_));
}

Peer Listener::Accept() {
  if (!SelectFor(Native(fd_), Readiness::kRead, 5000)) return Peer();
  return Peer(Descriptor(::accept(Native(fd_), nullptr, nullptr)));
}

Connection Connect(Listener& listener) {
  Connection connection;
  connection.socket.reset(net::SocketCreate(2, 1, 0));
  if (net::SocketConnectHost(connection.socket.get(), "127.0.0.1", listener.port(), 5000, 0) == 0) {
    connection.peer = listener.Accept();
  }
  return connection;
}

bool WaitReadable(net::SocketHandle s, int timeoutMs) {
  return SelectFor(Native(s), Readiness::kRead, timeoutMs);
}

// Waits for the peer's close (FD_CLOSE) with a selection of its own. Wine
// records a close only once the bytes in front of it have been read, so while
// bytes wait, their arrival is taken instead and the close, sent right after
// them over loopback, is given a moment to follow. The socket is non-blocking
// afterwards, as every socket of the transport is once it has been used.
bool WaitPeerClosed(net::SocketHandle s, int timeoutMs) {
  const WSAEVENT event = WSACreateEvent();
  if (event == WSA_INVALID_EVENT) return false;
  bool closed = false;
  if (WSAEventSelect(Native(s), event, FD_READ | FD_CLOSE) == 0 &&
      WSAWaitForMultipleEvents(1, &event, TRUE, static_cast<DWORD>(timeoutMs), FALSE) ==
          WSA_WAIT_EVENT_0) {
    WSANETWORKEVENTS recorded{};
    if (WSAEnumNetworkEvents(Native(s), event, &recorded) == 0) {
      if ((recorded.lNetworkEvents & FD_CLOSE) != 0) {
        closed = true;
      } else if ((recorded.lNetworkEvents & FD_READ) != 0) {
        Sleep(50);
        closed = true;
      }
      // A read recorded here must be recorded again for the code under test:
      // a receive (a peek leaves the bytes) re-enables it.
      if ((recorded.lNetworkEvents & FD_READ) != 0) {
        char byte;
        ::recv(Native(s), &byte, 1, MSG_PEEK);
      }
    }
  }
  WSAEventSelect(Native(s), event, 0);
  WSACloseEvent(event);
  return closed;
}

void SetSendBuffer(net::SocketHandle s, int bytes) {
  ::setsockopt(Native(s), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
               sizeof bytes);
}

std::uint16_t ClosedPort() {
  EnsureLibrary();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  int size = sizeof address;
  ::bind(s, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  ::closesocket(s);
  return ntohs(address.sin_port);
}

std::int32_t ConnectionRefusedCode() { return WSAECONNREFUSED; }

void LoopbackAddress(std::uint16_t port, void* address16) {
  const sockaddr_in address = Loopback(port);
  std::memcpy(address16, &address, sizeof address);
}

}  // namespace nettest
