// For the SOCKS tests: name look-ups answered from a table instead of the
// system's resolver, every other socket call the system's. A test decides
// which destination names resolve on this side (and so whether the proxy gets
// an address or the name), and no query leaves the machine.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "platform/socket_calls.h"

namespace httptest {

// An IPv4 address in network byte order, from its dotted parts.
inline std::uint32_t Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t address = 0;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

class TableNames : public platform::SocketCalls {
 public:
  // The names that resolve here, with their addresses (network order).
  explicit TableNames(std::map<std::string, std::uint32_t> names) : names_(std::move(names)) {}

  // Look-ups of names so far (dotted texts are parsed, not looked up).
  int LookUps() const { return lookUps_.load(); }

  std::uint32_t LookUpHost(const char* name) override {
    ++lookUps_;
    const auto found = names_.find(name);
    return found == names_.end() ? platform::kNoIpv4Address : found->second;
  }

  std::int32_t StartLibrary(std::uint16_t requested, std::uint16_t& granted) override {
    return system_.StartLibrary(requested, granted);
  }
  int StopLibrary() override { return system_.StopLibrary(); }
  std::int32_t LastSocketError() override { return system_.LastSocketError(); }
  std::int32_t LastSystemError() override { return system_.LastSystemError(); }
  platform::SocketHandle OpenSocket(int family, int type, int protocol) override {
    return system_.OpenSocket(family, type, protocol);
  }
  int SetReuseAddress(platform::SocketHandle s) override { return system_.SetReuseAddress(s); }
  int CloseSocket(platform::SocketHandle s) override { return system_.CloseSocket(s); }
  int ShutdownSocket(platform::SocketHandle s, int how) override {
    return system_.ShutdownSocket(s, how);
  }
  int Receive(platform::SocketHandle s, char* buffer, int length) override {
    return system_.Receive(s, buffer, length);
  }
  int Send(platform::SocketHandle s, const char* buffer, int length) override {
    return system_.Send(s, buffer, length);
  }
  int Connect(platform::SocketHandle s, const void* address, int length) override {
    return system_.Connect(s, address, length);
  }
  platform::SocketEventHandle CreateSocketEvent() override { return system_.CreateSocketEvent(); }
  void CloseSocketEvent(platform::SocketEventHandle event) override {
    system_.CloseSocketEvent(event);
  }
  int SelectSocketEvents(platform::SocketHandle s, platform::SocketEventHandle event,
                         std::uint32_t mask) override {
    return system_.SelectSocketEvents(s, event, mask);
  }
  platform::WaitOutcome WaitForSocketEvent(platform::SocketEventHandle event,
                                           std::uint32_t timeoutMs) override {
    return system_.WaitForSocketEvent(event, timeoutMs);
  }
  int EnumerateSocketEvents(platform::SocketHandle s, platform::SocketEventHandle event,
                            platform::NetworkEvents& events) override {
    return system_.EnumerateSocketEvents(s, event, events);
  }
  void Pause(std::uint32_t ms) override { system_.Pause(ms); }
  std::uint32_t ParseIpv4(const char* text) override { return system_.ParseIpv4(text); }
  bool ResolverThreadAvailable() override { return system_.ResolverThreadAvailable(); }

 private:
  platform::SocketCalls& system_ = platform::SystemSocketCalls();
  const std::map<std::string, std::uint32_t> names_;
  std::atomic<int> lookUps_{0};
};

}  // namespace httptest
