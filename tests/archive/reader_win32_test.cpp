// Opening archives on Windows: the archive stays open, shared for reading,
// until it is closed, and a failed open leaves nothing open.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive_test_support.h"
#include "platform/win32/windows_api.h"
#include "support/scratch_dir.h"

namespace {

// Whether another opener gets the file with this access and sharing.
bool CanOpen(const std::string& path, DWORD access, DWORD share) {
  const HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool CanOpenAlone(const std::string& path) {
  return CanOpen(path, GENERIC_READ | GENERIC_WRITE, 0);
}

TEST(ArchiveOpenWin32, HoldsTheArchiveOpenUntilClosed) {
  UPDATER_REQUIRE_ARCHIVES();
  testsupport::ScratchDir dir;
  const std::string copy = dir.path() + "\\cursor.zip";
  std::filesystem::copy_file(archivetest::CraftedArchive("cursor.zip"), copy);
  ASSERT_TRUE(CanOpenAlone(copy));
  ArchivePtr handle = archivetest::Open(copy);
  ASSERT_TRUE(handle);
  EXPECT_TRUE(CanOpen(copy, GENERIC_READ, FILE_SHARE_READ));  // others may read
  EXPECT_FALSE(CanOpenAlone(copy));
  EXPECT_EQ(DeleteFileA(copy.c_str()), FALSE);
  handle.reset();
  EXPECT_TRUE(CanOpenAlone(copy));
}

// The archive is shared for reading only while it is open.
TEST(ArchiveOpenWin32, AdmitsNoWriterWhileOpen) {
  UPDATER_REQUIRE_ARCHIVES();
  testsupport::ScratchDir dir;
  const std::string copy = dir.path() + "\\cursor.zip";
  std::filesystem::copy_file(archivetest::CraftedArchive("cursor.zip"), copy);
  const ArchivePtr handle = archivetest::Open(copy);
  ASSERT_TRUE(handle);
  EXPECT_FALSE(CanOpen(copy, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
}

TEST(ArchiveOpenWin32, FailsForWhatIsNoArchiveAndLeavesNothingOpen) {
  testsupport::ScratchDir dir;
  const std::string text = dir.path() + "\\text.zip";
  const std::string truncated = dir.path() + "\\truncated.zip";
  testsupport::WriteFileBytes(text, std::string(3000, 'x'));
  testsupport::WriteFileBytes(truncated, std::string("PK\x05\x06", 4));
  EXPECT_EQ(ArchiveOpen((dir.path() + "\\missing.zip").c_str(), nullptr), nullptr);
  EXPECT_EQ(ArchiveOpen(dir.path().c_str(), nullptr), nullptr);
  EXPECT_EQ(ArchiveOpen(nullptr, nullptr), nullptr);
  for (const std::string& path : {text, truncated}) {
    EXPECT_EQ(ArchiveOpen(path.c_str(), nullptr), nullptr) << path;
    EXPECT_TRUE(CanOpenAlone(path)) << path;
    EXPECT_NE(DeleteFileA(path.c_str()), FALSE) << path;
  }
}

}  // namespace
