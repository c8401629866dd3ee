#include "net/socket_library.h"

namespace net {
namespace {
thread_local std::int32_t socketLastError = 0;
thread_local const ScopedStopFlag* innermostStopFlag = nullptr;
platform::SocketCalls* replacementCalls = nullptr;
constexpr std::uint16_t kWantedVersion = 0x0202;  // 2.2
constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;
}  // namespace

int SocketStartup() {
  platform::SocketCalls& calls = CurrentSocketCalls();
  std::uint16_t granted = 0;
  const std::int32_t code = calls.StartLibrary(kWantedVersion, granted);
  if (code != 0) {
    SetSocketLastError(code);
    return -1;
  }
  if (granted != kWantedVersion) {
    calls.StopLibrary();
    SetSocketLastError(ErrVersionNotSupported());
    return -1;
  }
  return 0;
}

int SocketCleanup() { return CurrentSocketCalls().StopLibrary(); }

std::int32_t SocketLastError() { return socketLastError; }

void SetSocketLastError(std::int32_t code) { socketLastError = code; }

platform::SocketCalls& CurrentSocketCalls() {
  return replacementCalls != nullptr ? *replacementCalls : platform::SystemSocketCalls();
}

ScopedStopFlag::ScopedStopFlag(const std::atomic<int>& flag)
    : flag_(flag), outer_(innermostStopFlag) {
  innermostStopFlag = this;
}

ScopedStopFlag::~ScopedStopFlag() { innermostStopFlag = outer_; }

bool StopFlagInPlace() { return innermostStopFlag != nullptr; }

bool StopRequested() {
  for (const ScopedStopFlag* f = innermostStopFlag; f != nullptr; f = f->outer_) {
    if (f->flag_.load() != 0) return true;
  }
  return false;
}

platform::WaitOutcome WaitForSocketEvents(std::span<const platform::SocketEventHandle> events,
                                          std::uint32_t timeoutMs) {
  platform::SocketCalls& calls = CurrentSocketCalls();
  if (!StopFlagInPlace()) return calls.WaitForSocketEvents(events, timeoutMs);
  for (std::uint32_t left = timeoutMs;;) {
    if (StopRequested()) return platform::WaitOutcome::kTimedOut;
    const std::uint32_t slice = left < kStopPollMs ? left : kStopPollMs;
    const platform::WaitOutcome outcome = calls.WaitForSocketEvents(events, slice);
    if (outcome != platform::WaitOutcome::kTimedOut || left == slice) return outcome;
    if (left != kWaitForever) left -= slice;
  }
}

ScopedSocketCalls::ScopedSocketCalls(platform::SocketCalls& calls) : previous_(replacementCalls) {
  replacementCalls = &calls;
}

ScopedSocketCalls::~ScopedSocketCalls() { replacementCalls = previous_; }

}  // namespace net
