// Archives written by real archivers: what the facade describes must agree
// with what `unzip -Z` lists, and what it extracts with the source files;
// an encrypted one yields no file without its password.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "archive_test_support.h"
#include "support/scratch_dir.h"

namespace {
using archivetest::ListTree;
using testsupport::ReadFileBytes;

struct Peer {
  const char* name;      // of its archive in the prepared directory
  const char* password;  // the one the archive was written with
};

std::map<std::string, ArchiveItem> DescribeAll(ArchiveHandle* handle) {
  ArchiveItem item;
  ArchiveGetItem(handle, -1, &item);
  std::map<std::string, ArchiveItem> items;
  for (std::int32_t i = 0, count = item.index; i < count; ++i) {
    ArchiveGetItem(handle, i, &item);
    items[item.name] = item;
  }
  return items;
}

// Extracts every item under its name; the result of each by name.
std::map<std::string, ArchiveResult> ExtractAll(ArchiveHandle* handle, const std::string& target) {
  std::map<std::string, ArchiveResult> results;
  ArchiveSetTargetDir(handle, target.c_str());
  for (const auto& [name, item] : DescribeAll(handle)) {
    results[name] = ArchiveExtractItem(handle, item.index, item.name);
  }
  return results;
}

// The archives of the source tree (prepare_archives.py names the command that
// wrote each); the tests run where they are readable, the archivers need not.
class PeerArchiveTest : public testing::TestWithParam<Peer> {};

TEST_P(PeerArchiveTest, DescribesAsUnzipListsAndExtractsTheSourceTreeWithItsPasswordOnly) {
  UPDATER_REQUIRE_ARCHIVES();
  const Peer& peer = GetParam();
  const std::string peers = archivetest::PreparedDir() + "/peers/", archive = peers + peer.name;
  if (std::filesystem::exists(archive + ".missing")) {
    GTEST_SKIP() << "the archiver of " << peer.name << " is not installed";
  }
  const ArchivePtr handle = archivetest::Open(archive + ".zip", peer.password);
  ASSERT_TRUE(handle) << archive << ".zip does not open (did its archiver fail?)";
  auto items = DescribeAll(handle.get());
  // Each line of the listing: mode size compressed-size UTC-seconds name.
  std::ifstream listing(archive + ".list");
  std::string mode, name;
  std::uint32_t size = 0, packed = 0;
  std::int64_t seconds = 0;
  std::size_t listed = 0;
  for (; listing >> mode >> size >> packed >> seconds >> name; ++listed) {
    ASSERT_EQ(items.count(name), 1u) << name;
    const ArchiveItem& item = items[name];
    EXPECT_EQ(std::make_tuple(item.uncompressedSize, item.compressedSize,
                              platform::FileTimeToUnixTime(item.modificationTime),
                              (item.attributes & platform::kAttrDirectory) != 0,
                              (item.attributes & platform::kAttrReadOnly) != 0),
              std::make_tuple(size, packed, seconds, mode[0] == 'd', mode[2] != 'w'))
        << name;
  }
  EXPECT_EQ(listed, items.size());

  testsupport::ScratchDir work;
  const std::string target = work.Join("target");
  ASSERT_EQ(ArchiveSetTargetDir(handle.get(), target.c_str()), ARCHIVE_OK);
  constexpr std::uint32_t kKept = platform::kAttrDirectory | platform::kAttrReadOnly |
                                  platform::kAttrHidden | platform::kAttrSystem;
  for (const auto& [path, item] : items) {
    EXPECT_EQ(ArchiveExtractItem(handle.get(), item.index, item.name), ARCHIVE_OK) << path;
    const auto status = platform::GetFileStatus(target + "/" + path);
    ASSERT_TRUE(status) << path;
    EXPECT_EQ(status->attributes & kKept, item.attributes & kKept) << path;
    if ((item.attributes & platform::kAttrDirectory) != 0) continue;
    EXPECT_EQ(std::make_pair(status->modificationTime, status->accessTime),
              std::make_pair(item.modificationTime, item.accessTime))
        << path;
    EXPECT_EQ(ReadFileBytes(target + "/" + path), ReadFileBytes(peers + "source/" + path));
  }
  // Every source file arrived; nothing else was written.
  std::set<std::string> written = ListTree(target);
  written.erase("./");
  EXPECT_EQ(written, ListTree(peers + "source"));

  // Without its password, or with a wrong one, no file is written. An empty
  // item is the exception: one header in 256 passes the check byte by chance,
  // and with no data to fail its CRC-32 it cannot be told from the right one.
  if (peer.password == nullptr) return;
  for (const char* password : {static_cast<const char*>(nullptr), "wrong"}) {
    const ArchivePtr locked = archivetest::Open(archive + ".zip", password);
    ASSERT_TRUE(locked);
    int refused = 0, files = 0;
    for (const auto& [path, result] : ExtractAll(locked.get(), work.Join("t"))) {
      if (path.back() == '/' || items.at(path).uncompressedSize == 0) continue;
      ++files;
      // A file whose header passes by chance fails to inflate or its CRC-32.
      EXPECT_TRUE(result == ARCHIVE_BAD_PASSWORD || result == ARCHIVE_DATA_ERROR) << path;
      refused += result == ARCHIVE_BAD_PASSWORD;
    }
    EXPECT_GE(refused, files - 1) << (password != nullptr ? password : "no password");
  }
  for (const std::string& path : ListTree(work.Join("t"))) {
    EXPECT_TRUE(path.back() == '/' || items.at(path).uncompressedSize == 0)
        << path << " written without its password";
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, PeerArchiveTest,
                         testing::Values(Peer{"InfoZip", nullptr},
                                         Peer{"InfoZipEncrypted", "pass word"},
                                         Peer{"SevenZip", nullptr},
                                         Peer{"SevenZipEncrypted", "Secret7"},
                                         Peer{"Bsdtar", nullptr}),
                         [](const auto& tool) { return std::string(tool.param.name); });

}  // namespace
