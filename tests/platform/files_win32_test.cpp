// The Win32 file layer: times, attributes, sharing, and names in GBK whose
// trail byte is a backslash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/windows_api.h"
#include "support/scratch_dir.h"

namespace {

using platform::File;
using platform::FileTime;
using platform::OpenMode;

// 2021-03-04 05:06:07 UTC and neighbours, with sub-second parts.
constexpr FileTime kCreation = platform::UnixTimeToFileTime(1614834367) + 1234567;
constexpr FileTime kAccess = platform::UnixTimeToFileTime(1614834400) + 5000000;
constexpr FileTime kModification = platform::UnixTimeToFileTime(1614834500) + 10;

std::string Path(const testsupport::ScratchDir& dir, const std::string& name) {
  return dir.path() + "\\" + name;
}

TEST(Win32Files, TimesSetOnAPathOrAHandleAreReadBack) {
  testsupport::ScratchDir dir;
  const std::string byPath = Path(dir, "by-path.bin");
  const std::string byHandle = Path(dir, "by-handle.bin");
  {
    File f = File::Create(byPath, 0);
    ASSERT_TRUE(f.IsOpen());
  }
  ASSERT_TRUE(platform::SetFileTimes(byPath, nullptr, &kAccess, &kModification));
  {
    File f = File::Create(byHandle, 0);
    ASSERT_TRUE(f.IsOpen());
    ASSERT_TRUE(f.Write("abc", 3));
    ASSERT_TRUE(f.SetTimes(nullptr, &kAccess, &kModification));
  }
  for (const std::string& path : {byPath, byHandle}) {
    const auto status = platform::GetFileStatus(path);
    ASSERT_TRUE(status) << path;
    EXPECT_EQ(status->modificationTime, kModification) << path;
    EXPECT_EQ(status->accessTime, kAccess) << path;
  }
  EXPECT_EQ(platform::GetFileStatus(byHandle)->size, 3);
}

TEST(Win32Files, TimesOfADirectoryCanBeSet) {
  testsupport::ScratchDir dir;
  const std::string sub = Path(dir, "sub");
  ASSERT_TRUE(platform::CreateDirectory(sub));
  ASSERT_TRUE(platform::SetFileTimes(sub, nullptr, nullptr, &kModification));
  const auto status = platform::GetFileStatus(sub);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->modificationTime, kModification);
  EXPECT_NE(status->attributes & platform::kAttrDirectory, 0u);
}

TEST(Win32Files, TimesNotGivenKeepTheirValues) {
  testsupport::ScratchDir dir;
  const std::string path = Path(dir, "keep.bin");
  { File f = File::Create(path, 0); }
  ASSERT_TRUE(platform::SetFileTimes(path, nullptr, &kAccess, &kModification));
  const FileTime later = kModification + 600000000LL;
  ASSERT_TRUE(platform::SetFileTimes(path, nullptr, nullptr, &later));
  const auto status = platform::GetFileStatus(path);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->modificationTime, later);
  EXPECT_EQ(status->accessTime, kAccess);
}

TEST(Win32Files, CreateGivesAttributesAndRefusesAReadOnlyFile) {
  testsupport::ScratchDir dir;
  const std::string path = Path(dir, "ro.txt");
  {
    File f = File::Create(path, platform::kAttrReadOnly | platform::kAttrHidden);
    ASSERT_TRUE(f.IsOpen());
    EXPECT_TRUE(f.Write("still writable", 14));  // the creating handle may write
  }
  const auto status = platform::GetFileStatus(path);
  ASSERT_TRUE(status);
  EXPECT_NE(status->attributes & platform::kAttrReadOnly, 0u);
  EXPECT_NE(status->attributes & platform::kAttrHidden, 0u);
  EXPECT_EQ(status->size, 14);

  EXPECT_FALSE(File::Create(path, 0).IsOpen());  // read-only: refused, left alone
  EXPECT_EQ(platform::GetFileStatus(path)->size, 14);
  EXPECT_FALSE(File::Create(dir.path(), 0).IsOpen());  // a directory

  ASSERT_TRUE(platform::SetReadOnly(path, false));
  EXPECT_EQ(platform::GetFileStatus(path)->attributes & platform::kAttrReadOnly, 0u);
  ASSERT_TRUE(platform::SetReadOnly(path, true));
  EXPECT_NE(platform::GetFileStatus(path)->attributes & platform::kAttrReadOnly, 0u);
  ASSERT_TRUE(platform::SetReadOnly(path, false));
}

