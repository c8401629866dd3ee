#include "net/socket_library.h"

namespace net {
namespace {
thread_local std::int32_t socketLastError = 0;
thread_local const ScopedStopFlag* innermostStopFlag = nullptr;
platform::SocketCalls* replacementCalls = nullptr;
constexpr std::uint16_t kWantedVersion = 0x0202;  // 2.2
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

ScopedSocketCalls::ScopedSocketCalls(platform::SocketCalls& calls) : previous_(replacementCalls) {
  replacementCalls = &calls;
}

ScopedSocketCalls::~ScopedSocketCalls() { replacementCalls = previous_; }

}  // namespace net
