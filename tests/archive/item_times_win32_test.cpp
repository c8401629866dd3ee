// DOS times are local times: on Windows the system's time zone says which.
// Under wine that is the zone of the program's environment (TZ) when it
// starts; ctest's archive_time_zone entry runs these cases with TZ=XST-2 and
// names the offset it expects in UPDATER_TEST_UTC_OFFSET_MINUTES.
#include <gtest/gtest.h>

#include <string>

#include "archive/item_times.h"
#include "archive_test_support.h"
#include "platform/win32/windows_api.h"
#include "support/environment.h"

namespace {

// Seconds that local time is ahead of UTC now: the given offset, else the
// system's bias in force now.
std::int64_t UtcOffsetSeconds() {
  if (const auto given = testsupport::GetEnvVar("UPDATER_TEST_UTC_OFFSET_MINUTES")) {
    return std::stoll(*given) * 60;
  }
  TIME_ZONE_INFORMATION zone;
  const DWORD which = GetTimeZoneInformation(&zone);
  LONG bias = zone.Bias;
  if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  return -static_cast<std::int64_t>(bias) * 60;
}

// 2020-06-01 12:00:00 and the invalid date 0 (1980-01-01) are local times.
TEST(DosDateTime, IsReadAsLocalTimeWithTheBiasOfNow) {
  const std::int64_t offset = UtcOffsetSeconds();
  const archive::ItemTimes times = archive::TimesFromDos(static_cast<std::uint32_t>(
      archivetest::DosDate(2020, 6, 1) << 16 | archivetest::DosTime(12, 0, 0)));
  EXPECT_EQ(times.modificationTime, platform::UnixTimeToFileTime(1591012800 - offset));
  EXPECT_EQ(times.accessTime, times.modificationTime);
  EXPECT_EQ(times.creationTime, times.modificationTime);
  EXPECT_EQ(archive::TimesFromDos(0).modificationTime,
            platform::UnixTimeToFileTime(315532800 - offset));
}

}  // namespace
