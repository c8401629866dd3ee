// The few TCP calls the in-process test servers need, on 127.0.0.1 only, with
// a bounded wait on every call. One implementation per system.
#pragma once

#include <cstdint>
#include <string_view>

namespace testsupport {

using RawSocket = std::intptr_t;
inline constexpr RawSocket kNoSocket = -1;

class TcpConnection {
 public:
  explicit TcpConnection(RawSocket s = kNoSocket) : s_(s) {}
  ~TcpConnection() { Close(); }
  TcpConnection(TcpConnection&& other) noexcept : s_(other.s_) { other.s_ = kNoSocket; }
  TcpConnection& operator=(TcpConnection&& other) noexcept;
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  bool valid() const { return s_ != kNoSocket; }
  // Bytes received (0: the peer closed), or -1 on an error or when nothing
  // arrived within `timeoutMs`.
  int Receive(char* buffer, int size, int timeoutMs);
  // False when the peer is gone or the data did not go within `timeoutMs`.
  bool SendAll(std::string_view bytes, int timeoutMs);
  // Ends the connection with a reset instead of an orderly close.
  void Abort();
  void Close();

 private:
  RawSocket s_;
};

class TcpListener {
 public:
  // Listens on 127.0.0.1 at a port the system picks.
  TcpListener();
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  bool valid() const { return s_ != kNoSocket; }
  std::uint16_t port() const { return port_; }
  // The next connection, or an invalid one when none came within `timeoutMs`.
  TcpConnection Accept(int timeoutMs);

 private:
  RawSocket s_ = kNoSocket;
  std::uint16_t port_ = 0;
};

}  // namespace testsupport
