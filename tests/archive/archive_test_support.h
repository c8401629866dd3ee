// Support for the archive tests: the archives that the real archivers and
// make_archives.py write, what `unzip` reports for them, and walking the facade
// over a whole archive.
//
// The archives are prepared by prepare_archives.py into one directory:
//   crafted/NAME.zip           the archives of make_archives.py
//   unzipped/NAME.zip/ITEM     what `unzip` extracts from a crafted archive
//   peers/source/...           a tree of files with known bytes and times
//   peers/PEER.zip, PEER.list  that tree archived by one archiver, and what
//                              `unzip -Z -T -l` lists for it
//   peers/PEER.missing         instead, when the archiver is not installed
// The archivers are Linux programs: the Windows build's tests run through
// with-archives.sh, which prepares the directory on the build machine and names
// it in UPDATER_TEST_ARCHIVES. The Linux tests prepare it themselves when that
// variable is not set. Either way DOS times are read and written in UTC.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/archive.h"

namespace archivetest {

inline constexpr char kArchivesVariable[] = "UPDATER_TEST_ARCHIVES";

// The prepared directory, or "" when there is none (see Prepared()).
const std::string& PreparedDir();
// Why there is no prepared directory, for the message of a test that needs one.
std::string MissingArchivesReason();
// Whether a test without its archives fails rather than skips: always where
// the tests prepare them themselves, else under CI=true.
bool MissingArchivesFail();

std::string CraftedArchive(const std::string& name);
// The bytes that `unzip` extracted for `item` of crafted archive `archive`.
std::string UnzippedBytes(const std::string& archive, const std::string& item);
std::string PeerSourceDir();
// The archive of the source tree written by `peer`; "" when the archiver is
// not installed or failed.
std::string PeerArchive(const std::string& peer);
bool PeerToolMissing(const std::string& peer);

// One line of `unzip -Z -T -l`.
struct ListedEntry {
  std::string mode;  // e.g. "-rw-r--r--" or "drwxr-xr-x"
  std::uint64_t size = 0;
  std::uint64_t compressedSize = 0;
  std::int64_t unixTime = 0;  // the time unzip shows, read as UTC
};
// What `unzip -Z -T -l` listed for the archive of `peer`.
std::map<std::string, ListedEntry> PeerListing(const std::string& peer);
std::map<std::string, ListedEntry> ParseUnzipListing(const std::string& text);
// The DOS date and time fields of a calendar date and time of day.
inline std::uint16_t DosDate(int year, int month, int day) {
  return static_cast<std::uint16_t>((year - 1980) << 9 | month << 5 | day);
}
inline std::uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<std::uint16_t>(hour << 11 | minute << 5 | second / 2);
}
// Seconds since 1970-01-01 00:00 UTC of a proleptic Gregorian date and time.
std::int64_t UnixTimeOf(int year, int month, int day, int hour, int minute, int second);

ArchivePtr Open(const std::string& archive, const char* password = nullptr);
std::vector<ArchiveItem> DescribeAll(ArchiveHandle* handle);
// Describes and extracts every item the way the install does; the result of
// each extraction by cleaned name.
std::map<std::string, ArchiveResult> ExtractAll(ArchiveHandle* handle, const std::string& target);

// Every path below `root`, relative to it, "/"-separated, directories with a
// trailing "/".
std::set<std::string> ListTree(const std::string& root);
std::int64_t UnixSeconds(platform::FileTime t);

}  // namespace archivetest

// Ends the current test (or fixture set-up) when there are no prepared
// archives: a failure or a skip, as MissingArchivesFail() says.
#define UPDATER_REQUIRE_ARCHIVES()                                                      \
  if (archivetest::PreparedDir().empty()) {                                             \
    if (archivetest::MissingArchivesFail()) {                                           \
      FAIL() << "no prepared archives: " << archivetest::MissingArchivesReason();       \
    } else {                                                                            \
      GTEST_SKIP() << "no prepared archives: " << archivetest::MissingArchivesReason(); \
    }                                                                                   \
  }
