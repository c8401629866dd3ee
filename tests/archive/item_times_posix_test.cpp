// DOS times are local times: on POSIX the process's own time zone (TZ) says
// which.
#include <gtest/gtest.h>

#include "archive_test_support.h"
#include "support/environment.h"

namespace {

TEST(DosDateTime, IsReadAsLocalTimeWithTheBiasOfNow) {
  const testsupport::ScopedEnvVar zone("TZ", "XST-2");  // two hours east of UTC all year
  archivetest::ExpectDosTimesAt(7200);
}

}  // namespace
