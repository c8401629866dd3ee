#include "archive_test_support.h"

#include <filesystem>

#include "support/environment.h"

namespace archivetest {
namespace fs = std::filesystem;

const std::string& PreparedDir() {
  static const std::string dir = testsupport::GetEnvVar("UPDATER_TEST_ARCHIVES").value_or("");
  return dir;
}

ArchivePtr Open(const std::string& archive, const char* password) {
  return ArchivePtr(ArchiveOpen(archive.c_str(), password));
}

std::vector<std::string> NoArchives(const testsupport::ScratchDir& dir) {
  testsupport::WriteFileBytes(dir.Join("text.zip"), std::string(3000, 'x'));
  testsupport::WriteFileBytes(dir.Join("truncated.zip"), std::string("PK\x05\x06", 4));
  return {dir.Join("missing.zip"), dir.Join("text.zip"), dir.Join("truncated.zip"), dir.path()};
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

}  // namespace archivetest
