// Support for the archive tests: the archives that the real archivers and
// make_archives.py write, and walking the facade over a whole archive.
//
// ctest's archive_prepare runs prepare_archives.py before the suite and names
// its directory in UPDATER_TEST_ARCHIVES (see that script for its layout); the
// archivers are Linux programs, so the Windows build reads the same directory
// through wine's drive Z:. DOS times are read and written in UTC (TZ=UTC).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "support/scratch_dir.h"

namespace archivetest {

// The prepared directory that UPDATER_TEST_ARCHIVES names, or "".
const std::string& PreparedDir();
inline std::string CraftedArchive(const std::string& name) {
  return PreparedDir() + "/crafted/" + name;
}

// The DOS date and time fields of a calendar date and time of day.
inline std::uint16_t DosDate(int year, int month, int day) {
  return static_cast<std::uint16_t>((year - 1980) << 9 | month << 5 | day);
}
inline std::uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<std::uint16_t>(hour << 11 | minute << 5 | second / 2);
}

ArchivePtr Open(const std::string& archive, const char* password = nullptr);
// What ArchiveOpen must refuse, written into `dir`: a missing file, text, an
// end record cut short, and the directory itself.
std::vector<std::string> NoArchives(const testsupport::ScratchDir& dir);

// Every path below `root`, relative to it, "/"-separated, directories with a
// trailing "/".
std::set<std::string> ListTree(const std::string& root);

}  // namespace archivetest

#define UPDATER_REQUIRE_ARCHIVES()                                 \
  ASSERT_FALSE(archivetest::PreparedDir().empty())                 \
      << "UPDATER_TEST_ARCHIVES names no prepared directory: run " \
         "the suite through ctest (archive_prepare writes it)"
