// POSIX sockets behind the Winsock-shaped calls: descriptors are the handles,
// and an "event" is a small record that poll(2) fills and that enumeration
// turns into the network events Winsock would have recorded.
#include "platform/socket_calls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

namespace platform {

static_assert(sizeof(sockaddr_in) == sizeof(Ipv4SocketAddress));
static_assert(offsetof(sockaddr_in, sin_family) == offsetof(Ipv4SocketAddress, family));
static_assert(offsetof(sockaddr_in, sin_port) == offsetof(Ipv4SocketAddress, port));
static_assert(offsetof(sockaddr_in, sin_addr) == offsetof(Ipv4SocketAddress, address));
static_assert(AF_INET == kAddressFamilyInet && SOCK_STREAM == kSocketTypeStream);
static_assert(sizeof(sockaddr_in6) == sizeof(Ipv6SocketAddress));
static_assert(offsetof(sockaddr_in6, sin6_port) == offsetof(Ipv6SocketAddress, port));
static_assert(offsetof(sockaddr_in6, sin6_addr) == offsetof(Ipv6SocketAddress, address));
static_assert(offsetof(sockaddr_in6, sin6_scope_id) == offsetof(Ipv6SocketAddress, scopeId));

std::uint16_t AddressFamilyInet6() { return AF_INET6; }

std::int32_t SocketErrorTimedOut() { return ETIMEDOUT; }
std::int32_t SocketErrorWouldBlock() { return EWOULDBLOCK; }
// POSIX has no library version to refuse; a number no socket call here returns.
std::int32_t SocketErrorVersionNotSupported() { return EPROTONOSUPPORT; }
std::int32_t SocketErrorConnectionAborted() { return ECONNABORTED; }

namespace {

struct PollEvent {
  int fd = -1;
  std::uint32_t mask = 0;
  short revents = 0;
};

int Descriptor(SocketHandle s) { return static_cast<int>(static_cast<std::intptr_t>(s)); }

PollEvent* EventRecord(SocketEventHandle event) { return reinterpret_cast<PollEvent*>(event); }

int NegatedErrno() {
  const int code = (errno == EAGAIN || errno == EINPROGRESS) ? EWOULDBLOCK : errno;
  errno = code;
  return -code;
}

short PollMask(std::uint32_t mask) {
  short events = 0;
  // Not POLLIN for kNetClose alone: bytes arriving while a send waits must not
  // end the wait, as they do not signal a Winsock event selected without FD_READ.
  if (mask & kNetRead) events |= POLLIN;
  if (mask & kNetClose) events |= POLLRDHUP;
  if (mask & (kNetWrite | kNetConnect)) events |= POLLOUT;
  return events;
}

class PosixSocketCalls final : public SocketCalls {
 public:
  std::int32_t StartLibrary(std::uint16_t requestedVersion,
                            std::uint16_t& grantedVersion) override {
    grantedVersion = requestedVersion;
    return 0;
  }
  int StopLibrary() override { return 0; }

  std::int32_t LastSocketError() override { return errno; }
  std::int32_t LastSystemError() override { return errno; }

  SocketHandle OpenSocket(int family, int type, int protocol) override {
    const int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
    return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
  }

