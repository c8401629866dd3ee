#include "platform/process.h"

#include "platform/win32/wide_text.h"
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
  // Read as the system keeps it and converted whole: the ANSI call cuts a
  // long name to its buffer, and some systems then report the cut length as
  // if the name were whole, inside a double-byte character or not.
  const std::optional<std::wstring> wide = win32::ReadWholeText(
      [](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); });
  if (!wide) return {};
  return win32::Narrow(*wide).value_or(std::string());
}

unsigned OsMajorVersion() { return LOBYTE(LOWORD(GetVersion())); }

void SleepMs(unsigned ms) { Sleep(ms); }

std::uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

void KillProcessNow() {
  TerminateProcess(GetCurrentProcess(), 9);
  ExitProcess(9);
}

}  // namespace platform
