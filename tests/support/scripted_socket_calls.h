// A stand-in for the platform's socket calls, put in place with
// net::ScopedSocketCalls: a scripted platform that logs every call. Nothing
// of the system is reached; the fuzz targets build on it too.
#pragma once

#include <deque>
#include <span>
#include <string>
#include <vector>

#include "platform/socket_calls.h"

namespace testsupport {

// Answers from scripts (front first; an empty script gives the default) and
// logs each call as a short text such as "select 33" or "wait 500", the
// calls in order separated by '|'.
class ScriptedSocketCalls : public platform::SocketCalls {
  using H = platform::SocketHandle;
  using E = platform::SocketEventHandle;

 public:
  static constexpr platform::SocketHandle kSocket = 7;

  std::string log;
  bool keepLog = true;
  std::deque<platform::WaitOutcome> waits;             // default kSignalled
  std::deque<platform::NetworkEvents> recorded;        // default nothing recorded
  std::deque<int> receives, sends, connects, selects;  // default 0
  std::int32_t startResult = 0;
  std::uint16_t grantVersion = 0;  // 0: the version asked for
  int enumerateResult = 0, reuseResult = 0, shutdownResult = 0;
  bool eventAvailable = true;
  // What LastSocketError() and LastSystemError() return.
  std::int32_t socketError = 0, systemError = 0;
  // What every look-up finds.
  std::vector<platform::IpAddress> addresses;
  // The clock of NowMs(): a wait that times out moves it on by its time-out.
  std::uint32_t clock = 0;

  std::int32_t StartLibrary(std::uint16_t requested, std::uint16_t& granted) override {
    granted = grantVersion != 0 ? grantVersion : requested;
    return Log("start " + std::to_string(requested)), startResult;
  }
  int StopLibrary() override { return Log("stop"), 0; }
  std::int32_t LastSocketError() override { return socketError; }
  std::int32_t LastSystemError() override { return systemError; }
  H OpenSocket(int, int, int) override { return Log("open"), kSocket; }
  int SetReuseAddress(H) override { return Log("reuse"), reuseResult; }
  int CloseSocket(H) override { return Log("close"), 0; }
  int ShutdownSocket(H, int how) override { return Log("shutdown " + N(how)), shutdownResult; }
  int Receive(H, char*, int n) override { return Log("receive " + N(n)), Next(receives, 0); }
  int Send(H, const char*, int n) override { return Log("send " + N(n)), Next(sends, 0); }
  int Connect(H, const void*, int) override { return Log("connect"), Next(connects, 0); }
  E CreateSocketEvent() override {
    return Log("create event"), eventAvailable ? 1 : platform::kNoSocketEvent;
  }
  void CloseSocketEvent(E) override { Log("close event"); }
  int SelectSocketEvents(H, E, std::uint32_t mask) override {
    return Log("select " + N(mask)), mask == 0 ? 0 : Next(selects, 0);
  }
  // "wait MS", or "wait MS for N" for several events.
  platform::WaitOutcome WaitForSocketEvents(std::span<const E> events, std::uint32_t ms) override {
    Log("wait " + N(ms) + (events.size() > 1 ? " for " + N(events.size()) : ""));
    const platform::WaitOutcome outcome = Next(waits, platform::WaitOutcome::kSignalled);
    if (outcome == platform::WaitOutcome::kTimedOut) clock += ms;
    return outcome;
  }
  int EnumerateSocketEvents(H, E, platform::NetworkEvents& events) override {
    events = (Log("enumerate"), Next(recorded, platform::NetworkEvents{}));
    return enumerateResult;
  }
  void Pause(std::uint32_t ms) override { Log("pause " + N(ms)); }
  std::uint32_t NowMs() override { return clock; }
  std::uint32_t ParseIpv4(const char*) override { return platform::kNoIpv4Address; }
  std::vector<platform::IpAddress> LookUpAddresses(const char*) override { return addresses; }
  bool ResolverThreadAvailable() override { return false; }

 private:
  void Log(const std::string& entry) {
    if (keepLog) log += (log.empty() ? "" : "|") + entry;
  }
  template <typename T>
  static std::string N(T number) {
    return std::to_string(number);
  }
  template <typename T>
  static T Next(std::deque<T>& script, T fallback) {
    if (!script.empty()) fallback = script.front(), script.pop_front();
    return fallback;
  }
};

}  // namespace testsupport
