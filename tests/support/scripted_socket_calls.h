// A stand-in for the platform's socket calls, put in place with
// net::ScopedSocketCalls: a scripted platform that logs every call. Nothing
// of the system is reached; the fuzz targets build on it too.
#pragma once

#include <deque>
#include <string>

#include "platform/socket_calls.h"

namespace testsupport {

// Answers from scripts (front first; an empty script gives the default) and
// logs each call as a short text such as "select 33" or "wait 500", the
// calls in order separated by '|'.
class ScriptedSocketCalls : public platform::SocketCalls {
 public:
  static constexpr platform::SocketHandle kSocket = 7;

  std::string log;
  bool keepLog = true;
  std::deque<platform::WaitOutcome> waits;       // default kSignalled
  std::deque<platform::NetworkEvents> recorded;  // default nothing recorded
  std::deque<int> receives;                      // default 0
  std::deque<int> sends;                         // default 0
  std::deque<int> connects;                      // default 0
  std::deque<int> selects;                       // default 0
  std::int32_t startResult = 0;
  std::uint16_t grantVersion = 0;  // 0: the version asked for
  int enumerateResult = 0;
  int reuseResult = 0;
  int shutdownResult = 0;
  bool eventAvailable = true;
  std::int32_t socketError = 0;  // what LastSocketError() returns
  std::int32_t systemError = 0;  // what LastSystemError() returns

  std::int32_t StartLibrary(std::uint16_t requested, std::uint16_t& granted) override {
    Log("start " + std::to_string(requested));
    granted = grantVersion != 0 ? grantVersion : requested;
    return startResult;
  }
  int StopLibrary() override { return Log("stop"), 0; }
  std::int32_t LastSocketError() override { return socketError; }
  std::int32_t LastSystemError() override { return systemError; }
  platform::SocketHandle OpenSocket(int, int, int) override { return Log("open"), kSocket; }
  int SetReuseAddress(platform::SocketHandle) override { return Log("reuse"), reuseResult; }
  int CloseSocket(platform::SocketHandle) override { return Log("close"), 0; }
  int ShutdownSocket(platform::SocketHandle, int how) override {
    return Log("shutdown " + std::to_string(how)), shutdownResult;
  }
  int Receive(platform::SocketHandle, char*, int length) override {
    Log("receive " + std::to_string(length));
    return Next(receives, 0);
  }
  int Send(platform::SocketHandle, const char*, int length) override {
    Log("send " + std::to_string(length));
    return Next(sends, 0);
  }
  int Connect(platform::SocketHandle, const void*, int) override {
    return Log("connect"), Next(connects, 0);
  }
  platform::SocketEventHandle CreateSocketEvent() override {
    Log("create event");
    return eventAvailable ? 1 : platform::kNoSocketEvent;
  }
  void CloseSocketEvent(platform::SocketEventHandle) override { Log("close event"); }
  int SelectSocketEvents(platform::SocketHandle, platform::SocketEventHandle,
                         std::uint32_t mask) override {
    Log("select " + std::to_string(mask));
    return mask == 0 ? 0 : Next(selects, 0);
  }
  platform::WaitOutcome WaitForSocketEvent(platform::SocketEventHandle,
                                           std::uint32_t timeoutMs) override {
    Log("wait " + std::to_string(timeoutMs));
    return Next(waits, platform::WaitOutcome::kSignalled);
  }
  int EnumerateSocketEvents(platform::SocketHandle, platform::SocketEventHandle,
                            platform::NetworkEvents& events) override {
    Log("enumerate");
    events = Next(recorded, platform::NetworkEvents{});
    return enumerateResult;
  }
  void Pause(std::uint32_t ms) override { Log("pause " + std::to_string(ms)); }
  std::uint32_t ParseIpv4(const char*) override { return platform::kNoIpv4Address; }
  std::uint32_t LookUpHost(const char*) override { return platform::kNoIpv4Address; }
  bool ResolverThreadAvailable() override { return false; }

 private:
  void Log(std::string entry) {
    if (keepLog) log += (log.empty() ? "" : "|") + entry;
  }
  template <typename T>
  static T Next(std::deque<T>& script, T fallback) {
    if (script.empty()) return fallback;
    T value = script.front();
    script.pop_front();
    return value;
  }
};

}  // namespace testsupport
