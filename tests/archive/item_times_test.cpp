#include "archive/item_times.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

#include "archive_test_support.h"

namespace {

using archivetest::DosDate;
using archivetest::DosTime;

using platform::FileTime;
using platform::UnixTimeToFileTime;

TEST(DosDateTime, ReadsCalendarTimesOnlyAndRefusesTheRest) {
  constexpr std::int64_t kRefused = -1;
  const std::tuple<std::uint16_t, std::uint16_t, std::int64_t> cases[] = {
      {DosDate(1980, 1, 1), 0, 315532800},
      {DosDate(2000, 2, 29), DosTime(12, 34, 56), 951827696},
      {DosDate(2107, 12, 31), DosTime(23, 59, 58), 4354819198},
      {DosDate(2020, 0, 1), 0, kRefused},
      {DosDate(2020, 13, 1), 0, kRefused},
      {DosDate(2020, 1, 0), 0, kRefused},
      {DosDate(2021, 2, 29), 0, kRefused},
      {DosDate(2020, 4, 31), 0, kRefused},
      {DosDate(2020, 1, 1), DosTime(24, 0, 0), kRefused},
      {DosDate(2020, 1, 1), DosTime(0, 60, 0), kRefused},
      {DosDate(2020, 1, 1), 0x1E, kRefused}};  // 0x1E: second 60
  for (const auto& [date, time, seconds] : cases) {
    EXPECT_EQ(
        archive::DosDateTimeToFileTime(date, time),
        seconds == kRefused ? std::nullopt : std::optional<FileTime>(UnixTimeToFileTime(seconds)))
        << date << " " << time;
  }
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> bytes;
  for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
  return bytes;
}

struct BlockCase {
  const char* what;
  std::vector<std::uint8_t> field;
  FileTime modification, access, creation;
};

TEST(ExtendedTimestamp, TakesTheCompleteTimesOfTheFirstBlock) {
  constexpr FileTime d = 7;  // the DOS-derived value each time starts with
  const FileTime t1 = UnixTimeToFileTime(1), t2 = UnixTimeToFileTime(2), t3 = UnixTimeToFileTime(3),
                 before = UnixTimeToFileTime(-2);
  const BlockCase cases[] = {
      {"modification only", Bytes({'U', 'T', 5, 0, 1, 1, 0, 0, 0}), t1, d, d},
      {"access and creation", Bytes({'U', 'T', 9, 0, 6, 2, 0, 0, 0, 3, 0, 0, 0}), d, t2, t3},
      {"after another block", Bytes({1, 2, 2, 0, 9, 9, 'U', 'T', 5, 0, 1, 1, 0, 0, 0}), t1, d, d},
      {"before 1970", Bytes({'U', 'T', 5, 0, 1, 0xFE, 0xFF, 0xFF, 0xFF}), before, d, d},
      {"more announced than the block holds", Bytes({'U', 'T', 5, 0, 7, 1, 0, 0, 0, 2, 0, 0, 0}),
       t1, d, d},
      {"block runs past the field", Bytes({'U', 'T', 13, 0, 7, 1, 0, 0, 0, 2, 0}), t1, d, d},
      {"time cut by the field's end", Bytes({'U', 'T', 5, 0, 1, 1, 0, 0}), d, d, d},
      {"only the first block counts", Bytes({'U', 'T', 1, 0, 0, 'U', 'T', 5, 0, 1, 1, 0, 0, 0}), d,
       d, d},
      {"other block whose size overruns", Bytes({1, 2, 0xFF, 0xFF, 'U', 'T', 5, 0, 1, 1, 0, 0, 0}),
       d, d, d},
  };
  for (const BlockCase& c : cases) {
    archive::ItemTimes times{d, d, d};
    archive::ApplyExtendedTimestamp(c.field, times);
    EXPECT_EQ(times.modificationTime, c.modification) << c.what;
    EXPECT_EQ(times.accessTime, c.access) << c.what;
    EXPECT_EQ(times.creationTime, c.creation) << c.what;
  }
}

}  // namespace
