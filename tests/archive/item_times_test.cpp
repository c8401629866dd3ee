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
  const std::tuple<std::uint16_t, std::uint16_t, std::int64_t> valid[] = {
      {DosDate(1980, 1, 1), 0, 315532800},
      {DosDate(2000, 2, 29), DosTime(12, 34, 56), 951827696},
      {DosDate(2107, 12, 31), DosTime(23, 59, 58), 4354819198}};
  for (const auto& [date, time, seconds] : valid) {
    EXPECT_EQ(archive::DosDateTimeToFileTime(date, time), UnixTimeToFileTime(seconds)) << date;
  }
  // Months 0 and 13, day 0, 29 February 2021, 31 April; hour 24, minute 60, second 60 (0x1E).
  for (const std::uint16_t date : {DosDate(2020, 0, 1), DosDate(2020, 13, 1), DosDate(2020, 1, 0),
                                   DosDate(2021, 2, 29), DosDate(2020, 4, 31)}) {
    EXPECT_EQ(archive::DosDateTimeToFileTime(date, 0), std::nullopt) << date;
  }
  for (const std::uint16_t time : {DosTime(24, 0, 0), DosTime(0, 60, 0), std::uint16_t{0x1E}}) {
    EXPECT_EQ(archive::DosDateTimeToFileTime(DosDate(2020, 1, 1), time), std::nullopt) << time;
  }
}

TEST(ExtendedTimestamp, TakesTheCompleteTimesOfTheFirstBlock) {
  constexpr FileTime d = 7;  // the DOS-derived value each time starts with
  const FileTime t1 = UnixTimeToFileTime(1), t2 = UnixTimeToFileTime(2), t3 = UnixTimeToFileTime(3);
  const struct {
    const char* what;
    std::vector<std::uint8_t> field;
    FileTime modification, access, creation;
  } cases[] = {
      {"modification only", {'U', 'T', 5, 0, 1, 1, 0, 0, 0}, t1, d, d},
      {"access and creation", {'U', 'T', 9, 0, 6, 2, 0, 0, 0, 3, 0, 0, 0}, d, t2, t3},
      {"after another block", {1, 2, 2, 0, 9, 9, 'U', 'T', 5, 0, 1, 1, 0, 0, 0}, t1, d, d},
      {"before 1970", {'U', 'T', 5, 0, 1, 0xFE, 0xFF, 0xFF, 0xFF}, UnixTimeToFileTime(-2), d, d},
      {"more announced than held", {'U', 'T', 5, 0, 7, 1, 0, 0, 0, 2, 0, 0, 0}, t1, d, d},
      {"block runs past the field", {'U', 'T', 13, 0, 7, 1, 0, 0, 0, 2, 0}, t1, d, d},
      {"time cut by the field's end", {'U', 'T', 5, 0, 1, 1, 0, 0}, d, d, d},
      {"only the first block", {'U', 'T', 1, 0, 0, 'U', 'T', 5, 0, 1, 1, 0, 0, 0}, d, d, d},
      {"other block overruns", {1, 2, 0xFF, 0xFF, 'U', 'T', 5, 0, 1, 1, 0, 0, 0}, d, d, d},
  };
  for (const auto& c : cases) {
    archive::ItemTimes times{d, d, d};
    archive::ApplyExtendedTimestamp(c.field, times);
    EXPECT_EQ(std::make_tuple(times.modificationTime, times.accessTime, times.creationTime),
              std::make_tuple(c.modification, c.access, c.creation))
        << c.what;
  }
}

}  // namespace
