// Stream sockets whose every wait has a time-out in milliseconds. A failing
// operation returns -1 and leaves the platform's error number in the calling
// thread's SocketLastError(). The look-up and connect here are IPv4's;
// host_connection.h reaches a host by every address it has, IPv6 too.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket_calls.h"

namespace net {

using SocketHandle = platform::SocketHandle;
inline constexpr SocketHandle kInvalidSocket = platform::kInvalidSocket;
inline constexpr std::uint32_t kInaddrNone = platform::kNoIpv4Address;

// Time-outs bound each single wait for a network event, not an operation as
// a whole: after a would-block the operation pauses 100 ms and waits again
// with the full time-out. The socket turns non-blocking at its first timed
// operation and stays so.

// A socket with SO_REUSEADDR set; the transport asks for AF_INET (2) or
// AF_INET6, SOCK_STREAM (1), protocol 0. kInvalidSocket on failure (code stored).
SocketHandle SocketCreate(int family, int type, int protocol);
// With `immediate`, closes at once. Otherwise gracefully: stops sending, then
// reads and discards what the peer still sends, 256 bytes per pass waiting at
// most 4000 ms each, until a pass gets nothing; then closes. The result is the
// platform's close (0 or -1); nothing stored. Safe on any socket, also one
// whose connect failed.
int SocketClose(SocketHandle s, int immediate);
// One receive or send as the socket's mode allows: the count moved (0 from a
// receive: the peer closed), or the platform error negated.
int SocketRecv(SocketHandle s, char* buffer, int length);
int SocketSend(SocketHandle s, const char* buffer, int length);
// Waits for data or a close, then receives once: the count (0: the peer
// closed); -1 on failure or time-out (code stored; ErrTimedOut() for a wait
// that timed out). A wait that records only the peer's close fails; one that
// records data together with the close lets the data through.
int SocketRecvTimed(SocketHandle s, char* buffer, int length, std::uint32_t timeoutMs);
// As SocketRecvTimed, but the peer's orderly close is an end, not a failure:
// 0 once it came and every byte before it was received (a reset still fails).
// For a body that ends with the connection.
int SocketRecvToClose(SocketHandle s, char* buffer, int length, std::uint32_t timeoutMs);
// Sends once, waiting for room only after a would-block: the count sent (may
// be less than length); -1 on failure or time-out (code stored).
int SocketSendTimed(SocketHandle s, const char* buffer, int length, std::uint32_t timeoutMs);
// SocketSendTimed until all is sent or one fails: the total sent, equal to
// length on success; on failure the code of the failed send stays stored.
int SocketSendAll(SocketHandle s, const char* buffer, int length, std::uint32_t timeoutMs);
// `address` is a sockaddr_in or sockaddr_in6 (platform::Ipv4SocketAddress,
// Ipv6SocketAddress) of the socket's family.
// 0 when connected; -1 on failure or time-out with the attempt's own error
// code (or ErrTimedOut() for the wait) stored.
int SocketConnectTimed(SocketHandle s, const void* address, int addressLength,
                       std::uint32_t timeoutMs);
// A dotted IPv4 text as inet_addr reads it (so "255.255.255.255" does not
// resolve), else a look-up of the name - with `useResolverThread` on a thread
// of its own that the caller waits for at most `timeoutMs` (and no longer
// once a stop is asked for, ScopedStopFlag); a look-up still running then is
// abandoned. Network byte order; kInaddrNone on failure, nothing stored.
inline constexpr std::uint32_t kResolveWithoutLimit = 0xFFFFFFFFu;
std::uint32_t ResolveHost(const char* host, int useResolverThread,
                          std::uint32_t timeoutMs = kResolveWithoutLimit);
// Resolves `host` and connects to it, each within the time-out: 0; -1 on failure
// (code stored; for a name that does not resolve, the thread's last socket error).
int SocketConnectHost(SocketHandle s, const char* host, std::uint16_t port, std::uint32_t timeoutMs,
                      int useResolverThread);

// The address a connected socket reaches ("127.0.0.1:8080"), for the log;
// empty when the system cannot say.
std::string SocketPeerAddress(SocketHandle s);

// Owns a socket and closes it at once when it goes.
class UniqueSocket {
 public:
  explicit UniqueSocket(SocketHandle s = kInvalidSocket) : s_(s) {}
  ~UniqueSocket() { reset(); }
  UniqueSocket(UniqueSocket&& o) noexcept : s_(o.release()) {}
  UniqueSocket& operator=(UniqueSocket&& o) noexcept {
    if (this != &o) {
      reset();
      s_ = o.release();
    }
    return *this;
  }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;
  SocketHandle get() const { return s_; }
  SocketHandle release() {
    SocketHandle s = s_;
    s_ = kInvalidSocket;
    return s;
  }
  void reset(SocketHandle s = kInvalidSocket) {
    if (s_ != kInvalidSocket) SocketClose(s_, 1);
    s_ = s;
  }

 private:
  SocketHandle s_;
};

}  // namespace net
