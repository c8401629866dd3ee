// Windows tests that need a program of their own in a directory of their
// choosing run a copy of their own test executable there: the copy runs one
// test (chosen through GTEST_FILTER) that writes what it saw into a report
// file named by an environment variable. Without that variable the child test
// skips itself.
#pragma once

#include <sstream>
#include <string>

#include "platform/win32/windows_api.h"
#include "support/environment.h"

namespace testsupport {

inline constexpr char kChildReportVariable[] = "UPDATER_TEST_CHILD_REPORT";

// The report file of a child run, or "" when this run is not a child.
inline std::string ChildReportPath() { return GetEnvVar(kChildReportVariable).value_or(""); }

// Runs `program` with exactly `commandLine` (what the child's GetCommandLineA
// returns), running the test `filter` and reporting to `reportPath`. The exit
// code, or -1 when it could not be started or did not end within `timeoutMs`.
inline int RunChild(const std::string& program, const std::string& commandLine,
                    const std::string& filter, const std::string& reportPath, DWORD timeoutMs) {
  const ScopedEnvVar filterVariable("GTEST_FILTER", filter);
  const ScopedEnvVar reportVariable(kChildReportVariable, reportPath);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  std::string line = commandLine;
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
  }
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

// Lines "key=value" as a child writes them; the value of `key`, or "".
inline std::string ReportValue(const std::string& report, const std::string& key) {
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

}  // namespace testsupport
