// The process and its surroundings: command line, own path, system version,
// sleeping, and the crash of the fault-injection tests.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Records the arguments of main(). The Win32 implementation ignores them and
// reads the system's command line instead.
void InitProcess(int argc, char** argv);

// The whole command line as one text, the program's own path included as the
// process was started. On POSIX it is composed the way the main application
// starts the updater on Windows: the module path in double quotes, one blank,
// then the arguments joined by blanks.
std::string CommandLine();

// Full path of the running executable, read whole however long it is; empty
// when the system cannot say.
std::string ModulePath();

// Major version of the operating system (Windows: low byte of GetVersion;
// Linux: the kernel's major version).
unsigned OsMajorVersion();

void SleepMs(unsigned ms);

// The running process's id.
std::uint32_t CurrentProcessId();

// Ends the process the way SIGKILL does (Windows: TerminateProcess with exit
// code 9); for the crash points of the fault-injection tests.
[[noreturn]] void KillProcessNow();

}  // namespace platform
