// An updater whose path takes 260 bytes or more in the ANSI code page: a copy
// of this test program runs from such a directory and reports what it read
// as its own path. Chinese names make such a path out of fewer than 260
// characters, which every system call still accepts.
#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/win32/windows_api.h"
#include "support/child_run_win32.h"
#include "support/scratch_dir.h"

namespace {

constexpr char kChildTest[] = "LongModulePathChild.ReportsItsPath";
// "升级" in GBK: 2 characters, 4 bytes.
constexpr char kUpgrade[] = "\xC9\xFD\xBC\xB6";

// The child's side: runs only as a copy started by the test below.
TEST(LongModulePathChild, ReportsItsPath) {
  const std::string reportPath = testsupport::ChildReportPath();
  if (reportPath.empty()) GTEST_SKIP() << "runs only as the child of LongModulePath";
  const std::string modulePath = platform::ModulePath();
  const std::string report =
      "module=" + modulePath + "\ndirectory=" + app::DirectoryOf(modulePath) + "\n";
  platform::File out = platform::File::Open(reportPath, platform::OpenMode::kCreateTruncate);
  ASSERT_TRUE(out.IsOpen());
  ASSERT_TRUE(out.Write(report.data(), report.size()));
}

TEST(LongModulePath, IsReadWholeAndItsDirectoryIsTheProgramDirectory) {
  ASSERT_EQ(GetACP(), 936u) << "the tests run with the GBK code page (LC_ALL=zh_CN.UTF-8)";
  testsupport::ScratchDir scratch;
  std::string component;
  for (int i = 0; i < 15; ++i) component += kUpgrade;  // 30 characters, 60 bytes
  std::string directory = scratch.path();
  while (directory.size() < 300) {
    directory += "\\" + component;
    ASSERT_TRUE(platform::CreateDirectory(directory)) << directory;
  }
  const std::string program = directory + "\\updater.exe";
  ASSERT_TRUE(CopyFileA(platform::ModulePath().c_str(), program.c_str(), TRUE));
  const std::string reportPath = scratch.Join("report.txt");
  ASSERT_EQ(testsupport::RunChild(program, "\"" + program + "\" ", kChildTest, reportPath, 60000),
            0);
  const std::string report = testsupport::ReadFileBytes(reportPath);
  EXPECT_EQ(testsupport::ReportValue(report, "module"), program);
  EXPECT_EQ(testsupport::ReportValue(report, "directory"), directory + "\\");
}

}  // namespace
