// Support for the archive tests: the archives that the real archivers and
// make_archives.py write, what `unzip` lists for them, and walking the facade
// over a whole archive.
//
// ctest's archive_prepare runs prepare_archives.py before the suite and names
// its directory in UPDATER_TEST_ARCHIVES (see that script for its layout); the
// archivers are Linux programs, so the Windows build reads the same directory
// through wine's drive Z:. DOS times are read and written in UTC (TZ=UTC).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "support/scratch_dir.h"

namespace archivetest {

// The prepared directory, or "" when UPDATER_TEST_ARCHIVES names none.
const std::string& PreparedDir();

std::string CraftedArchive(const std::string& name);
std::string PeerSourceDir();
// The archive of the source tree written by `peer`; "" when the archiver is
// not installed or failed.
std::string PeerArchive(const std::string& peer);
bool PeerToolMissing(const std::string& peer);

// One item as `unzip -Z -T -l` listed it.
struct ListedEntry {
  std::string mode;  // e.g. "-rw-r--r--" or "drwxr-xr-x"
  std::uint64_t size = 0;
  std::uint64_t compressedSize = 0;
  std::int64_t unixTime = 0;  // the time unzip shows, read as UTC
};
std::map<std::string, ListedEntry> PeerListing(const std::string& peer);

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
std::vector<ArchiveItem> DescribeAll(ArchiveHandle* handle);
// Describes and extracts every item under its cleaned name; the result of
// each extraction by cleaned name.
std::map<std::string, ArchiveResult> ExtractAll(ArchiveHandle* handle, const std::string& target);

// Every path below `root`, relative to it, "/"-separated, directories with a
// trailing "/".
std::set<std::string> ListTree(const std::string& root);
std::int64_t UnixSeconds(platform::FileTime t);

}  // namespace archivetest

#define UPDATER_REQUIRE_ARCHIVES()                                 \
  ASSERT_FALSE(archivetest::PreparedDir().empty())                 \
      << "UPDATER_TEST_ARCHIVES names no prepared directory: run " \
         "the suite through ctest (archive_prepare writes it)"
