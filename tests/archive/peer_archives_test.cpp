// Archives written by real archivers: what the facade describes must agree
// with what `unzip -Z` lists, and what it extracts with the source files;
// an encrypted one yields no file without its password.
#include <gtest/gtest.h>

#include "archive_test_support.h"
#include "support/scratch_dir.h"

namespace {
using archivetest::UnixSeconds;
using testsupport::ReadFileBytes;

struct Peer {
  const char* name;      // of its archive in the prepared directory
  const char* password;  // the one the archive was written with
};

// The archives of the source tree (prepare_archives.py names the command that
// wrote each); the tests run where they are readable, the archivers need not.
class PeerArchiveTest : public testing::TestWithParam<Peer> {
 protected:
  void SetUp() override {
    UPDATER_REQUIRE_ARCHIVES();
    if (archivetest::PeerToolMissing(GetParam().name)) {
      GTEST_SKIP() << "the archiver of " << GetParam().name << " is not installed";
    }
    archive_ = archivetest::PeerArchive(GetParam().name);
    ASSERT_FALSE(archive_.empty()) << "the archiver of " << GetParam().name << " failed";
  }

  std::string archive_;
};

TEST_P(PeerArchiveTest, DescribesAsUnzipListsAndExtractsTheSourceTreeWithItsPasswordOnly) {
  const Peer& peer = GetParam();
  testsupport::ScratchDir work;
  const auto listed = archivetest::PeerListing(peer.name);
  const ArchivePtr handle = archivetest::Open(archive_, peer.password);
  ASSERT_TRUE(handle);
  const auto items = archivetest::DescribeAll(handle.get());
  ASSERT_EQ(items.size(), listed.size());
  for (const ArchiveItem& item : items) {
    SCOPED_TRACE(item.name);
    ASSERT_EQ(listed.count(item.name), 1u);
    const archivetest::ListedEntry& entry = listed.at(item.name);
    EXPECT_EQ(item.uncompressedSize, entry.size);
    EXPECT_EQ(item.compressedSize, entry.compressedSize);
    EXPECT_EQ(UnixSeconds(item.modificationTime), entry.unixTime);
    EXPECT_EQ((item.attributes & platform::kAttrDirectory) != 0, entry.mode[0] == 'd');
    EXPECT_EQ((item.attributes & platform::kAttrReadOnly) != 0, entry.mode[2] != 'w');
  }

  const std::string target = work.Join("target");
  for (const auto& [name, result] : archivetest::ExtractAll(handle.get(), target)) {
    EXPECT_EQ(result, ARCHIVE_OK) << name;
  }
  for (const ArchiveItem& item : items) {
    SCOPED_TRACE(item.name);
    const std::string path = target + "/" + item.name;
    const auto status = platform::GetFileStatus(path);
    ASSERT_TRUE(status);
    constexpr std::uint32_t kKept = platform::kAttrDirectory | platform::kAttrReadOnly |
                                    platform::kAttrHidden | platform::kAttrSystem;
    EXPECT_EQ(status->attributes & kKept, item.attributes & kKept);
    if ((item.attributes & platform::kAttrDirectory) != 0) continue;
    EXPECT_EQ(status->modificationTime, item.modificationTime);
    EXPECT_EQ(status->accessTime, item.accessTime);
    EXPECT_EQ(ReadFileBytes(path), ReadFileBytes(archivetest::PeerSourceDir() + "/" + item.name));
  }
  // Every source file arrived; nothing else was written.
  std::set<std::string> written = archivetest::ListTree(target);
  written.erase("./");
  EXPECT_EQ(written, archivetest::ListTree(archivetest::PeerSourceDir()));

  // Without its password, or with a wrong one, no file is written. An empty
  // item is the exception: one header in 256 passes the check byte by chance,
  // and with no data to fail its CRC-32 it cannot be told from the right one.
  if (peer.password == nullptr) return;
  std::set<std::string> empty;
  for (const ArchiveItem& item : items) {
    if (item.uncompressedSize == 0) empty.insert(item.name);
  }
  for (const char* password : {static_cast<const char*>(nullptr), "wrong"}) {
    SCOPED_TRACE(password != nullptr ? password : "no password");
    const ArchivePtr locked = archivetest::Open(archive_, password);
    ASSERT_TRUE(locked);
    int refused = 0, files = 0;
    for (const auto& [name, result] : archivetest::ExtractAll(locked.get(), work.Join("t"))) {
      if (name.back() == '/' || empty.count(name) != 0) continue;
      ++files;
      // One header in 256 passes the check byte by chance; its data then
      // fails to inflate or its CRC-32.
      EXPECT_TRUE(result == ARCHIVE_BAD_PASSWORD || result == ARCHIVE_DATA_ERROR) << name;
      refused += result == ARCHIVE_BAD_PASSWORD;
    }
    EXPECT_GE(refused, files - 1);
  }
  for (const std::string& path : archivetest::ListTree(work.Join("t"))) {
    EXPECT_TRUE(path.back() == '/' || empty.count(path) != 0)
        << path << " written without its password";
  }
}

std::string PeerName(const testing::TestParamInfo<Peer>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Tools, PeerArchiveTest,
                         testing::Values(Peer{"InfoZip", nullptr},
                                         Peer{"InfoZipEncrypted", "pass word"},
                                         Peer{"SevenZip", nullptr},
                                         Peer{"SevenZipEncrypted", "Secret7"},
                                         Peer{"Bsdtar", nullptr}),
                         PeerName);

}  // namespace
