// Archives whose names try to climb out of the target directory.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive_test_support.h"
#include "support/scratch_dir.h"

namespace {

TEST(HostileArchive, WritesNothingOutsideTheTarget) {
  UPDATER_REQUIRE_ARCHIVES();
  testsupport::ScratchDir scratch;
  const std::string target = scratch.Join("a/b/target");
  std::filesystem::create_directories(scratch.Join("a/b"));
  const ArchivePtr handle = archivetest::Open(archivetest::CraftedArchive("dirup.zip"));
  ASSERT_TRUE(handle);
  const auto results = archivetest::ExtractAll(handle.get(), target);
  EXPECT_EQ(results.at(""), ARCHIVE_FILE_OPEN_FAILED);  // "..", "../"
  EXPECT_EQ(results.at("dir/.."), ARCHIVE_FILE_OPEN_FAILED);
  for (const std::string& path : archivetest::ListTree(scratch.path())) {
    EXPECT_TRUE(path.rfind("a/b/target/", 0) == 0 || path == "a/" || path == "a/b/") << path;
  }
  // Each file lands below the target under its cleaned name ("\\" is a
  // separator, so it makes directories on this system).
  const std::pair<const char*, const char*> landed[] = {
      {"up1.txt", "../up1.txt"},
      {"up2.txt", "..\\up2.txt"},
      {"up3.txt", "a/../../up3.txt"},
      {"up4.txt", "x/..\\../up4.txt"},
      {"drive/d.txt", "C:\\drive\\d.txt"},
      {"abs/abs.txt", "/abs/abs.txt"},
      {"server/share/s.txt", "\\\\server\\share\\s.txt"},
      {"up5.txt", "C:..\\up5.txt"},
      {"fine.txt", "ok/../fine.txt"},
      {"tmp/up6.txt", "../../../../../../tmp/up6.txt"}};
  for (const auto& [path, stored] : landed) {
    EXPECT_EQ(testsupport::ReadFileBytes(target + "/" + path), stored) << path;
  }
}

}  // namespace
