// Writing items: where they go, what they carry, and what a failure leaves.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive_test_support.h"
#include "support/scratch_dir.h"

namespace {
namespace fs = std::filesystem;
using archivetest::CraftedArchive;
using archivetest::ListTree;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

class ExtractTest : public testing::Test {
 protected:
  void SetUp() override { UPDATER_REQUIRE_ARCHIVES(); }
  ArchivePtr OpenCrafted(const char* name) {
    ArchivePtr handle = archivetest::Open(CraftedArchive(name));
    if (handle) ArchiveSetTargetDir(handle.get(), target_.c_str());
    return handle;
  }
  // The bytes `unzip` itself extracts for an item.
  static std::string UnzipBytes(const char* archive, const char* item) {
    return archivetest::UnzippedBytes(archive, item);
  }

  testsupport::ScratchDir scratch_;
  std::string target_ = scratch_.Join("target");
};

TEST_F(ExtractTest, PlacesRelativeNamesBelowTheTargetAndAbsoluteOnesAsGiven) {
  const ArchivePtr handle = OpenCrafted("cursor.zip");
  ASSERT_TRUE(handle);
  const std::string absolute = scratch_.Join("abs/x/a.txt");
  EXPECT_EQ(ArchiveExtractItem(handle.get(), 0, "a.txt"), ARCHIVE_OK);
  EXPECT_EQ(ArchiveExtractItem(handle.get(), 1, "sub/dir/b.txt"), ARCHIVE_OK);
  EXPECT_EQ(ArchiveExtractItem(handle.get(), 2, "back\\slash\\c.txt"), ARCHIVE_OK);
  EXPECT_EQ(ArchiveExtractItem(handle.get(), 3, absolute.c_str()), ARCHIVE_OK);
  ASSERT_EQ(ArchiveSetTargetDir(handle.get(), (target_ + "/second/").c_str()), ARCHIVE_OK);
  EXPECT_EQ(ArchiveExtractItem(handle.get(), 4, "d.txt"), ARCHIVE_OK);
  EXPECT_EQ(ListTree(scratch_.path()),
            (std::set<std::string>{"abs/", "abs/x/", "abs/x/a.txt", "target/", "target/a.txt",
                                   "target/sub/", "target/sub/dir/", "target/sub/dir/b.txt",
                                   "target/back/", "target/back/slash/", "target/back/slash/c.txt",
                                   "target/second/", "target/second/d.txt"}));
  EXPECT_EQ(ReadFileBytes(target_ + "/sub/dir/b.txt"), "item 1");
  EXPECT_EQ(ReadFileBytes(absolute), "item 3");
}

TEST_F(ExtractTest, WritesEveryKindOfItemWithItsBytesAttributesAndTimes) {
  const ArchivePtr handle = OpenCrafted("sizes.zip");
  ASSERT_TRUE(handle);
  const auto results = archivetest::ExtractAll(handle.get(), target_);
  for (const auto& [name, result] : results) EXPECT_EQ(result, ARCHIVE_OK) << name;
  EXPECT_TRUE(fs::is_directory(target_ + "/docs"));
  for (const char* name :
       {"empty_stored.txt", "empty_deflated.txt", "big_stored.bin", "big_deflated.txt", "ro.txt"}) {
    SCOPED_TRACE(name);
    const auto status = platform::GetFileStatus(target_ + "/" + name);
    ASSERT_TRUE(status);
    // Set after the last byte: 2020-01-02 03:04:06 from the DOS time.
    EXPECT_EQ(archivetest::UnixSeconds(status->modificationTime), 1577934246);
    EXPECT_EQ(status->attributes & platform::kAttrReadOnly,
              std::string(name) == "ro.txt" ? platform::kAttrReadOnly : 0u);
    EXPECT_EQ(ReadFileBytes(target_ + "/" + name), UnzipBytes("sizes.zip", name));
  }
  EXPECT_EQ(fs::file_size(target_ + "/big_deflated.txt"), 228000u);
  // A read-only file is not replaced; a writable one is.
  WriteFileBytes(target_ + "/big_stored.bin", "old");
  EXPECT_EQ(ArchiveExtractItem(handle.get(), 4, "ro.txt"), ARCHIVE_FILE_OPEN_FAILED);
  EXPECT_EQ(ArchiveExtractItem(handle.get(), 2, "big_stored.bin"), ARCHIVE_OK);
  EXPECT_EQ(ReadFileBytes(target_ + "/big_stored.bin"), UnzipBytes("sizes.zip", "big_stored.bin"));
  EXPECT_EQ(ListTree(target_).count("ro.txt.part"), 0u);
}

TEST_F(ExtractTest, AFailedItemLeavesTheFileItWouldReplace) {
  const ArchivePtr crc = OpenCrafted("crc.zip");
  const ArchivePtr damaged = OpenCrafted("damaged.zip");
  ASSERT_TRUE(crc && damaged);
  fs::create_directories(target_);
  const std::pair<ArchiveHandle*, std::int32_t> failing[] = {
      {crc.get(), 0},     {crc.get(), 1},     {damaged.get(), 0},
      {damaged.get(), 1}, {damaged.get(), 2}, {damaged.get(), 4}};
  for (const auto& [handle, index] : failing) {
    WriteFileBytes(target_ + "/installed", "installed");
    EXPECT_EQ(ArchiveExtractItem(handle, index, "installed"), ARCHIVE_DATA_ERROR) << index;
    EXPECT_EQ(ReadFileBytes(target_ + "/installed"), "installed");
    EXPECT_EQ(ArchiveExtractItem(handle, index, "new"), ARCHIVE_DATA_ERROR) << index;
  }
  for (std::int32_t index : {3, 5}) {  // not describable: nothing is written
    EXPECT_EQ(ArchiveExtractItem(damaged.get(), index, "sub/new"), ARCHIVE_BAD_LOCAL_HEADER);
  }
  EXPECT_EQ(ListTree(target_), std::set<std::string>{"installed"});
}

TEST_F(ExtractTest, LeavesFilesNamedLikeItsTemporaryFileAlone) {
  const ArchivePtr handle = OpenCrafted("cursor.zip");
  ASSERT_TRUE(handle);
  fs::create_directories(target_);
  WriteFileBytes(target_ + "/a.txt.part", "the user's");
  platform::SetReadOnly(target_ + "/a.txt.part", true);
  WriteFileBytes(target_ + "/a.txt.1.part", "the user's too");
  EXPECT_EQ(ArchiveExtractItem(handle.get(), 0, "a.txt"), ARCHIVE_OK);
  EXPECT_EQ(ListTree(target_), (std::set<std::string>{"a.txt", "a.txt.part", "a.txt.1.part"}));
  EXPECT_EQ(ReadFileBytes(target_ + "/a.txt"), "item 0");
  EXPECT_EQ(ReadFileBytes(target_ + "/a.txt.part"), "the user's");
  EXPECT_EQ(ReadFileBytes(target_ + "/a.txt.1.part"), "the user's too");
}

TEST_F(ExtractTest, RefusesWhatCannotBeWrittenAndWritesNothingForIt) {
  const ArchivePtr handle = OpenCrafted("cursor.zip");
  const ArchivePtr names = OpenCrafted("names.zip");
  ASSERT_TRUE(handle && names);
  fs::create_directories(target_ + "/taken");
  const std::string longName(250, 'd');
  const std::pair<std::string, ArchiveResult> refused[] = {
      {"taken", ARCHIVE_FILE_OPEN_FAILED},
      {"dir/", ARCHIVE_FILE_OPEN_FAILED},
      {"dir/..", ARCHIVE_FILE_OPEN_FAILED},
      {".", ARCHIVE_FILE_OPEN_FAILED},
      {longName, ARCHIVE_PATH_TOO_LONG},
      {std::string(260, 'e'), ARCHIVE_PATH_TOO_LONG},
      // Fits by itself, but its temporary file would not.
      {"x/" + std::string(256 - target_.size() - 3, 'f'), ARCHIVE_PATH_TOO_LONG}};
  for (const auto& [name, code] : refused) {
    EXPECT_EQ(ArchiveExtractItem(handle.get(), 0, name.c_str()), code) << name;
  }
  EXPECT_EQ(ArchiveExtractItem(handle.get(), -1, "a.txt"), ARCHIVE_BAD_ARGUMENT);
  EXPECT_EQ(ArchiveExtractItem(handle.get(), 8, "a.txt"), ARCHIVE_BAD_ARGUMENT);
  EXPECT_EQ(ArchiveExtractItem(handle.get(), 0, nullptr), ARCHIVE_BAD_ARGUMENT);
  ArchiveItem item;
  ASSERT_EQ(ArchiveGetItem(names.get(), 0, &item), ARCHIVE_OK);
  EXPECT_EQ(ArchiveExtractItem(names.get(), 0, item.name), ARCHIVE_PATH_TOO_LONG);
  EXPECT_EQ(ArchiveExtractItem(names.get(), 1, "short"), ARCHIVE_PATH_TOO_LONG);
  EXPECT_EQ(ListTree(scratch_.path()), (std::set<std::string>{"target/", "target/taken/"}));

  // The target directory: an empty or too long text keeps the previous one.
  EXPECT_EQ(ArchiveSetTargetDir(handle.get(), ""), ARCHIVE_BAD_ARGUMENT);
  EXPECT_EQ(ArchiveSetTargetDir(handle.get(), nullptr), ARCHIVE_BAD_ARGUMENT);
  EXPECT_EQ(ArchiveSetTargetDir(handle.get(), std::string(259, 'g').c_str()),
            ARCHIVE_PATH_TOO_LONG);
  EXPECT_EQ(ArchiveExtractItem(handle.get(), 0, "a.txt"), ARCHIVE_OK);
  EXPECT_EQ(ReadFileBytes(target_ + "/a.txt"), "item 0");
}

}  // namespace
