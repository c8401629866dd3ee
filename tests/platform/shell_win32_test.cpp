// Starting another program through the shell (ShellExecuteExA): a copy of
// this test program stands in for the main application and reports how it was
// started.
#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/win32/windows_api.h"
#include "support/child_run_win32.h"
#include "support/scratch_dir.h"

namespace {

constexpr char kChildTest[] = "StartedProgramChild.ReportsHowItWasStarted";

// Whether `done` holds within `timeoutMs`, asked every 20 ms.
template <typename Done>
bool Within(DWORD timeoutMs, Done done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
  return true;
}

TEST(StartedProgramChild, ReportsHowItWasStarted) {
  const std::string reportPath = testsupport::ChildReportPath();
  if (reportPath.empty()) GTEST_SKIP() << "runs only as the program started by StartProgram";
  const std::string report = "module=" + platform::ModulePath() + "\n" +
                             "line=" + platform::CommandLine() + "\n" +
                             "cwd=" + platform::CurrentDirectory() + "\n";
  // Written beside, then renamed: the starter sees the whole report or none.
  const std::string partial = reportPath + ".part";
  {
    platform::File out = platform::File::Open(partial, platform::OpenMode::kCreateTruncate);
    ASSERT_TRUE(out.IsOpen());
    ASSERT_TRUE(out.Write(report.data(), report.size()));
  }
  ASSERT_TRUE(platform::ReplaceFile(partial, reportPath));
}

// The main application is started by path, without arguments, in the
// starter's current directory, with "runas" on systems of version 6 and later
// (wine starts it without a prompt) and with the default verb before.
TEST(StartProgram, StartsTheProgramWithoutArgumentsWithOrWithoutRunas) {
  testsupport::ScratchDir scratch;
  const std::string program = scratch.path() + "\\Korvanta.exe";
  ASSERT_TRUE(CopyFileA(platform::ModulePath().c_str(), program.c_str(), TRUE));
  for (const char* verb : {"runas", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(verb != nullptr ? verb : "default verb");
    const std::string reportPath = scratch.path() + "\\report.txt";
    DeleteFileA(reportPath.c_str());
    {
      const testsupport::ScopedEnvVar filter("GTEST_FILTER", kChildTest);
      const testsupport::ScopedEnvVar report(testsupport::kChildReportVariable, reportPath);
      ASSERT_TRUE(platform::StartProgram(program, verb));
    }
    ASSERT_TRUE(Within(
        30000, [&] { return GetFileAttributesA(reportPath.c_str()) != INVALID_FILE_ATTRIBUTES; }));
    const std::string report = testsupport::ReadFileBytes(reportPath);
    EXPECT_EQ(testsupport::ReportValue(report, "module"), program);
    // The command line is the program's path alone, quoted or not.
    std::string line = testsupport::ReportValue(report, "line");
    while (!line.empty() && line.back() == ' ') line.pop_back();
    EXPECT_TRUE(line == program || line == "\"" + program + "\"") << line;
    EXPECT_EQ(testsupport::ReportValue(report, "cwd"), platform::CurrentDirectory());
  }
  // The started program keeps its file busy until it has ended.
  EXPECT_TRUE(Within(10000, [&] { return DeleteFileA(program.c_str()) != FALSE; }));
}

}  // namespace
