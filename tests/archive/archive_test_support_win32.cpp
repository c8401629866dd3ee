// The prepared archives in the Windows build: the archivers run on the build
// machine, so with-archives.sh prepares them before the tests start and names
// the directory (as wine sees it) in UPDATER_TEST_ARCHIVES.
#include <filesystem>

#include "archive_test_support.h"
#include "support/environment.h"

namespace archivetest {
namespace {

std::string GivenDir() { return testsupport::GetEnvVar(kArchivesVariable).value_or(""); }

}  // namespace

const std::string& PreparedDir() {
  static const std::string dir = [] {
    const std::string given = GivenDir();
    std::error_code ec;
    return !given.empty() && std::filesystem::is_directory(given, ec) ? given : std::string();
  }();
  return dir;
}

std::string MissingArchivesReason() {
  const std::string given = GivenDir();
  if (given.empty()) {
    return std::string(kArchivesVariable) +
           " is not set: run through tests/archive/with-archives.sh";
  }
  return std::string(kArchivesVariable) + "=" + given + " names no directory";
}

bool MissingArchivesFail() { return testsupport::GetEnvVar("CI").value_or("") == "true"; }

}  // namespace archivetest
