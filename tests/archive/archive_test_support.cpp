#include "archive_test_support.h"

#include <filesystem>
#include <sstream>

#include "support/scratch_dir.h"

namespace archivetest {
namespace fs = std::filesystem;

namespace {

std::string InPrepared(const std::string& relative) {
  return PreparedDir().empty() ? std::string() : PreparedDir() + "/" + relative;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::exists(path, ec);
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (the
// civil-from-days inverse: years start in March, so a leap day ends one).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(y - era * 400);
  const unsigned dayOfYear = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

}  // namespace

std::string CraftedArchive(const std::string& name) { return InPrepared("crafted/" + name); }

std::string UnzippedBytes(const std::string& archive, const std::string& item) {
  return testsupport::ReadFileBytes(InPrepared("unzipped/" + archive + "/" + item));
}

std::string PeerSourceDir() { return InPrepared("peers/source"); }

std::string PeerArchive(const std::string& peer) {
  const std::string path = InPrepared("peers/" + peer + ".zip");
  return Exists(path) ? path : std::string();
}

bool PeerToolMissing(const std::string& peer) {
  return Exists(InPrepared("peers/" + peer + ".missing"));
}

std::int64_t UnixTimeOf(int year, int month, int day, int hour, int minute, int second) {
  return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
         hour * 3600 + minute * 60 + second;
}

std::map<std::string, ListedEntry> ParseUnzipListing(const std::string& text) {
  std::map<std::string, ListedEntry> entries;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream in(line);
    ListedEntry entry;
    std::string version, host, kind, method, stamp, name;
    if (!(in >> entry.mode >> version >> host >> entry.size >> kind >> entry.compressedSize >>
          method >> stamp >> name) ||
        stamp.size() != 15) {
      continue;  // a header or summary line
    }
    // yyyymmdd.hhmmss
    entry.unixTime = UnixTimeOf(std::stoi(stamp.substr(0, 4)), std::stoi(stamp.substr(4, 2)),
                                std::stoi(stamp.substr(6, 2)), std::stoi(stamp.substr(9, 2)),
                                std::stoi(stamp.substr(11, 2)), std::stoi(stamp.substr(13, 2)));
    entries[name] = entry;
  }
  return entries;
}

std::map<std::string, ListedEntry> PeerListing(const std::string& peer) {
  return ParseUnzipListing(testsupport::ReadFileBytes(InPrepared("peers/" + peer + ".list")));
}

ArchivePtr Open(const std::string& archive, const char* password) {
  return ArchivePtr(ArchiveOpen(archive.c_str(), password));
}

std::vector<ArchiveItem> DescribeAll(ArchiveHandle* handle) {
  ArchiveItem summary;
  ArchiveGetItem(handle, -1, &summary);
  std::vector<ArchiveItem> items(static_cast<std::size_t>(summary.index));
  for (std::int32_t i = 0; i < summary.index; ++i) {
    ArchiveGetItem(handle, i, &items[static_cast<std::size_t>(i)]);
  }
  return items;
}

std::map<std::string, ArchiveResult> ExtractAll(ArchiveHandle* handle, const std::string& target) {
  std::map<std::string, ArchiveResult> results;
  ArchiveSetTargetDir(handle, target.c_str());
  ArchiveItem summary;
  ArchiveGetItem(handle, -1, &summary);
  for (std::int32_t i = 0; i < summary.index; ++i) {
    ArchiveItem item;
    ArchiveGetItem(handle, i, &item);
    results[item.name] = ArchiveExtractItem(handle, i, item.name);
  }
  return results;
}

std::set<std::string> ListTree(const std::string& root) {
  std::set<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string relative = fs::relative(entry.path(), root).generic_string();
    if (entry.is_directory()) relative += '/';
    paths.insert(relative);
  }
  return paths;
}

std::int64_t UnixSeconds(platform::FileTime t) { return platform::FileTimeToUnixTime(t); }

}  // namespace archivetest
