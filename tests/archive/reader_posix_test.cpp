// Opening archives: what only POSIX shows, the process's descriptors in /proc.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "archive_test_support.h"
#include "support/scratch_dir.h"

namespace {
namespace fs = std::filesystem;
using archivetest::CraftedArchive;
using archivetest::Open;

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

TEST(ArchiveOpen, KeepsTheArchiveOpenWithoutPassingItToChildren) {
  UPDATER_REQUIRE_ARCHIVES();
  const std::size_t before = OpenDescriptors();
  ArchivePtr handle = Open(CraftedArchive("cursor.zip"));
  ASSERT_TRUE(handle);
  ASSERT_EQ(OpenDescriptors(), before + 1);
  std::string flags = "0";
  for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
    if (fs::read_symlink(fd.path()) != fs::path(CraftedArchive("cursor.zip"))) continue;
    std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
    for (std::string key; info >> key >> flags && key != "flags:";) {
    }
  }
  EXPECT_NE(std::stoul(flags, nullptr, 8) & 02000000, 0u) << "O_CLOEXEC";
  handle.reset();
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
