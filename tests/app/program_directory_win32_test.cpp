// An updater that lives in a directory whose name holds a GBK character with
// the trail byte 0x5C (a backslash), or whose path takes 260 bytes or more in
// the ANSI code page (Chinese names make such a path out of fewer than 260
// characters, which every system call still accepts): a copy of this test
// program runs from such a directory and reports what the run-flow code made
// of its own path and command line, and whether it could write its download
// files there.
#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"
#include "app/vendor_config.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/win32/windows_api.h"
#include "support/child_run_win32.h"
#include "support/scratch_dir.h"

namespace {

// "升级" followed by "淺" (0x9C 0x5C) and "籠" (0xBB 0x5C): the directory name
// ends in a trail byte 0x5C.
constexpr char kDirectoryName[] = "\xC9\xFD\xBC\xB6\x9C\x5C\xBB\x5C";
constexpr char kChildTest[] = "ProgramDirectoryChild.ReportsWhatItMakesOfItsPath";
// "升级" fifteen times: 60 bytes in GBK, 30 characters.
constexpr char kLongName[] =
    "\xC9\xFD\xBC\xB6\xC9\xFD\xBC\xB6\xC9\xFD\xBC\xB6\xC9\xFD\xBC\xB6\xC9\xFD\xBC\xB6"
    "\xC9\xFD\xBC\xB6\xC9\xFD\xBC\xB6\xC9\xFD\xBC\xB6\xC9\xFD\xBC\xB6\xC9\xFD\xBC\xB6"
    "\xC9\xFD\xBC\xB6\xC9\xFD\xBC\xB6\xC9\xFD\xBC\xB6\xC9\xFD\xBC\xB6\xC9\xFD\xBC\xB6";

// Whether byte `at` of a GBK text starts a character (or is its end).
bool StartsCharacter(const std::string& text, std::size_t at) {
  std::size_t i = 0;
  while (i < at) {
    i +=
        platform::IsLeadByte(platform::CodePage::kGbk, static_cast<unsigned char>(text[i])) ? 2 : 1;
  }
  return i == at;
}

// A directory below `base` of five components of kLongName, 300 bytes and
// more, under 200 characters: a path that every system call takes, which an
// ANSI buffer of MAX_PATH bytes cuts. One or no ASCII byte in front puts the
// cut of the program's path at MAX_PATH - 1 bytes inside a double-byte
// character or between two, whatever the length of `base`.
std::string LongDirectory(const std::string& base, const std::string& program,
                          bool cutInsideCharacter) {
  for (const char* pad : {"\\", "\\a"}) {
    std::string directory = base + pad + kLongName;
    for (int i = 1; i < 5; ++i) directory += std::string("\\") + kLongName;
    if (StartsCharacter(directory + "\\" + program, MAX_PATH - 1) != cutInsideCharacter) {
      return directory;
    }
  }
  return {};
}

bool CreateDirectories(const std::string& path) {
  for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    platform::CreateDirectory(path.substr(0, at));
  }
  return platform::CreateDirectory(path);
}

// The child's side: runs only as a copy started by the test below.
TEST(ProgramDirectoryChild, ReportsWhatItMakesOfItsPath) {
  const std::string reportPath = testsupport::ChildReportPath();
  if (reportPath.empty()) GTEST_SKIP() << "runs only as the child of GbkProgramDirectory";
  const std::string modulePath = platform::ModulePath();
  const std::string directory = app::DirectoryOf(modulePath);
  const app::RunPlan plan = app::PlanRun(platform::CommandLine(), modulePath, app::kVendorDomain);

  // The download's files beside the updater: written, renamed, read back.
  // A file that did not open refuses the write; the temporary closes it.
  const bool written =
      platform::File::Open(directory + "update.zip.down", platform::OpenMode::kCreateTruncate)
          .Write("PK", 2);
  const bool renamed =
      written && platform::ReplaceFile(directory + "update.zip.down", directory + "update.zip");
  const auto status = platform::GetFileStatus(directory + "update.zip");
  const bool filesOk = renamed && status && status->size == 2;

  std::string report =
      "module=" + modulePath + "\n" + "directory=" + directory + "\n" +
      "kind=" + std::to_string(static_cast<int>(plan.kind)) + "\n" + "argument=" + plan.argument +
      "\n" + "gbk=" + (platform::ActiveCodePage() == platform::CodePage::kGbk ? "1" : "0") + "\n" +
      "files=" + (filesOk ? "1" : "0") + "\n";
  platform::File out = platform::File::Open(reportPath, platform::OpenMode::kCreateTruncate);
  ASSERT_TRUE(out.IsOpen());
  ASSERT_TRUE(out.Write(report.data(), report.size()));
}

