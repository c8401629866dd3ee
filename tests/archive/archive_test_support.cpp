#include "archive_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>

#include "support/scratch_dir.h"

namespace archivetest {
namespace fs = std::filesystem;

namespace {
// DOS times are local times; the tests read and write them in UTC, as the
// archivers they start do.
[[maybe_unused]] const bool kUtc = [] {
  setenv("TZ", "UTC", 1);
  tzset();
  return true;
}();
}  // namespace

bool HaveTool(const std::string& tool) {
  return Run("command -v " + tool + " >/dev/null 2>&1") == 0;
}

int Run(const std::string& command) { return std::system(command.c_str()); }

std::string CraftedArchive(const std::string& name) {
  static testsupport::ScratchDir dir;
  static const bool made = [] {
    const fs::path script = fs::path(__FILE__).parent_path() / "make_archives.py";
    return Run("python3 '" + script.string() + "' '" + dir.path() + "'") == 0;
  }();
  return made ? dir.Join(name) : std::string();
}

std::map<std::string, ListedEntry> ListWithUnzip(const std::string& archive) {
  std::map<std::string, ListedEntry> entries;
  const std::string command = "unzip -Z -T -l '" + archive + "'";
  const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return entries;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
    std::istringstream in(line);
    ListedEntry entry;
    std::string version, host, kind, method, stamp, name;
    if (!(in >> entry.mode >> version >> host >> entry.size >> kind >> entry.compressedSize >>
          method >> stamp >> name) ||
        stamp.size() != 15) {
      continue;  // a header or summary line
    }
    std::tm parts{};
    parts.tm_year = std::stoi(stamp.substr(0, 4)) - 1900;
    parts.tm_mon = std::stoi(stamp.substr(4, 2)) - 1;
    parts.tm_mday = std::stoi(stamp.substr(6, 2));
    parts.tm_hour = std::stoi(stamp.substr(9, 2));
    parts.tm_min = std::stoi(stamp.substr(11, 2));
    parts.tm_sec = std::stoi(stamp.substr(13, 2));
    entry.unixTime = static_cast<std::int64_t>(timegm(&parts));
    entries[name] = entry;
  }
  return entries;
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
