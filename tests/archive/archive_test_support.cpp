#include "archive_test_support.h"

#include <filesystem>
#include <fstream>

#include "support/environment.h"

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

}  // namespace

const std::string& PreparedDir() {
  static const std::string dir = [] {
    const std::string given = testsupport::GetEnvVar("UPDATER_TEST_ARCHIVES").value_or("");
    std::error_code ec;
    return !given.empty() && fs::is_directory(given, ec) ? given : std::string();
  }();
  return dir;
}

std::string CraftedArchive(const std::string& name) { return InPrepared("crafted/" + name); }

std::string PeerSourceDir() { return InPrepared("peers/source"); }

std::string PeerArchive(const std::string& peer) {
  const std::string path = InPrepared("peers/" + peer + ".zip");
  return Exists(path) ? path : std::string();
}

bool PeerToolMissing(const std::string& peer) {
  return Exists(InPrepared("peers/" + peer + ".missing"));
}

std::map<std::string, ListedEntry> PeerListing(const std::string& peer) {
  std::map<std::string, ListedEntry> entries;
  std::ifstream lines(InPrepared("peers/" + peer + ".list"));
  ListedEntry entry;
  for (std::string name;
       lines >> entry.mode >> entry.size >> entry.compressedSize >> entry.unixTime >> name;) {
    entries[name] = entry;
  }
  return entries;
}

ArchivePtr Open(const std::string& archive, const char* password) {
  return ArchivePtr(ArchiveOpen(archive.c_str(), password));
}

std::vector<std::string> NoArchives(const testsupport::ScratchDir& dir) {
  testsupport::WriteFileBytes(dir.Join("text.zip"), std::string(3000, 'x'));
  testsupport::WriteFileBytes(dir.Join("truncated.zip"), std::string("PK\x05\x06", 4));
  return {dir.Join("missing.zip"), dir.Join("text.zip"), dir.Join("truncated.zip"), dir.path()};
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
  for (const ArchiveItem& item : DescribeAll(handle)) {
    results[item.name] = ArchiveExtractItem(handle, item.index, item.name);
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