// Run as "updater.exe" and under a name that itself ends in a trail byte 0x5C
// ("升级淺.exe"), where a byte-wise search for the last backslash would cut
// the name instead of the path; and from paths of more than 300 bytes, cut by
// a MAX_PATH buffer inside a character and between two.
TEST(GbkProgramDirectory, PathAndCommandLineAreSplitOnRealSeparatorsOnly) {
  ASSERT_EQ(GetACP(), 936u) << "the tests run with the GBK code page (LC_ALL=zh_CN.UTF-8)";
  testsupport::ScratchDir scratch;
  const std::string directory = scratch.path() + "\\" + kDirectoryName;
  ASSERT_TRUE(platform::CreateDirectory(directory));
  const std::string cutInside = LongDirectory(scratch.path(), "updater.exe", true);
  const std::string cutBetween = LongDirectory(scratch.path(), "updater.exe", false);
  for (const std::string& path : {cutInside, cutBetween}) {
    ASSERT_GT(path.size(), 300u);
    ASSERT_TRUE(CreateDirectories(path)) << path;
  }
  const std::string vendorUrl = std::string("http://dl.") + app::kVendorDomain + "/update.zip";
  const std::string localArchive = std::string("D:\\") + kDirectoryName + "\\update.zip";

  for (const auto& [home, name] :
       {std::pair{directory, "updater.exe"}, std::pair{directory, "\xC9\xFD\xBC\xB6\x9C\x5C.exe"},
        std::pair{cutInside, "updater.exe"}, std::pair{cutBetween, "updater.exe"}}) {
    const std::string program = home + "\\" + name;
    ASSERT_TRUE(CopyFileA(platform::ModulePath().c_str(), program.c_str(), TRUE));
    const std::string quoted = "\"" + program + "\" ";
    struct Case {
      std::string commandLine;
      app::RunKind kind;
      std::string argument;
    };
    const Case cases[] = {
        {quoted + localArchive, app::RunKind::kLocalArchive, localArchive},
        {quoted + vendorUrl, app::RunKind::kDownload, vendorUrl},
        {quoted, app::RunKind::kNoArgument, ""},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.commandLine);
      const std::string reportPath = scratch.path() + "\\report.txt";
      DeleteFileA(reportPath.c_str());
      ASSERT_EQ(testsupport::RunChild(program, c.commandLine, kChildTest, reportPath, 60000), 0);
      const std::string report = testsupport::ReadFileBytes(reportPath);
      EXPECT_EQ(testsupport::ReportValue(report, "module"), program);
      EXPECT_EQ(testsupport::ReportValue(report, "directory"), home + "\\");
      EXPECT_EQ(testsupport::ReportValue(report, "kind"), std::to_string(static_cast<int>(c.kind)));
      EXPECT_EQ(testsupport::ReportValue(report, "argument"), c.argument);
      EXPECT_EQ(testsupport::ReportValue(report, "gbk"), "1");
      EXPECT_EQ(testsupport::ReportValue(report, "files"), "1");
    }
  }
  // The files went into the GBK directory. Taking its last byte 0x5C for a
  // separator that is already there would have put them beside it instead,
  // as "<name>update.zip".
  EXPECT_NE(GetFileAttributesA((directory + "\\update.zip").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA((directory + "update.zip").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
