// Before an install changes anything, the programs that run from the program
// directory (the main application, programs it started) must end: their files
// are in use, and a half-replaced running application is wrong even where the
// system would allow it. The wait is bounded; then the user is asked whether
// to try again or give up.
#pragma once

#include <functional>
#include <string>

namespace app {

inline constexpr unsigned kProgramWaitMs = 30000;
// How often the running programs are looked for while waiting.
inline constexpr unsigned kProgramPollMs = 100;

// The status line while waiting (in words: waiting for the main program to
// exit, please wait).
inline constexpr char kWaitingForProgramsText[] = "等待主程序退出，请等待...";

// The question after the wait, in the form of the two messages: the main
// program is still running and the upgrade cannot go on; close it and press
// Retry, or Cancel to give up this upgrade.
std::string ProgramsRunningQuestion();

struct ProgramWait {
  std::function<bool()> anyRunning;
  std::function<void()> showWaiting;  // once per round of waiting
  std::function<bool()> askRetry;     // true: wait again
  std::function<bool()> abandoned;    // the run is ending: stop waiting
  std::function<void(unsigned ms)> pause;
  unsigned timeoutMs = kProgramWaitMs;
};

// True when no program runs any more (at once, or after waiting); false when
// the user gave up or the run was abandoned.
bool WaitForPrograms(const ProgramWait& wait);

}  // namespace app
