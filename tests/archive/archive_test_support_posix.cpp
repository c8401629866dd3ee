// The prepared archives on Linux: the directory that with-archives.sh names, or
// one that the test program prepares itself on first use.
#include <cstdlib>
#include <filesystem>

#include "archive_test_support.h"
#include "support/environment.h"
#include "support/scratch_dir.h"

namespace archivetest {
namespace {

// DOS times are local times; the tests read and write them in UTC, and so do
// the archivers that prepare_archives.py starts.
[[maybe_unused]] const bool kUtc = [] {
  testsupport::SetEnvVar("TZ", "UTC");
  return true;
}();

}  // namespace

const std::string& PreparedDir() {
  static const std::string dir = []() -> std::string {
    if (const auto given = testsupport::GetEnvVar(kArchivesVariable)) return *given;
    static testsupport::ScratchDir scratch;
    const std::filesystem::path script =
        std::filesystem::path(__FILE__).parent_path() / "prepare_archives.py";
    const std::string command = "python3 '" + script.string() + "' '" + scratch.path() + "'";
    return std::system(command.c_str()) == 0 ? scratch.path() : std::string();
  }();
  return dir;
}

std::string MissingArchivesReason() {
  return "prepare_archives.py failed (python3, zip, unzip, 7z, bsdtar are needed)";
}

bool MissingArchivesFail() { return true; }

}  // namespace archivetest
