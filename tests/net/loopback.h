// Real connections on 127.0.0.1 for the transport's tests: our end is made
// with the transport's own calls, the far end (`Peer`) is driven with plain
// blocking system calls. Waits here are event waits with a limit, never sleeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/event_socket.h"

namespace nettest {

// The far end of a connection.
class Peer {
 public:
  explicit Peer(int descriptor = -1) : fd_(descriptor) {}
  ~Peer();
  Peer(Peer&& other) noexcept;
  Peer& operator=(Peer&& other) noexcept;
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool valid() const { return fd_ >= 0; }
  // Sends all of `bytes` (blocking); false when the connection failed.
  bool Send(const std::string& bytes);
  // Receives exactly `length` bytes or fewer when the connection ends or
  // nothing arrives within `timeoutMs`.
  std::string Receive(std::size_t length, int timeoutMs = 5000);
  // Reads until the other end closes: the number of bytes read.
  std::size_t DrainToEnd();
  // True when bytes are there to read within `timeoutMs`.
  bool HasBytes(int timeoutMs);
  void ShutdownSend();
  void Close();
  void SetReceiveBuffer(int bytes);

 private:
  int fd_;
};

// A listener on 127.0.0.1 with a port of the system's choosing.
class Listener {
 public:
  explicit Listener(int backlog = 16);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  std::uint16_t port() const { return port_; }
  // The next connection's far end (waits at most 5 s).
  Peer Accept();

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// Our end, connected with SocketCreate and SocketConnectHost, and its peer.
struct Connection {
  net::UniqueSocket socket;
  Peer peer;
};
Connection Connect(Listener& listener);

// Blocks until `s` has bytes to read, or until the peer's close has arrived.
bool WaitReadable(net::SocketHandle s, int timeoutMs);
bool WaitPeerClosed(net::SocketHandle s, int timeoutMs);
void SetSendBuffer(net::SocketHandle s, int bytes);
// A port on 127.0.0.1 that nothing listens on.
std::uint16_t ClosedPort();
// The platform's number for a refused connection.
std::int32_t ConnectionRefusedCode();
// The 16-byte address of 127.0.0.1 and `port`.
void LoopbackAddress(std::uint16_t port, void* address16);

}  // namespace nettest
