// Support for the archive tests: running the real archivers, reading what
// `unzip -Z` reports, and walking the facade over a whole archive.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/archive.h"

namespace archivetest {

// Whether `tool` can be run (found on the PATH).
bool HaveTool(const std::string& tool);
// Runs `command` through the shell; its exit status. The test programs run
// in UTC (TZ=UTC), and so do the archivers they start.
int Run(const std::string& command);
// The crafted archives of make_archives.py, written once per test program.
std::string CraftedArchive(const std::string& name);

// One line of `unzip -Z -T -l`.
struct ListedEntry {
  std::string mode;  // e.g. "-rw-r--r--" or "drwxr-xr-x"
  std::uint64_t size = 0;
  std::uint64_t compressedSize = 0;
  std::int64_t unixTime = 0;  // the time unzip shows, read as UTC
};
std::map<std::string, ListedEntry> ListWithUnzip(const std::string& archive);

ArchivePtr Open(const std::string& archive, const char* password = nullptr);
std::vector<ArchiveItem> DescribeAll(ArchiveHandle* handle);
// Describes and extracts every item the way the install does; the result of
// each extraction by cleaned name.
std::map<std::string, ArchiveResult> ExtractAll(ArchiveHandle* handle, const std::string& target);

// Every path below `root`, relative to it, directories with a trailing "/".
std::set<std::string> ListTree(const std::string& root);
std::int64_t UnixSeconds(platform::FileTime t);

}  // namespace archivetest
