// Opening archives and describing their items.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "archive_test_support.h"

namespace {
using archivetest::CraftedArchive;
using archivetest::Open;
using archivetest::UnixSeconds;

ArchiveItem Filled() { return ArchiveItem{.index = 99, .name = "stale", .uncompressedSize = 99}; }

void ExpectReset(const ArchiveItem& item) {
  EXPECT_EQ(item.index, 0);
  EXPECT_STREQ(item.name, "");
  EXPECT_EQ(item.uncompressedSize, 0u);
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

TEST(ArchiveGetItem, CountsItemsAndDescribesIndicesInAnyOrder) {
  UPDATER_REQUIRE_ARCHIVES();
  const ArchivePtr empty = Open(CraftedArchive("empty.zip"));
  const ArchivePtr handle = Open(CraftedArchive("cursor.zip"));
  ASSERT_TRUE(empty && handle);
  ArchiveItem item = Filled(), again;
  ASSERT_EQ(ArchiveGetItem(empty.get(), -1, &item), ARCHIVE_OK);
  EXPECT_EQ(item.index, 0);
  EXPECT_EQ(ArchiveGetItem(empty.get(), 0, &item), ARCHIVE_BAD_ARGUMENT);
  ASSERT_EQ(ArchiveGetItem(handle.get(), -1, &item), ARCHIVE_OK);
  EXPECT_EQ(item.index, 8);
  EXPECT_EQ(item.uncompressedSize, 0u);
  for (std::int32_t index : {-2, 8, INT32_MIN}) {
    item = Filled();
    EXPECT_EQ(ArchiveGetItem(handle.get(), index, &item), ARCHIVE_BAD_ARGUMENT) << index;
    ExpectReset(item);
  }
  EXPECT_EQ(ArchiveGetItem(handle.get(), 0, nullptr), ARCHIVE_BAD_ARGUMENT);
  // Forward, the same one twice, back to a lower index (a restart), forward.
  for (std::int32_t index : {5, 5, 2, 0, 7, 6}) {
    SCOPED_TRACE(index);
    ASSERT_EQ(ArchiveGetItem(handle.get(), index, &item), ARCHIVE_OK);
    EXPECT_EQ(item.index, index);
    EXPECT_EQ(item.name, "item" + std::to_string(index) + ".txt");
    EXPECT_EQ(item.uncompressedSize, 6u);
    ASSERT_EQ(ArchiveGetItem(handle.get(), index, &again), ARCHIVE_OK);
    EXPECT_EQ(std::memcmp(&again, &item, sizeof item), 0);
  }
}

TEST(ArchiveGetItem, MapsAttributesAndTimesAndRefusesWhatItCannotDescribe) {
  UPDATER_REQUIRE_ARCHIVES();
  constexpr std::int64_t d = 1577934246;  // 2020-01-02 03:04:06 from the DOS fields, in UTC
  constexpr auto kOk = ARCHIVE_OK;
  struct Case {
    const char* archive;
    std::int32_t index;
    ArchiveResult result;
    std::uint32_t attributes;
    std::int64_t modification, access, creation;
  };
  std::vector<Case> cases;
  // The attributes of DOS, NTFS and Unix hosts; directories marked by name only.
  for (const std::uint32_t a : {0x21u, 0x10u, 0x27u, 0x06u, 0x21u, 0x30u, 0x21u, 0x10u}) {
    cases.push_back({"attrs.zip", static_cast<std::int32_t>(cases.size()), kOk, a, d, d, d});
  }
  cases.insert(
      cases.end(),
      {
          // Times from the local timestamp block, else from the DOS fields.
          {"times.zip", 0, kOk, 0x20, 1000000000, 1100000000, 900000000},
          {"times.zip", 1, kOk, 0x20, d, d, d},  // the block is in the central field only
          {"times.zip", 2, kOk, 0x20, 315532800, 315532800, 315532800},  // no date: 1980-01-01
          {"times.zip", 3, kOk, 0x20, 1640995198, 1640995198, 1640995198},
          // Names of 260 bytes and more (damaged headers: extract_test.cpp).
          {"names.zip", 0, kOk, 0x20, d, d, d},  // 259 bytes
          {"names.zip", 1, ARCHIVE_PATH_TOO_LONG, 0, 0, 0, 0},
          {"names.zip", 2, ARCHIVE_PATH_TOO_LONG, 0, 0, 0, 0},
      });
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.archive) + " item " + std::to_string(c.index));
    const ArchivePtr handle = Open(CraftedArchive(c.archive));
    ASSERT_TRUE(handle);
    ArchiveItem item = Filled();
    ASSERT_EQ(ArchiveGetItem(handle.get(), c.index, &item), c.result);
    if (c.result != ARCHIVE_OK) {
      ExpectReset(item);
      continue;
    }
    EXPECT_EQ(item.index, c.index);
    if (std::strcmp(c.archive, "names.zip") == 0) {
      EXPECT_EQ(std::strlen(item.name), 259u);
    }
    EXPECT_EQ(item.attributes, c.attributes);
    EXPECT_EQ(std::make_tuple(UnixSeconds(item.modificationTime), UnixSeconds(item.accessTime),
                              UnixSeconds(item.creationTime)),
              std::make_tuple(c.modification, c.access, c.creation));
  }
}

}  // namespace
