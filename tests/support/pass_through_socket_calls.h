// The system's socket calls, each passed on as it is: the base of stand-ins
// that observe or change a few calls and leave the rest to the system. Put in
// place with net::ScopedSocketCalls.
#pragma once

#include <cstdint>

#include "platform/socket_calls.h"

namespace testsupport {

class PassThroughSocketCalls : public platform::SocketCalls {
 public:
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
  std::uint32_t LookUpHost(const char* name) override { return system_.LookUpHost(name); }
  bool ResolverThreadAvailable() override { return system_.ResolverThreadAvailable(); }

 protected:
  platform::SocketCalls& system() { return system_; }

 private:
  platform::SocketCalls& system_ = platform::SystemSocketCalls();
};

}  // namespace testsupport
