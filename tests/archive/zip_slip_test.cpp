// Zip-slip: archives whose item names try every way the cleaning rules know
// to climb out of the target directory (make_archives.py writes them: 3,000
// combinations of prefixes, climbs and endings as files and as directories,
// names near the 260-byte limit, and dirup.zip with one content per name).
// Each is extracted the way the install does it into a target two levels
// below a scratch directory, where a climb would land; nothing may appear
// outside the target.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive_test_support.h"
#include "support/scratch_dir.h"

namespace {

TEST(ZipSlip, NothingIsWrittenOutsideTheTarget) {
  UPDATER_REQUIRE_ARCHIVES();
  for (const char* archive : {"slip-files.zip", "slip-dirs.zip", "dirup.zip"}) {
    testsupport::ScratchDir scratch;
    std::filesystem::create_directories(scratch.Join("a/b"));
    const std::string target = scratch.Join("a/b/target");
    const ArchivePtr handle = archivetest::Open(archivetest::CraftedArchive(archive));
    ASSERT_TRUE(handle) << archive;
    const auto results = archivetest::ExtractAll(handle.get(), target);
    int written = 0;
    for (const auto& [name, result] : results) written += result == ARCHIVE_OK;
    EXPECT_GT(written, 5) << archive;
    for (const std::string& path : archivetest::ListTree(scratch.path())) {
      EXPECT_TRUE(path.rfind("a/b/target/", 0) == 0 || path == "a/" || path == "a/b/")
          << archive << ": " << path;
    }
    if (std::string(archive) != "dirup.zip") continue;
    EXPECT_EQ(results.at(""), ARCHIVE_FILE_OPEN_FAILED);  // "..", "../"
    EXPECT_EQ(results.at("dir/.."), ARCHIVE_FILE_OPEN_FAILED);
    // Each file lands below the target under its cleaned name ("\\" is a
    // separator, so it makes directories on this system too).
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
}

}  // namespace
