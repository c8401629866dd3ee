// DOS times are local times: on POSIX the process's own time zone (TZ) says
// which.
#include <gtest/gtest.h>

#include "archive/item_times.h"
#include "support/environment.h"

namespace {

using platform::UnixTimeToFileTime;

std::uint16_t Date(int y, int m, int d) {
  return static_cast<std::uint16_t>((y - 1980) << 9 | m << 5 | d);
}
std::uint16_t Time(int h, int m, int s) {
  return static_cast<std::uint16_t>(h << 11 | m << 5 | s / 2);
}

TEST(DosDateTime, IsReadAsLocalTimeWithTheBiasOfNow) {
  archive::ItemTimes times, invalid;
  {
    const testsupport::ScopedEnvVar zone("TZ", "XST-2");  // two hours east of UTC all year
    times =
        archive::TimesFromDos(static_cast<std::uint32_t>(Date(2020, 6, 1) << 16 | Time(12, 0, 0)));
    invalid = archive::TimesFromDos(0);
  }
  EXPECT_EQ(times.modificationTime, UnixTimeToFileTime(1591005600));  // 10:00 UTC
  EXPECT_EQ(times.accessTime, times.modificationTime);
  EXPECT_EQ(times.creationTime, times.modificationTime);
  EXPECT_EQ(invalid.modificationTime, UnixTimeToFileTime(315532800 - 7200));
}

}  // namespace
