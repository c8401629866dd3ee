// Opening archives on Windows: the archive stays open, shared for reading
// only, until it is closed, and a failed open leaves nothing open.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive_test_support.h"
#include "platform/win32/windows_api.h"
#include "support/scratch_dir.h"

namespace {

// Whether another opener gets the file with this access and sharing.
bool CanOpen(const std::string& path, DWORD access = GENERIC_READ | GENERIC_WRITE,
             DWORD share = 0) {
  const HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

TEST(ArchiveOpenWin32, HoldsTheArchiveOpenForReadersOnlyUntilClosed) {
  UPDATER_REQUIRE_ARCHIVES();
  testsupport::ScratchDir dir;
  const std::string copy = dir.path() + "\\cursor.zip";
  std::filesystem::copy_file(archivetest::CraftedArchive("cursor.zip"), copy);
  ArchivePtr handle = archivetest::Open(copy);
  ASSERT_TRUE(handle);
  EXPECT_TRUE(CanOpen(copy, GENERIC_READ, FILE_SHARE_READ));
  EXPECT_FALSE(CanOpen(copy, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_FALSE(CanOpen(copy));
  EXPECT_EQ(DeleteFileA(copy.c_str()), FALSE);
  handle.reset();
  EXPECT_TRUE(CanOpen(copy));
}

TEST(ArchiveOpenWin32, FailsForWhatIsNoArchiveAndLeavesNothingOpen) {
  testsupport::ScratchDir dir;
  for (const std::string& path : archivetest::NoArchives(dir)) {
    EXPECT_EQ(ArchiveOpen(path.c_str(), nullptr), nullptr) << path;
  }
  EXPECT_EQ(ArchiveOpen(nullptr, nullptr), nullptr);
  // Nothing holds the files that were opened.
  for (const char* name : {"text.zip", "truncated.zip"}) {
    EXPECT_NE(DeleteFileA(dir.Join(name).c_str()), FALSE) << name;
  }
}

}  // namespace
