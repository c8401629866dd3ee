// Connecting to a host: to its first IPv4 address on a socket of the
// caller's (SocketConnectHost), or to any of its addresses on a socket per
// attempt, the attempts staggered and raced (SocketConnectAddresses).
#include "net/host_connection.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "net/operation_event.h"
#include "net/socket_library.h"

namespace net {
namespace {

using platform::SocketCalls;
using platform::WaitOutcome;

SocketHandle FailWith(std::int32_t code) {
  SetSocketLastError(code);
  return kInvalidSocket;
}

// An address and port in the system's socket address of its family.
struct SocketAddress {
  bool v6 = false;
  platform::Ipv4SocketAddress v4Form{};
  platform::Ipv6SocketAddress v6Form{};

  SocketAddress(const IpAddress& address, std::uint16_t port) : v6(address.v6) {
    const std::uint8_t portBytes[2] = {static_cast<std::uint8_t>(port >> 8),
                                       static_cast<std::uint8_t>(port & 0xFF)};
    if (v6) {
      v6Form.family = platform::AddressFamilyInet6();
      std::memcpy(v6Form.port, portBytes, sizeof portBytes);
      std::memcpy(v6Form.address, address.bytes.data(), sizeof v6Form.address);
    } else {
      v4Form.family = platform::kAddressFamilyInet;
      std::memcpy(v4Form.port, portBytes, sizeof portBytes);
      std::memcpy(v4Form.address, address.bytes.data(), sizeof v4Form.address);
    }
  }
  int family() const { return v6 ? v6Form.family : v4Form.family; }
  const void* data() const { return v6 ? static_cast<const void*>(&v6Form) : &v4Form; }
  int length() const { return v6 ? sizeof v6Form : sizeof v4Form; }
};

// One connect under way: its socket, and its event selected for the end of
// the connect (deselected and closed before the socket closes).
struct Attempt {
  Attempt(SocketCalls& calls, SocketHandle s) : socket(s), event(calls, s) {}
  UniqueSocket socket;
  OperationEvent event;
};

enum class Started { kConnected, kUnderWay, kFailed };

// The attempts under way; those left when it goes are closed at once.
class ConnectRace {
 public:
  explicit ConnectRace(SocketCalls& calls) : calls_(calls) {}

  bool empty() const { return running_.empty(); }
  // The error of the last attempt that failed.
  std::int32_t code() const { return code_; }
  // The socket that connected, deselected.
  SocketHandle TakeWinner() { return std::exchange(winner_, kInvalidSocket); }

  Started Start(const IpAddress& address, std::uint16_t port) {
    const SocketAddress target(address, port);
    const SocketHandle s = SocketCreate(target.family(), platform::kSocketTypeStream, 0);
    if (s == kInvalidSocket) return Failed(SocketLastError());
    auto attempt = std::make_unique<Attempt>(calls_, s);
    if (!attempt->event.created()) return Failed(calls_.LastSystemError());
    if (!attempt->event.Select(platform::kNetConnect)) return Failed(calls_.LastSocketError());
    const int result = calls_.Connect(s, target.data(), target.length());
    if (result == 0) return Won(*attempt);
    if (-result != ErrWouldBlock()) return Failed(-result);
    running_.push_back(std::move(attempt));
    return Started::kUnderWay;
  }

  // Waits for any attempt's connect to end, within `timeoutMs`.
  WaitOutcome Wait(std::uint32_t timeoutMs) {
    std::vector<platform::SocketEventHandle> events;
    for (const auto& attempt : running_) events.push_back(attempt->event.handle());
    return WaitForSocketEvents(events, timeoutMs);
  }

  // Looks at every attempt's recorded events: kConnected when one connected,
  // kFailed when none did but one or more failed (and are gone), else
  // kUnderWay.
  Started Collect() {
    Started outcome = Started::kUnderWay;
    for (auto it = running_.begin(); it != running_.end();) {
      platform::NetworkEvents recorded;
      std::int32_t code = (*it)->event.Enumerate(recorded);
      if (code == 0 && (recorded.recorded & platform::kNetConnect) == 0) {
        ++it;
        continue;
      }
      if (code == 0 && recorded.connectError == 0) return Won(**it);
      code_ = code != 0 ? code : recorded.connectError;
      outcome = Started::kFailed;
      it = running_.erase(it);
    }
    return outcome;
  }

 private:
  Started Failed(std::int32_t code) {
    code_ = code;
    return Started::kFailed;
  }

  Started Won(Attempt& attempt) {
    attempt.event.Deselect();
    winner_ = attempt.socket.release();
    return Started::kConnected;
  }

  SocketCalls& calls_;
  std::vector<std::unique_ptr<Attempt>> running_;
  SocketHandle winner_ = kInvalidSocket;
  std::int32_t code_ = 0;
};

}  // namespace

int SocketConnectHost(SocketHandle s, const char* host, std::uint16_t port, std::uint32_t timeoutMs,
                      int useResolverThread) {
  const std::uint32_t address = ResolveHost(host, useResolverThread, timeoutMs);
  if (address == kInaddrNone) {
    SetSocketLastError(CurrentSocketCalls().LastSocketError());
    return -1;
  }
  IpAddress ipv4;
  std::memcpy(ipv4.bytes.data(), &address, sizeof address);
  const SocketAddress target(ipv4, port);
  return SocketConnectTimed(s, target.data(), target.length(), timeoutMs);
}

SocketHandle SocketConnectAddresses(const char* host, std::uint16_t port, std::uint32_t timeoutMs,
                                    int useResolverThread) {
  std::vector<IpAddress> addresses = ResolveHostAddresses(host, useResolverThread, timeoutMs);
  SocketCalls& calls = CurrentSocketCalls();
  if (addresses.empty()) return FailWith(calls.LastSocketError());
  addresses.resize(std::min(addresses.size(), kMostConnectAttempts));
  ConnectRace race(calls);
  const std::uint32_t start = calls.NowMs();
  std::uint32_t nextAt = 0;  // when the next address is due, in ms from the start
  std::size_t next = 0;
  for (;;) {
    const std::uint32_t elapsed = calls.NowMs() - start;
    // A failed attempt makes way for the next at once.
    while (next < addresses.size() && (race.empty() || elapsed >= nextAt)) {
      switch (race.Start(addresses[next++], port)) {
        case Started::kConnected:
          return race.TakeWinner();
        case Started::kUnderWay:
          nextAt = elapsed + kConnectStaggerMs;
          break;
        case Started::kFailed:
          nextAt = elapsed;
          break;
      }
    }
    if (race.empty()) return FailWith(race.code());
    if (elapsed >= timeoutMs) return FailWith(ErrTimedOut());
    std::uint32_t wait = timeoutMs - elapsed;
    if (next < addresses.size()) wait = std::min(wait, nextAt - elapsed);
    switch (race.Wait(wait)) {
      case WaitOutcome::kSignalled:
        break;
      case WaitOutcome::kTimedOut:
        if (StopRequested()) return FailWith(ErrTimedOut());
        continue;
      case WaitOutcome::kFailed:
        return FailWith(calls.LastSocketError());
    }
    switch (race.Collect()) {
      case Started::kConnected:
        return race.TakeWinner();
      case Started::kFailed:
        nextAt = calls.NowMs() - start;
        break;
      case Started::kUnderWay:
        break;
    }
  }
}

}  // namespace net
