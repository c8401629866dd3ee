// Opening archives: a failed open leaves no descriptor open in /proc.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive_test_support.h"
#include "support/scratch_dir.h"

namespace {
namespace fs = std::filesystem;

std::size_t OpenDescriptors() {
  std::error_code ec;
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd", ec), fs::directory_iterator()));
}

TEST(ArchiveOpen, FailsForWhatIsNoArchiveAndLeavesNothingOpen) {
  testsupport::ScratchDir dir;
  const std::size_t before = OpenDescriptors();
  for (const std::string& path : archivetest::NoArchives(dir)) {
    EXPECT_EQ(ArchiveOpen(path.c_str(), nullptr), nullptr) << path;
  }
  EXPECT_EQ(ArchiveOpen(nullptr, nullptr), nullptr);
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
