// The system's socket calls, put in place with net::ScopedSocketCalls, except
// that name look-ups are answered from a table, so that no query leaves the
// machine: a test decides which names resolve on this side (and so whether a
// proxy gets an address or the name). Tests that observe or change another
// call derive from it.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/socket_calls.h"

namespace testsupport {

// An IPv4 address in network byte order, from its dotted parts.
inline std::uint32_t Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  return std::bit_cast<std::uint32_t>(std::array<std::uint8_t, 4>{a, b, c, d});
}
// The same as a look-up finds it, and ::1.
inline platform::IpAddress Ipv4Address(std::uint8_t a, std::uint8_t b, std::uint8_t c,
                                       std::uint8_t d) {
  return platform::IpAddress{false, {a, b, c, d}};
}
inline platform::IpAddress Ipv6Loopback() {
  platform::IpAddress address{true, {}};
  address.bytes[15] = 1;
  return address;
}

// One override that hands its call to the system: result, name, (parameters), (arguments).
#define UPDATER_PASS_ON(R, F, P, A) \
  R F P override { return system_.F A; }

class TableNames : public platform::SocketCalls {
  using H = platform::SocketHandle;
  using E = platform::SocketEventHandle;

 public:
  using Names = std::map<std::string, std::vector<platform::IpAddress>>;
  explicit TableNames(Names names) : names_(std::move(names)) {}

  std::vector<platform::IpAddress> LookUpAddresses(const char* name) override {
    const auto found = names_.find(name);
    return found == names_.end() ? std::vector<platform::IpAddress>{} : found->second;
  }
  // Every other call goes to the system.
  UPDATER_PASS_ON(std::int32_t, StartLibrary, (std::uint16_t v, std::uint16_t& g), (v, g))
  UPDATER_PASS_ON(int, StopLibrary, (), ())
  UPDATER_PASS_ON(std::int32_t, LastSocketError, (), ())
  UPDATER_PASS_ON(std::int32_t, LastSystemError, (), ())
  UPDATER_PASS_ON(H, OpenSocket, (int f, int t, int p), (f, t, p))
  UPDATER_PASS_ON(int, SetReuseAddress, (H s), (s))
  UPDATER_PASS_ON(int, CloseSocket, (H s), (s))
  UPDATER_PASS_ON(int, ShutdownSocket, (H s, int how), (s, how))
  UPDATER_PASS_ON(int, Receive, (H s, char* b, int n), (s, b, n))
  UPDATER_PASS_ON(int, Send, (H s, const char* b, int n), (s, b, n))
  UPDATER_PASS_ON(int, Connect, (H s, const void* a, int n), (s, a, n))
  UPDATER_PASS_ON(E, CreateSocketEvent, (), ())
  UPDATER_PASS_ON(void, CloseSocketEvent, (E e), (e))
  UPDATER_PASS_ON(int, SelectSocketEvents, (H s, E e, std::uint32_t mask), (s, e, mask))
  UPDATER_PASS_ON(platform::WaitOutcome, WaitForSocketEvents,
                  (std::span<const E> e, std::uint32_t ms), (e, ms))
  UPDATER_PASS_ON(int, EnumerateSocketEvents, (H s, E e, platform::NetworkEvents& r), (s, e, r))
  UPDATER_PASS_ON(void, Pause, (std::uint32_t ms), (ms))
  UPDATER_PASS_ON(std::uint32_t, NowMs, (), ())
  UPDATER_PASS_ON(std::uint32_t, ParseIpv4, (const char* text), (text))
  UPDATER_PASS_ON(bool, ResolverThreadAvailable, (), ())

 private:
  platform::SocketCalls& system_ = platform::SystemSocketCalls();
  const Names names_;
};

#undef UPDATER_PASS_ON

}  // namespace testsupport
