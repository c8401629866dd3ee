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
  // A path of MAX_PATH bytes or more is read whole: a name that does not fit
  // comes back cut to the buffer's size, so the buffer grows until it fits,
  // up to the longest path the system knows.
  constexpr std::size_t kLongestPath = 32768;
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    if (buffer.size() >= kLongestPath) return {};
    buffer.resize(buffer.size() * 2);
  }
}

unsigned OsMajorVersion() { return LOBYTE(LOWORD(GetVersion())); }

void SleepMs(unsigned ms) { Sleep(ms); }

void KillProcessNow() {
  TerminateProcess(GetCurrentProcess(), 9);
  ExitProcess(9);
}

}  // namespace platform
