// Runs a program while the current user's Internet settings name a proxy or
// a configuration script (support/internet_settings.h), then removes them.
//   with-internet-settings.exe FLAGS PROXY BYPASS SCRIPT PROGRAM ARGUMENT
// Exit status: the program's; 125 when it could not be run.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "support/internet_settings.h"

int main(int argc, char** argv) {
  if (argc != 7) return 125;
  const testsupport::InternetSettings settings(std::strtoul(argv[1], nullptr, 10), argv[2], argv[3],
                                               argv[4]);
  std::string line = std::string("\"") + argv[5] + "\" " + argv[6];
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  DWORD code = 125;
  if (settings.written() && CreateProcessA(argv[5], line.data(), nullptr, nullptr, FALSE, 0,
                                           nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  return static_cast<int>(code);
}
