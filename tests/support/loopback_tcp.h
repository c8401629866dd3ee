// TCP on 127.0.0.1 for tests: the in-process test servers, and the far end of
// the connections in the transport's tests. The sockets here are blocking and
// made with plain system calls (posix/ and win32/); every wait has a limit, and
// bytes move through the platform's socket calls (loopback_tcp.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/socket_calls.h"

namespace testsupport {

// A Winsock SOCKET or a POSIX descriptor, as the platform layer holds one.
using RawSocket = platform::SocketHandle;
inline constexpr RawSocket kNoSocket = platform::kInvalidSocket;
// The limit of a wait unless a call is given another.
inline constexpr int kDefaultWaitMs = 5000;

class TcpConnection {
 public:
  explicit TcpConnection(RawSocket s = kNoSocket) : s_(s) {}
  ~TcpConnection() { Close(); }
  TcpConnection(TcpConnection&& o) noexcept : s_(std::exchange(o.s_, kNoSocket)) {}
  // The moved-from connection takes this one's socket and closes it in turn.
  TcpConnection& operator=(TcpConnection&& o) noexcept { return std::swap(s_, o.s_), *this; }

  bool valid() const { return s_ != kNoSocket; }
  // Bytes received (0: the peer closed), kTimedOut when nothing arrived within
  // `timeoutMs`, or -1 on an error (a reset among them).
  static constexpr int kTimedOut = -2;
  int Receive(char* buffer, int size, int timeoutMs);
  // Exactly `count` bytes, or fewer when the connection ends or nothing
  // arrives within `timeoutMs`.
  std::string Receive(std::size_t count, int timeoutMs = kDefaultWaitMs);
  // False when the peer is gone or the data did not go within `timeoutMs`.
  bool SendAll(std::string_view bytes, int timeoutMs = kDefaultWaitMs);
  // Ends the connection with a reset instead of an orderly close.
  void Abort();
  void Close() {
    if (valid()) platform::SystemSocketCalls().CloseSocket(std::exchange(s_, kNoSocket));
  }

 private:
  RawSocket s_;
};

class TcpListener {
 public:
  // Listens on 127.0.0.`host` at `port` (0: one the system picks), holding
  // at most about `backlog` connections that it has not accepted. With a
  // backlog of 0 and one connection held, Linux drops every further SYN: an
  // address that never answers.
  explicit TcpListener(std::uint8_t host = 1, std::uint16_t port = 0, int backlog = 16);
  ~TcpListener() {
    if (valid()) platform::SystemSocketCalls().CloseSocket(s_);
  }
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  bool valid() const { return s_ != kNoSocket; }
  std::uint16_t port() const { return port_; }
  // The next connection, or an invalid one when none came within `timeoutMs`.
  TcpConnection Accept(int timeoutMs = kDefaultWaitMs);

 private:
  RawSocket s_ = kNoSocket;
  std::uint16_t port_ = 0;
};

// True when `s` can be read (or written) within `timeoutMs`, or the
// connection has ended.
bool WaitReady(RawSocket s, bool forWrite, int timeoutMs);

// A port on 127.0.0.1 that nothing listens on.
std::uint16_t ClosedPort();

}  // namespace testsupport
