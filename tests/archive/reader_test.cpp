// Opening archives and describing their items.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "archive_test_support.h"
#include "support/scratch_dir.h"

namespace {
namespace fs = std::filesystem;
using archivetest::CraftedArchive;
using archivetest::Open;
using archivetest::UnixSeconds;

ArchiveItem Filled() {
  ArchiveItem item;
  item.index = 99;
  std::strcpy(item.name, "stale");
  item.uncompressedSize = 99;
  return item;
}

void ExpectReset(const ArchiveItem& item) {
  EXPECT_EQ(item.index, 0);
  EXPECT_STREQ(item.name, "");
  EXPECT_EQ(item.uncompressedSize, 0u);
}

std::size_t OpenDescriptors() {
  std::error_code ec;
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd", ec), fs::directory_iterator()));
}

TEST(ArchiveHandleCheck, NoHandleAndWrongKindAreRefusedFirst) {
  ArchiveHandle foreign;
  foreign.kind = 2;
  for (auto [handle, code] : {std::pair{static_cast<ArchiveHandle*>(nullptr), ARCHIVE_BAD_ARGUMENT},
                              std::pair{&foreign, ARCHIVE_WRONG_HANDLE}}) {
    ArchiveItem item = Filled();
    EXPECT_EQ(ArchiveGetItem(handle, 0, &item), code);
    ExpectReset(item);
    EXPECT_EQ(ArchiveSetTargetDir(handle, "/tmp"), code);
    EXPECT_EQ(ArchiveExtractItem(handle, 0, "x"), code);
    EXPECT_EQ(ArchiveClose(handle), code);
  }
}

TEST(ArchiveOpen, FailsForWhatIsNoArchiveAndLeavesNothingOpen) {
  testsupport::ScratchDir dir;
  testsupport::WriteFileBytes(dir.Join("text.zip"), std::string(3000, 'x'));
  const std::size_t before = OpenDescriptors();
  EXPECT_EQ(ArchiveOpen(dir.Join("missing.zip").c_str(), nullptr), nullptr);
  EXPECT_EQ(ArchiveOpen(dir.Join("text.zip").c_str(), nullptr), nullptr);
  EXPECT_EQ(ArchiveOpen(dir.path().c_str(), nullptr), nullptr);
  EXPECT_EQ(ArchiveOpen(nullptr, nullptr), nullptr);
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(ArchiveOpen, KeepsTheArchiveOpenWithoutPassingItToChildren) {
  const std::size_t before = OpenDescriptors();
  ArchivePtr handle = Open(CraftedArchive("cursor.zip"));
  ASSERT_TRUE(handle);
  ASSERT_EQ(OpenDescriptors(), before + 1);
  std::string flags = "0";
  for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
    if (fs::read_symlink(fd.path()) != fs::path(CraftedArchive("cursor.zip"))) continue;
    std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
    for (std::string key; info >> key >> flags && key != "flags:";) {
    }
  }
  EXPECT_NE(std::stoul(flags, nullptr, 8) & 02000000, 0u) << "O_CLOEXEC";
  handle.reset();
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(ArchiveGetItem, CountsItemsAndRefusesIndicesOutOfRange) {
  const ArchivePtr empty = Open(CraftedArchive("empty.zip"));
  ASSERT_TRUE(empty);
  ArchiveItem item = Filled();
  ASSERT_EQ(ArchiveGetItem(empty.get(), -1, &item), ARCHIVE_OK);
  EXPECT_EQ(item.index, 0);
  EXPECT_EQ(ArchiveGetItem(empty.get(), 0, &item), ARCHIVE_BAD_ARGUMENT);

  const ArchivePtr handle = Open(CraftedArchive("cursor.zip"));
  ASSERT_TRUE(handle);
  ASSERT_EQ(ArchiveGetItem(handle.get(), -1, &item), ARCHIVE_OK);
  EXPECT_EQ(item.index, 8);
  EXPECT_EQ(item.uncompressedSize, 0u);
  for (std::int32_t index : {-2, 8, INT32_MIN}) {
    item = Filled();
    EXPECT_EQ(ArchiveGetItem(handle.get(), index, &item), ARCHIVE_BAD_ARGUMENT);
    ExpectReset(item);
  }
  EXPECT_EQ(ArchiveGetItem(handle.get(), 0, nullptr), ARCHIVE_BAD_ARGUMENT);
}

TEST(ArchiveGetItem, ServesTheLastDescriptionWithoutReadingTheArchive) {
  testsupport::ScratchDir dir;
  const std::string copy = dir.Join("sizes.zip");
  fs::copy_file(CraftedArchive("sizes.zip"), copy);
  const ArchivePtr handle = Open(copy);
  ASSERT_TRUE(handle);
  ArchiveItem first, again, summary;
  ASSERT_EQ(ArchiveGetItem(handle.get(), 2, &first), ARCHIVE_OK);
  ASSERT_STREQ(first.name, "big_stored.bin");
  // Rename item 2 in the central directory of the open file, 70 KB past the
  // item's local header (the last place read): a fresh description would
  // read the new name.
  const std::string bytes = testsupport::ReadFileBytes(copy);
  const std::size_t central = bytes.find("big_stored.bin", bytes.find("big_stored.bin") + 1);
  ASSERT_NE(central, std::string::npos);
  std::fstream(copy, std::ios::in | std::ios::out | std::ios::binary).seekp(central).write("B", 1);

  ASSERT_EQ(ArchiveGetItem(handle.get(), 2, &again), ARCHIVE_OK);
  EXPECT_EQ(std::memcmp(&first, &again, sizeof first), 0);
  ASSERT_EQ(ArchiveGetItem(handle.get(), -1, &summary), ARCHIVE_OK);
  ASSERT_EQ(ArchiveGetItem(handle.get(), 2, &again), ARCHIVE_OK);  // the summary keeps the cache
  EXPECT_STREQ(again.name, "big_stored.bin");
  // Describing another item replaces the cache; item 2 is then read again.
  ASSERT_EQ(ArchiveGetItem(handle.get(), 3, &again), ARCHIVE_OK);
  ASSERT_EQ(ArchiveGetItem(handle.get(), 2, &again), ARCHIVE_OK);
  EXPECT_STREQ(again.name, "Big_stored.bin");
}

TEST(ArchiveGetItem, RefusesDamagedHeadersUnknownMethodsAndLongNames) {
  const ArchivePtr damaged = Open(CraftedArchive("damaged.zip"));
  const ArchivePtr names = Open(CraftedArchive("names.zip"));
  ASSERT_TRUE(damaged && names);
  ArchiveItem item;
  EXPECT_EQ(ArchiveGetItem(damaged.get(), 3, &item), ARCHIVE_BAD_LOCAL_HEADER);  // local method
  EXPECT_EQ(ArchiveGetItem(damaged.get(), 5, &item), ARCHIVE_BAD_LOCAL_HEADER);  // bzip2
  ASSERT_EQ(ArchiveGetItem(names.get(), 0, &item), ARCHIVE_OK);
  EXPECT_EQ(std::strlen(item.name), 259u);
  EXPECT_EQ(ArchiveGetItem(names.get(), 1, &item), ARCHIVE_PATH_TOO_LONG);
  EXPECT_EQ(ArchiveGetItem(names.get(), 2, &item), ARCHIVE_PATH_TOO_LONG);
  ExpectReset(item);
}

TEST(ArchiveGetItem, MapsTheAttributesOfEachHost) {
  const ArchivePtr handle = Open(CraftedArchive("attrs.zip"));
  ASSERT_TRUE(handle);
  const std::uint32_t expected[] = {0x21, 0x10, 0x27, 0x06, 0x21, 0x30, 0x21, 0x10};
  const auto items = archivetest::DescribeAll(handle.get());
  ASSERT_EQ(items.size(), std::size(expected));
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].attributes, expected[i]) << items[i].name;
  }
}

TEST(ArchiveGetItem, TakesTimesFromTheLocalTimestampBlockElseFromDos) {
  const ArchivePtr handle = Open(CraftedArchive("times.zip"));
  ASSERT_TRUE(handle);
  constexpr std::int64_t dos = 1577934246;  // 2020-01-02 03:04:06, read in UTC
  const std::int64_t expected[][3] = {
      // modification, access, creation
      {1000000000, 1100000000, 900000000},
      {dos, dos, dos},                    // the block is in the central field only
      {315532800, 315532800, 315532800},  // invalid DOS date: 1980-01-01 00:00
      {1640995198, 1640995198, 1640995198}};
  const auto items = archivetest::DescribeAll(handle.get());
  ASSERT_EQ(items.size(), std::size(expected));
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(items[i].name);
    EXPECT_EQ(UnixSeconds(items[i].modificationTime), expected[i][0]);
    EXPECT_EQ(UnixSeconds(items[i].accessTime), expected[i][1]);
    EXPECT_EQ(UnixSeconds(items[i].creationTime), expected[i][2]);
  }
}

}  // namespace
