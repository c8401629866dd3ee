// A deterministic crash for the fault-injection tests: when the environment
// names a step (UPDATER_TEST_CRASH_AT=N), the Nth call of CrashPoint in the
// process ends it at once, as SIGKILL or a power cut would (no destructors,
// no buffers flushed). Without the variable a call costs one comparison.
#pragma once

namespace platform {

void CrashPoint();

}  // namespace platform
