// IPv4 stream sockets whose every wait has a time-out in milliseconds. A failing
// operation returns -1 and leaves the platform's error number in the calling
// thread's SocketLastError().
#pragma once

#include <cstdint>

#include "platform/socket_calls.h"

namespace net {

using SocketHandle = platform::SocketHandle;
inline constexpr SocketHandle kInvalidSocket = platform::kInvalidSocket;
inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;

SocketHandle SocketCreate(int family, int type, int protocol);
int SocketClose(SocketHandle s, int immediate);
int SocketRecv(SocketHandle s, char* buffer, int length);
int SocketSend(SocketHandle s, const char* buffer, int length);
int SocketRecvTimed(SocketHandle s, char* buffer, int length, std::uint32_t timeoutMs);
int SocketSendTimed(SocketHandle s, const char* buffer, int length, std::uint32_t timeoutMs);
int SocketSendAll(SocketHandle s, const char* buffer, int length, std::uint32_t timeoutMs);
// `address` is a 16-byte IPv4 sockaddr_in.
int SocketConnectTimed(SocketHandle s, const void* address, int addressLength,
                       std::uint32_t timeoutMs);
// Network byte order; kInaddrNone on failure.
std::uint32_t ResolveHost(const char* host, int useResolverThread);
int SocketConnectHost(SocketHandle s, const char* host, std::uint16_t port,
                      std::uint32_t timeoutMs, int useResolverThread);

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
