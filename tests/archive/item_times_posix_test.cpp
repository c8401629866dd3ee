// DOS times are local times: on POSIX the process's own time zone (TZ) says
// which.
#include <gtest/gtest.h>

#include "archive/item_times.h"
#include "archive_test_support.h"
#include "support/environment.h"

namespace {

using archivetest::DosDate;
using archivetest::DosTime;

using platform::UnixTimeToFileTime;

TEST(DosDateTime, IsReadAsLocalTimeWithTheBiasOfNow) {
  archive::ItemTimes times, invalid;
  {
    const testsupport::ScopedEnvVar zone("TZ", "XST-2");  // two hours east of UTC all year
    times = archive::TimesFromDos(
        static_cast<std::uint32_t>(DosDate(2020, 6, 1) << 16 | DosTime(12, 0, 0)));
    invalid = archive::TimesFromDos(0);
  }
  EXPECT_EQ(times.modificationTime, UnixTimeToFileTime(1591005600));  // 10:00 UTC
  EXPECT_EQ(times.accessTime, times.modificationTime);
  EXPECT_EQ(times.creationTime, times.modificationTime);
  EXPECT_EQ(invalid.modificationTime, UnixTimeToFileTime(315532800 - 7200));
}

}  // namespace
