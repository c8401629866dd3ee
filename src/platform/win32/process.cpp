#include "platform/process.h"

#include "platform/win32/windows_api.h"

namespace platform {

// The system keeps the command line itself (GetCommandLineA), exactly as the
// starting program wrote it.
void InitProcess(int, char**) {}

std::string CommandLine() {
  const char* line = GetCommandLineA();
  return line != nullptr ? std::string(line) : std::string();
}

std::string ModulePath() {
  char buffer[MAX_PATH] = {};  // 260 bytes, the terminating NUL included
  const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::string(buffer, n);
}

unsigned OsMajorVersion() { return LOBYTE(LOWORD(GetVersion())); }

void SleepMs(unsigned ms) { Sleep(ms); }

void ExitProcessNow(int code) {
  // TerminateProcess, unlike ExitProcess, runs no DLL detach code and no
  // atexit handlers, so nothing of the process's state is touched on the way.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  ExitProcess(static_cast<UINT>(code));
}

void KillProcessNow() {
  TerminateProcess(GetCurrentProcess(), 9);
  ExitProcess(9);
}

}  // namespace platform