  int SetReuseAddress(SocketHandle s) override {
    const int on = 1;
    return ::setsockopt(Descriptor(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 0 : -1;
  }

  int CloseSocket(SocketHandle s) override { return ::close(Descriptor(s)) == 0 ? 0 : -1; }

  int ShutdownSocket(SocketHandle s, int how) override {
    return ::shutdown(Descriptor(s), how == kShutdownSend ? SHUT_WR : SHUT_RDWR) == 0 ? 0 : -1;
  }

  int Receive(SocketHandle s, char* buffer, int length) override {
    for (;;) {
      const ssize_t n = ::recv(Descriptor(s), buffer, static_cast<std::size_t>(length), 0);
      if (n >= 0) return static_cast<int>(n);
      if (errno != EINTR) return NegatedErrno();
    }
  }

  int Send(SocketHandle s, const char* buffer, int length) override {
    for (;;) {
      const ssize_t n =
          ::send(Descriptor(s), buffer, static_cast<std::size_t>(length), MSG_NOSIGNAL);
      if (n >= 0) return static_cast<int>(n);
      if (errno != EINTR) return NegatedErrno();
    }
  }

  int Connect(SocketHandle s, const void* address, int addressLength) override {
    if (::connect(Descriptor(s), static_cast<const sockaddr*>(address),
                  static_cast<socklen_t>(addressLength)) == 0) {
      return 0;
    }
    // An interrupted connect goes on in the background, as a pending one does.
    if (errno == EINTR) errno = EINPROGRESS;
    return NegatedErrno();
  }

  std::string PeerAddress(SocketHandle s) override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(Descriptor(s), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return {};
    }
    return SocketAddressText(&address, length);
  }

  SocketEventHandle CreateSocketEvent() override {
    PollEvent* record = new (std::nothrow) PollEvent;
    if (record == nullptr) {
      errno = ENOMEM;
      return kNoSocketEvent;
    }
    return reinterpret_cast<SocketEventHandle>(record);
  }

  void CloseSocketEvent(SocketEventHandle event) override { delete EventRecord(event); }

  int SelectSocketEvents(SocketHandle s, SocketEventHandle event, std::uint32_t mask) override {
    PollEvent* record = EventRecord(event);
    if (record == nullptr) {
      errno = EINVAL;
      return -1;
    }
    record->revents = 0;
    if (mask == 0) {
      record->fd = -1;
      record->mask = 0;
      return 0;
    }
    const int fd = Descriptor(s);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return -1;
    record->fd = fd;
    record->mask = mask;
    return 0;
  }

  WaitOutcome WaitForSocketEvents(std::span<const SocketEventHandle> events,
                                  std::uint32_t timeoutMs) override {
    std::array<pollfd, kMostWaitedEvents> entries{};
    for (std::size_t i = 0; i < events.size(); ++i) {
      const PollEvent* record = EventRecord(events[i]);
      if (i == entries.size() || record == nullptr || record->fd < 0) {
        errno = EINVAL;
        return WaitOutcome::kFailed;
      }
      entries[i] = pollfd{record->fd, PollMask(record->mask), 0};
    }
    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs == 0xFFFFFFFFu;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int wait = -1;
      if (!forever) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        wait = left <= 0 ? 0 : static_cast<int>(left > INT_MAX ? INT_MAX : left);
      }
      const int ready = ::poll(entries.data(), events.size(), wait);
      if (ready > 0) {
        for (std::size_t i = 0; i < events.size(); ++i) {
          EventRecord(events[i])->revents = entries[i].revents;
        }
        return WaitOutcome::kSignalled;
      }
      if (ready == 0 && (forever || Clock::now() >= deadline)) return WaitOutcome::kTimedOut;
      if (ready < 0 && errno != EINTR) return WaitOutcome::kFailed;
    }
  }

  int EnumerateSocketEvents(SocketHandle s, SocketEventHandle event,
                            NetworkEvents& events) override {
    events = NetworkEvents{};
    PollEvent* record = EventRecord(event);
    if (record == nullptr) {
      errno = EINVAL;
      return -1;
    }
    const short revents = record->revents;
    record->revents = 0;
    const std::uint32_t mask = record->mask;
    const int fd = Descriptor(s);
    if (revents & POLLNVAL) {
      errno = EBADF;
      return -1;
    }
    if (mask & (kNetRead | kNetClose)) {
      int waiting = 0;
      if ((revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) &&
          ::ioctl(fd, FIONREAD, &waiting) < 0) {
        return -1;
      }
      if ((mask & kNetRead) && waiting > 0) events.recorded |= kNetRead;
      const bool endOfStream = (revents & POLLIN) && waiting == 0;
      if ((mask & kNetClose) && (endOfStream || (revents & (POLLRDHUP | POLLHUP | POLLERR)))) {
        events.recorded |= kNetClose;
      }
    }
    if ((mask & kNetWrite) && (revents & POLLOUT)) events.recorded |= kNetWrite;
    if ((mask & kNetConnect) && (revents & (POLLOUT | POLLHUP | POLLERR))) {
      int code = 0;
      socklen_t size = sizeof code;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &size) < 0) code = errno;
      // A hang-up without a stored error still means the attempt did not get through.
      if (code == 0 && !(revents & POLLOUT)) code = ECONNREFUSED;
      events.recorded |= kNetConnect;
      events.connectError = code;
    }
    return 0;
  }

  void Pause(std::uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }

  std::uint32_t NowMs() override {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }

  std::uint32_t ParseIpv4(const char* text) override { return ::inet_addr(text); }

  std::vector<IpAddress> LookUpAddresses(const char* name) override {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::vector<IpAddress> addresses;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0) return addresses;
    // Asked for either family, the system gives no other.
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
      IpAddress address;
      address.v6 = a->ai_family == AF_INET6;
      const void* bytes = &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
      if (address.v6) bytes = &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr;
      std::memcpy(address.bytes.data(), bytes, address.v6 ? 16 : 4);
      addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    return addresses;
  }

  bool ResolverThreadAvailable() override { return true; }
};

}  // namespace

SocketCalls& SystemSocketCalls() {
  static PosixSocketCalls calls;
  return calls;
}

}  // namespace platform
