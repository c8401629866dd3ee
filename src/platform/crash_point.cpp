#include "platform/crash_point.h"

#include <atomic>
#include <cstdlib>

#include "platform/process.h"

namespace platform {
namespace {

long CrashStep() {
  const char* text = std::getenv("UPDATER_TEST_CRASH_AT");
  return text != nullptr ? std::strtol(text, nullptr, 10) : 0;
}

}  // namespace

void CrashPoint() {
  static const long step = CrashStep();
  static std::atomic<long> calls{0};
  if (step > 0 && ++calls == step) KillProcessNow();
}

}  // namespace platform
