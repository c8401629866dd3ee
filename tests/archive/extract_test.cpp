// Writing items: where they go, what they carry, and what a failure leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "archive_test_support.h"
#include "support/scratch_dir.h"

namespace {
namespace fs = std::filesystem;
using archivetest::ListTree;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

class ExtractTest : public testing::Test {
 protected:
  void SetUp() override {
    UPDATER_REQUIRE_ARCHIVES();
    fs::create_directories(target_);
    cursor_ = OpenCrafted("cursor.zip");
    ASSERT_TRUE(cursor_);
  }
  ArchivePtr OpenCrafted(const char* name) {
    ArchivePtr handle = archivetest::Open(archivetest::CraftedArchive(name));
    if (handle) ArchiveSetTargetDir(handle.get(), target_.c_str());
    return handle;
  }

  testsupport::ScratchDir scratch_;
  std::string target_ = scratch_.Join("target");
  ArchivePtr cursor_;  // items "item N" named itemN.txt, N from 0 to 7
};

TEST_F(ExtractTest, PlacesRelativeNamesBelowTheTargetAndAbsoluteOnesAsGiven) {
  const std::string absolute = scratch_.Join("abs/x/a.txt");
  EXPECT_EQ(ArchiveExtractItem(cursor_.get(), 0, "a.txt"), ARCHIVE_OK);
  EXPECT_EQ(ArchiveExtractItem(cursor_.get(), 1, "sub/dir/b.txt"), ARCHIVE_OK);
  EXPECT_EQ(ArchiveExtractItem(cursor_.get(), 2, "back\\slash\\c.txt"), ARCHIVE_OK);
  EXPECT_EQ(ArchiveExtractItem(cursor_.get(), 3, absolute.c_str()), ARCHIVE_OK);
  ASSERT_EQ(ArchiveSetTargetDir(cursor_.get(), (target_ + "/second/").c_str()), ARCHIVE_OK);
  EXPECT_EQ(ArchiveExtractItem(cursor_.get(), 4, "d.txt"), ARCHIVE_OK);
  EXPECT_EQ(ListTree(scratch_.path()),
            (std::set<std::string>{"abs/", "abs/x/", "abs/x/a.txt", "target/", "target/a.txt",
                                   "target/sub/", "target/sub/dir/", "target/sub/dir/b.txt",
                                   "target/back/", "target/back/slash/", "target/back/slash/c.txt",
                                   "target/second/", "target/second/d.txt"}));
  EXPECT_EQ(ReadFileBytes(target_ + "/sub/dir/b.txt"), "item 1");
  EXPECT_EQ(ReadFileBytes(absolute), "item 3");
}

// What each kind of item carries is checked on the peers' archives; here a
// read-only file is not replaced, a writable one is, files named like the
// temporary file are left alone, and no temporary file stays.
TEST_F(ExtractTest, ReplacesWritableFilesOnlyAndLeavesTheUsersPartFilesAlone) {
  for (const char* name : {"ro.txt", "b.txt", "a.txt.part", "a.txt.1.part"}) {
    WriteFileBytes(target_ + "/" + name, std::string("old ") + name);
  }
  platform::SetReadOnly(target_ + "/ro.txt", true);
  platform::SetReadOnly(target_ + "/a.txt.part", true);
  EXPECT_EQ(ArchiveExtractItem(cursor_.get(), 4, "ro.txt"), ARCHIVE_FILE_OPEN_FAILED);
  EXPECT_EQ(ArchiveExtractItem(cursor_.get(), 1, "b.txt"), ARCHIVE_OK);
  EXPECT_EQ(ArchiveExtractItem(cursor_.get(), 0, "a.txt"), ARCHIVE_OK);
  std::map<std::string, std::string> files;
  for (const std::string& name : ListTree(target_)) {
    files[name] = ReadFileBytes(target_ + "/" + name);
  }
  EXPECT_EQ(files, (std::map<std::string, std::string>{{"ro.txt", "old ro.txt"},
                                                       {"b.txt", "item 1"},
                                                       {"a.txt", "item 0"},
                                                       {"a.txt.part", "old a.txt.part"},
                                                       {"a.txt.1.part", "old a.txt.1.part"}}));
}

TEST_F(ExtractTest, AFailedItemLeavesTheFileItWouldReplace) {
  const ArchivePtr damaged = OpenCrafted("damaged.zip");
  ASSERT_TRUE(damaged);
  // Wrong CRC-32 stored and deflated, a stream that stops early, one that
  // inflates past its size, stored data shorter than stated, garbled data;
  // then headers that cannot be described.
  const std::pair<std::int32_t, ArchiveResult> failing[] = {
      {0, ARCHIVE_DATA_ERROR},       {1, ARCHIVE_DATA_ERROR},      {2, ARCHIVE_DATA_ERROR},
      {3, ARCHIVE_DATA_ERROR},       {4, ARCHIVE_DATA_ERROR},      {5, ARCHIVE_DATA_ERROR},
      {6, ARCHIVE_BAD_LOCAL_HEADER}, {7, ARCHIVE_BAD_LOCAL_HEADER}};
  for (const auto& [index, code] : failing) {
    WriteFileBytes(target_ + "/installed", "installed");
    EXPECT_EQ(ArchiveExtractItem(damaged.get(), index, "installed"), code) << index;
    EXPECT_EQ(ReadFileBytes(target_ + "/installed"), "installed");
    // An item that cannot be described makes no directory either.
    const char* fresh = code == ARCHIVE_DATA_ERROR ? "new" : "sub/new";
    EXPECT_EQ(ArchiveExtractItem(damaged.get(), index, fresh), code) << index;
  }
  EXPECT_EQ(ListTree(target_), std::set<std::string>{"installed"});
}

TEST_F(ExtractTest, RefusesWhatCannotBeWrittenAndWritesNothingForIt) {
  const ArchivePtr names = OpenCrafted("names.zip");
  ASSERT_TRUE(names);
  fs::create_directories(target_ + "/taken");
  const std::pair<std::string, ArchiveResult> refused[] = {
      {"taken", ARCHIVE_FILE_OPEN_FAILED},
      {"dir/", ARCHIVE_FILE_OPEN_FAILED},
      {"dir/..", ARCHIVE_FILE_OPEN_FAILED},
      {".", ARCHIVE_FILE_OPEN_FAILED},
      {std::string(250, 'd'), ARCHIVE_PATH_TOO_LONG},
      {std::string(260, 'e'), ARCHIVE_PATH_TOO_LONG},
      // Fits by itself, but its temporary file would not.
      {"x/" + std::string(256 - target_.size() - 3, 'f'), ARCHIVE_PATH_TOO_LONG}};
  for (const auto& [name, code] : refused) {
    EXPECT_EQ(ArchiveExtractItem(cursor_.get(), 0, name.c_str()), code) << name;
  }
  EXPECT_EQ(ArchiveExtractItem(cursor_.get(), -1, "a.txt"), ARCHIVE_BAD_ARGUMENT);
  EXPECT_EQ(ArchiveExtractItem(cursor_.get(), 8, "a.txt"), ARCHIVE_BAD_ARGUMENT);
  EXPECT_EQ(ArchiveExtractItem(cursor_.get(), 0, nullptr), ARCHIVE_BAD_ARGUMENT);
  EXPECT_EQ(ArchiveExtractItem(names.get(), 1, "short"), ARCHIVE_PATH_TOO_LONG);
  EXPECT_EQ(ListTree(scratch_.path()), (std::set<std::string>{"target/", "target/taken/"}));

  // The target directory: an empty or too long text keeps the previous one.
  EXPECT_EQ(ArchiveSetTargetDir(cursor_.get(), ""), ARCHIVE_BAD_ARGUMENT);
  EXPECT_EQ(ArchiveSetTargetDir(cursor_.get(), nullptr), ARCHIVE_BAD_ARGUMENT);
  EXPECT_EQ(ArchiveSetTargetDir(cursor_.get(), std::string(259, 'g').c_str()),
            ARCHIVE_PATH_TOO_LONG);
  EXPECT_EQ(ArchiveExtractItem(cursor_.get(), 0, "a.txt"), ARCHIVE_OK);
  EXPECT_EQ(ReadFileBytes(target_ + "/a.txt"), "item 0");
}

}  // namespace
