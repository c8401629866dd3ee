// Opening archives and describing their items.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "archive_test_support.h"
#include "support/scratch_dir.h"

namespace {
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

auto Fields(const ArchiveItem& item) {
  return std::tuple(item.index, std::string(item.name), item.attributes, item.accessTime,
                    item.creationTime, item.modificationTime, item.compressedSize,
                    item.uncompressedSize);
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

TEST(ArchiveGetItem, CountsItemsAndRefusesIndicesOutOfRange) {
  UPDATER_REQUIRE_ARCHIVES();
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

TEST(ArchiveGetItem, DescribesIndicesInAnyOrder) {
  UPDATER_REQUIRE_ARCHIVES();
  const ArchivePtr handle = Open(CraftedArchive("cursor.zip"));
  ASSERT_TRUE(handle);
  ArchiveItem item, again;
  // Forward, the same one twice, back to a lower index (a restart), forward.
  for (std::int32_t index : {5, 5, 2, 0, 7, 6}) {
    SCOPED_TRACE(index);
    ASSERT_EQ(ArchiveGetItem(handle.get(), index, &item), ARCHIVE_OK);
    EXPECT_EQ(item.index, index);
    EXPECT_EQ(item.name, "item" + std::to_string(index) + ".txt");
    EXPECT_EQ(item.uncompressedSize, 6u);
    ASSERT_EQ(ArchiveGetItem(handle.get(), index, &again), ARCHIVE_OK);
    EXPECT_EQ(Fields(again), Fields(item));
  }
}

TEST(ArchiveGetItem, RefusesDamagedHeadersUnknownMethodsAndLongNames) {
  UPDATER_REQUIRE_ARCHIVES();
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
  UPDATER_REQUIRE_ARCHIVES();
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
  UPDATER_REQUIRE_ARCHIVES();
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