// Who else may open a file while it is open in each mode.
TEST(Win32Files, OpenModesShareAsDocumented) {
  testsupport::ScratchDir dir;
  const std::string path = Path(dir, "shared.bin");
  { ASSERT_TRUE(File::Create(path, 0).IsOpen()); }
  struct Case {
    OpenMode first;
    OpenMode second;
    bool secondOpens;
  };
  const Case cases[] = {
      {OpenMode::kWriteKeep, OpenMode::kRead, false},  // a reader admits no writer
      {OpenMode::kRead, OpenMode::kRead, true},
      {OpenMode::kCreateTruncate, OpenMode::kRead, false},
      {OpenMode::kWriteKeep, OpenMode::kWriteKeep, false},
  };
  for (const Case& c : cases) {
    File first = File::Open(path, c.first);
    ASSERT_TRUE(first.IsOpen());
    EXPECT_EQ(File::Open(path, c.second).IsOpen(), c.secondOpens)
        << "mode " << static_cast<int>(c.first) << " then " << static_cast<int>(c.second);
  }
}

// A write-keep open appends after SeekToEnd and never truncates; a truncation
// leaves the file pointer where it was, as ftruncate does.
TEST(Win32Files, WriteKeepResumesAndTruncateKeepsThePosition) {
  testsupport::ScratchDir dir;
  const std::string path = Path(dir, "update.zip.down");
  {
    File f = File::Open(path, OpenMode::kWriteKeep);
    ASSERT_TRUE(f.IsOpen());
    ASSERT_TRUE(f.Write("0123456789", 10));
  }
  {
    File f = File::Open(path, OpenMode::kWriteKeep);
    ASSERT_TRUE(f.IsOpen());
    EXPECT_EQ(platform::GetFileStatus(path)->size, 10);
    ASSERT_TRUE(f.SeekToEnd());
    EXPECT_EQ(f.Tell(), 10);
    ASSERT_TRUE(f.Write("ab", 2));
    ASSERT_TRUE(f.Truncate(4));
    EXPECT_EQ(f.Tell(), 12);
    ASSERT_TRUE(f.Seek(4));
    ASSERT_TRUE(f.Write("X", 1));
    ASSERT_TRUE(f.Flush());
  }
  EXPECT_EQ(testsupport::ReadFileBytes(path), "0123X");
}

// "淺" is 0x9C 0x5C in GBK: one character, not a name and a separator.
TEST(Win32Files, GbkNamesWithATrailBackslashAreOneComponent) {
  ASSERT_EQ(GetACP(), 936u) << "the tests run with the GBK code page (LC_ALL=zh_CN.UTF-8)";
  testsupport::ScratchDir dir;
  const std::string folder = Path(dir, "\x9C\x5C");
  ASSERT_TRUE(platform::CreateDirectory(folder));
  const std::string down = folder + "\\\xBB\x5C.zip.down";  // "籠.zip.down"
  const std::string done = folder + "\\\xBB\x5C.zip";
  {
    File f = File::Open(down, OpenMode::kCreateTruncate);
    ASSERT_TRUE(f.IsOpen());
    ASSERT_TRUE(f.Write("PK", 2));
  }
  ASSERT_TRUE(platform::ReplaceFile(down, done));
  const auto status = platform::GetFileStatus(done);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->size, 2);

  // The system sees exactly one directory with that name, holding one file.
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((folder + "\\*.zip").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(found.cFileName, "\xBB\x5C.zip");
  EXPECT_FALSE(FindNextFileA(search, &found));
  FindClose(search);
  std::vector<std::string> top;
  const HANDLE list = FindFirstFileA(Path(dir, "*").c_str(), &found);
  ASSERT_NE(list, INVALID_HANDLE_VALUE);
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") top.push_back(name);
  } while (FindNextFileA(list, &found));
  FindClose(list);
  EXPECT_EQ(top, std::vector<std::string>{"\x9C\x5C"});
  EXPECT_TRUE(platform::DeleteFile(done));
  EXPECT_FALSE(platform::GetFileStatus(done));
}

}  // namespace
