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
using platform::FileTimeToUnixTime;

// The result of describing `index` into an item that held stale values, and
// the item's index, name and size afterwards.
using Described = std::tuple<ArchiveResult, std::int32_t, std::string, std::uint64_t>;
Described Describe(ArchiveHandle* handle, std::int32_t index) {
  ArchiveItem item{.index = 99, .name = "stale", .uncompressedSize = 99};
  const ArchiveResult result = ArchiveGetItem(handle, index, &item);
  return {result, item.index, item.name, item.uncompressedSize};
}

TEST(ArchiveHandleCheck, NoHandleAndWrongKindAreRefusedFirst) {
  ArchiveHandle foreign;
  foreign.kind = 2;
  for (auto [handle, code] : {std::pair{static_cast<ArchiveHandle*>(nullptr), ARCHIVE_BAD_ARGUMENT},
                              std::pair{&foreign, ARCHIVE_WRONG_HANDLE}}) {
    EXPECT_EQ(Describe(handle, 0), (Described{code, 0, "", 0}));
    EXPECT_EQ(ArchiveSetTargetDir(handle, "/tmp"), code);
    EXPECT_EQ(ArchiveExtractItem(handle, 0, "x"), code);
    EXPECT_EQ(ArchiveClose(handle), code);
  }
}

TEST(ArchiveGetItem, CountsItemsAndDescribesIndicesInAnyOrder) {
  UPDATER_REQUIRE_ARCHIVES();
  const ArchivePtr empty = Open(CraftedArchive("empty.zip"));
  const ArchivePtr handle = Open(CraftedArchive("cursor.zip"));
  const ArchivePtr names = Open(CraftedArchive("names.zip"));
  const ArchivePtr zip64 = Open(CraftedArchive("zip64-hole.zip"));
  ASSERT_TRUE(empty && handle && names && zip64);
  // Sizes past 4 GiB, from the Zip64 fields.
  EXPECT_EQ(Describe(zip64.get(), 0), (Described{ARCHIVE_OK, 0, "big.bin", 5000000000}));
  EXPECT_EQ(Describe(empty.get(), -1), (Described{ARCHIVE_OK, 0, "", 0}));
  EXPECT_EQ(Describe(empty.get(), 0), (Described{ARCHIVE_BAD_ARGUMENT, 0, "", 0}));
  EXPECT_EQ(Describe(handle.get(), -1), (Described{ARCHIVE_OK, 8, "", 0}));
  for (std::int32_t index : {-2, 8, INT32_MIN}) {
    EXPECT_EQ(Describe(handle.get(), index), (Described{ARCHIVE_BAD_ARGUMENT, 0, "", 0})) << index;
  }
  EXPECT_EQ(ArchiveGetItem(handle.get(), 0, nullptr), ARCHIVE_BAD_ARGUMENT);
  // Names of 259 bytes and more (damaged headers: extract_test.cpp).
  EXPECT_EQ(Describe(names.get(), 0), (Described{ARCHIVE_OK, 0, std::string(259, 'n'), 3}));
  EXPECT_EQ(Describe(names.get(), 1), (Described{ARCHIVE_PATH_TOO_LONG, 0, "", 0}));
  EXPECT_EQ(Describe(names.get(), 2), (Described{ARCHIVE_PATH_TOO_LONG, 0, "", 0}));
  // Forward, the same one twice, back to a lower index (a restart), forward:
  // each time the whole record is the same.
  for (std::int32_t index : {5, 5, 2, 0, 7, 6}) {
    const std::string name = "item" + std::to_string(index) + ".txt";
    EXPECT_EQ(Describe(handle.get(), index), (Described{ARCHIVE_OK, index, name, 6}));
    ArchiveItem item, again;
    ArchiveGetItem(handle.get(), index, &item);
    ArchiveGetItem(handle.get(), index, &again);
    EXPECT_EQ(std::memcmp(&again, &item, sizeof item), 0) << index;
  }
}

TEST(ArchiveGetItem, MapsAttributesAndTimes) {
  UPDATER_REQUIRE_ARCHIVES();
  constexpr std::int64_t d = 1577934246;  // 2020-01-02 03:04:06 from the DOS fields, in UTC
  struct Case {
    const char* archive;
    std::int32_t index;
    std::uint32_t attributes;
    std::int64_t modification, access, creation;
  };
  std::vector<Case> cases;
  // The attributes of DOS, NTFS and Unix hosts; directories marked by name only.
  for (const std::uint32_t a : {0x21u, 0x10u, 0x27u, 0x06u, 0x21u, 0x30u, 0x21u, 0x10u}) {
    cases.push_back({"attrs.zip", static_cast<std::int32_t>(cases.size()), a, d, d, d});
  }
  cases.insert(cases.end(),
               {
                   // Times from the local timestamp block, else from the DOS fields.
                   {"times.zip", 0, 0x20, 1000000000, 1100000000, 900000000},
                   {"times.zip", 1, 0x20, d, d, d},  // the block is in the central field only
                   {"times.zip", 2, 0x20, 315532800, 315532800, 315532800},  // no date: 1980-01-01
                   {"times.zip", 3, 0x20, 1640995198, 1640995198, 1640995198},
               });
  for (const Case& c : cases) {
    const ArchivePtr handle = Open(CraftedArchive(c.archive));
    ArchiveItem item;
    ASSERT_TRUE(handle && ArchiveGetItem(handle.get(), c.index, &item) == ARCHIVE_OK);
    EXPECT_EQ(
        std::make_tuple(item.index, item.attributes, FileTimeToUnixTime(item.modificationTime),
                        FileTimeToUnixTime(item.accessTime), FileTimeToUnixTime(item.creationTime)),
        std::make_tuple(c.index, c.attributes, c.modification, c.access, c.creation))
        << c.archive << " item " << c.index;
  }
}

}  // namespace
