// Opening archives and describing their items: what only POSIX shows (the
// process's descriptors in /proc) or allows (changing an archive that is
// open; Windows shares an open archive for reading only).
#include <gtest/gtest.h>

#include <cstring>
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
  testsupport::WriteFileBytes(dir.Join("text.zip"), std::string(3000, 'x'));
  const std::size_t before = OpenDescriptors();
  EXPECT_EQ(ArchiveOpen(dir.Join("missing.zip").c_str(), nullptr), nullptr);
  EXPECT_EQ(ArchiveOpen(dir.Join("text.zip").c_str(), nullptr), nullptr);
  EXPECT_EQ(ArchiveOpen(dir.path().c_str(), nullptr), nullptr);
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

TEST(ArchiveGetItem, ServesTheLastDescriptionWithoutReadingTheArchive) {
  UPDATER_REQUIRE_ARCHIVES();
  testsupport::ScratchDir dir;
  const std::string copy = dir.Join("sizes.zip");
  fs::copy_file(CraftedArchive("sizes.zip"), copy);
  const ArchivePtr handle = Open(copy);
  ASSERT_TRUE(handle);
  ArchiveItem first, again, summary;
  ASSERT_EQ(ArchiveGetItem(handle.get(), 2, &first), ARCHIVE_OK);
  ASSERT_STREQ(first.name, "big_stored.bin");
  // Rename item 2 in the central directory of the open file, 70 KB past the
  // item's local header (the last place read): a fresh description would
  // read the new name.
  const std::string bytes = testsupport::ReadFileBytes(copy);
  const std::size_t central = bytes.find("big_stored.bin", bytes.find("big_stored.bin") + 1);
  ASSERT_NE(central, std::string::npos);
  std::fstream(copy, std::ios::in | std::ios::out | std::ios::binary).seekp(central).write("B", 1);

  ASSERT_EQ(ArchiveGetItem(handle.get(), 2, &again), ARCHIVE_OK);
  EXPECT_EQ(std::memcmp(&first, &again, sizeof first), 0);
  ASSERT_EQ(ArchiveGetItem(handle.get(), -1, &summary), ARCHIVE_OK);
  ASSERT_EQ(ArchiveGetItem(handle.get(), 2, &again), ARCHIVE_OK);  // the summary keeps the cache
  EXPECT_STREQ(again.name, "big_stored.bin");
  // Describing another item replaces the cache; item 2 is then read again.
  ASSERT_EQ(ArchiveGetItem(handle.get(), 3, &again), ARCHIVE_OK);
  ASSERT_EQ(ArchiveGetItem(handle.get(), 2, &again), ARCHIVE_OK);
  EXPECT_STREQ(again.name, "Big_stored.bin");
}

}  // namespace
