// Writing items on Windows: backslash paths, the attribute flags of the new
// files, and all three of their times.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>

#include "archive_test_support.h"
#include "platform/win32/windows_api.h"
#include "support/scratch_dir.h"

namespace {

using archivetest::CraftedArchive;
using archivetest::UnixSeconds;
using platform::kAttrArchive;
using platform::kAttrDirectory;
using platform::kAttrHidden;
using platform::kAttrReadOnly;
using platform::kAttrSystem;
using testsupport::ReadFileBytes;

std::string Backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string Slashed(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

class ExtractWin32Test : public testing::Test {
 protected:
  void SetUp() override { UPDATER_REQUIRE_ARCHIVES(); }

  testsupport::ScratchDir scratch_;
  const std::string root_ = Backslashed(scratch_.path());
  const std::string target_ = root_ + "\\target";  // no separator at its end
};

TEST_F(ExtractWin32Test, BackslashTargetAndNamesWithEitherSeparator) {
  const ArchivePtr handle = archivetest::Open(CraftedArchive("cursor.zip"));
  ASSERT_TRUE(handle);
  ASSERT_EQ(ArchiveSetTargetDir(handle.get(), target_.c_str()), ARCHIVE_OK);
  const std::string absoluteBack = root_ + "\\abs\\x\\e.txt";
  const std::string absoluteSlash = Slashed(root_) + "/abs2/f.txt";
  const std::pair<std::int32_t, std::string> written[] = {
      {0, "a.txt"},         {1, "sub\\dir\\b.txt"}, {2, "mixed/sep\\c.txt"},
      {3, "fwd/dir/d.txt"}, {4, absoluteBack},      {5, absoluteSlash}};
  for (const auto& [index, name] : written) {
    EXPECT_EQ(ArchiveExtractItem(handle.get(), index, name.c_str()), ARCHIVE_OK) << name;
  }
  const std::pair<std::string, std::int32_t> files[] = {{target_ + "\\a.txt", 0},
                                                        {target_ + "\\sub\\dir\\b.txt", 1},
                                                        {target_ + "\\mixed\\sep\\c.txt", 2},
                                                        {target_ + "\\fwd\\dir\\d.txt", 3},
                                                        {absoluteBack, 4},
                                                        {Backslashed(absoluteSlash), 5}};
  for (const auto& [path, index] : files) {
    SCOPED_TRACE(path);
    const auto status = platform::GetFileStatus(path);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->attributes & kAttrDirectory, 0u);
    EXPECT_EQ(ReadFileBytes(path), "item " + std::to_string(index));
  }
  EXPECT_EQ(archivetest::ListTree(root_),
            (std::set<std::string>{"abs/", "abs/x/", "abs/x/e.txt", "abs2/", "abs2/f.txt",
                                   "target/", "target/a.txt", "target/sub/", "target/sub/dir/",
                                   "target/sub/dir/b.txt", "target/mixed/", "target/mixed/sep/",
                                   "target/mixed/sep/c.txt", "target/fwd/", "target/fwd/dir/",
                                   "target/fwd/dir/d.txt"}));
}

TEST_F(ExtractWin32Test, NewFilesCarryTheAttributeFlagsOfTheirItems) {
  const ArchivePtr handle = archivetest::Open(CraftedArchive("attrs.zip"));
  ASSERT_TRUE(handle);
  // What each item becomes on disk. Windows marks every new file for
  // archiving (kAttrArchive), so that flag is checked on files only as set.
  const std::map<std::string, std::uint32_t> expected = {
      {"dos_ro.txt", kAttrReadOnly},                               // host 0, 0x21
      {"dos_dir/", kAttrDirectory},                                // host 0, 0x10
      {"dos_all.txt", kAttrReadOnly | kAttrHidden | kAttrSystem},  // host 0, 0xEF
      {"ntfs_hs.txt", kAttrHidden | kAttrSystem},                  // host 11 (NTFS), 0x06
      {"unix_ro.txt", kAttrReadOnly},                              // mode 0444
      {"unix_dir/", kAttrDirectory},                               // mode 040755
      {"unix_none.txt", kAttrReadOnly},                            // mode 0
      {"bare_dir/", kAttrDirectory}};                              // host 0, 0, name ends in "/"
  const auto results = archivetest::ExtractAll(handle.get(), target_);
  ASSERT_EQ(results.size(), expected.size());
  for (const auto& [name, flags] : expected) {
    SCOPED_TRACE(name);
    ASSERT_EQ(results.count(name), 1u);
    EXPECT_EQ(results.at(name), ARCHIVE_OK);
    const auto status = platform::GetFileStatus(target_ + "\\" + Backslashed(name));
    ASSERT_TRUE(status);
    constexpr std::uint32_t kChecked = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory;
    EXPECT_EQ(status->attributes & kChecked, flags);
    if ((flags & kAttrDirectory) == 0) {
      EXPECT_NE(status->attributes & kAttrArchive, 0u);
      EXPECT_EQ(ReadFileBytes(target_ + "\\" + name).size(), 1u);
    }
  }
  // Extracted again: a read-only file stays as it is and is refused; a hidden
  // system file is replaced.
  const auto again = archivetest::ExtractAll(handle.get(), target_);
  for (const auto& [name, flags] : expected) {
    SCOPED_TRACE(name);
    const bool readOnly = (flags & kAttrReadOnly) != 0 && (flags & kAttrDirectory) == 0;
    EXPECT_EQ(again.at(name), readOnly ? ARCHIVE_FILE_OPEN_FAILED : ARCHIVE_OK);
  }
  std::set<std::string> names;  // and no temporary file is left
  for (const auto& [name, flags] : expected) names.insert(name);
  EXPECT_EQ(archivetest::ListTree(target_), names);
}

// Whether the file system keeps a creation time that is set: wine reports the
// last write time as every file's creation time and drops what is set.
bool KeepsCreationTimes(const std::string& dir) {
  const std::string probe = dir + "\\creation-probe";
  { platform::File file = platform::File::Create(probe, 0); }
  const platform::FileTime creation = platform::UnixTimeToFileTime(1000000000);
  const platform::FileTime modification = platform::UnixTimeToFileTime(1200000000);
  platform::SetFileTimes(probe, &creation, nullptr, &modification);
  const auto status = platform::GetFileStatus(probe);
  platform::DeleteFile(probe);
  return status && status->creationTime == creation;
}

TEST_F(ExtractWin32Test, NewFilesCarryAllThreeTimesOfTheirItems) {
  const ArchivePtr handle = archivetest::Open(CraftedArchive("times.zip"));
  ASSERT_TRUE(handle);
  ASSERT_EQ(ArchiveSetTargetDir(handle.get(), (target_ + "\\").c_str()), ARCHIVE_OK);
  constexpr std::int64_t dos = 1577934246;  // 2020-01-02 03:04:06, read in UTC
  struct Expected {
    const char* name;
    std::int64_t modification, access, creation;
  };
  const Expected expected[] = {{"ut7.txt", 1000000000, 1100000000, 900000000},
                               {"utcentral.txt", dos, dos, dos},
                               {"baddate.txt", 315532800, 315532800, 315532800},
                               {"dos.txt", 1640995198, 1640995198, 1640995198}};
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(std::size(expected)); ++i) {
    ASSERT_EQ(ArchiveExtractItem(handle.get(), i, expected[i].name), ARCHIVE_OK) << i;
  }
  std::filesystem::create_directories(root_ + "\\probe");
  const bool keepsCreation = KeepsCreationTimes(root_ + "\\probe");
  if (!keepsCreation) {
    std::cout << "[   NOTE   ] this file system keeps no creation time (wine): the creation "
                 "times are checked where it does\n";
  }
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.name);
    const auto status = platform::GetFileStatus(target_ + "\\" + e.name);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->modificationTime, platform::UnixTimeToFileTime(e.modification));
    EXPECT_EQ(status->accessTime, platform::UnixTimeToFileTime(e.access));
    if (keepsCreation) {
      EXPECT_EQ(status->creationTime, platform::UnixTimeToFileTime(e.creation));
    }
  }
}

}  // namespace
