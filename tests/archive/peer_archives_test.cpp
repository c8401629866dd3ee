// Archives written by real archivers: what the facade describes must agree
// with what `unzip -Z` lists, and what it extracts with the source files.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "archive_test_support.h"
#include "support/scratch_dir.h"

namespace {
namespace fs = std::filesystem;
using archivetest::UnixSeconds;
using testsupport::ReadFileBytes;

struct Peer {
  const char* name;
  const char* tool;
  const char* command;  // run in the source tree; %s is the archive
  const char* password;
};

class PeerArchiveTest : public testing::TestWithParam<Peer> {
 protected:
  static void SetUpTestSuite() {
    source_ = std::make_unique<testsupport::ScratchDir>();
    std::mt19937 random(42);
    std::string noise(100000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    std::string text;
    for (int i = 0; i < 8000; ++i) text += "text line " + std::to_string(i) + "\n";
    fs::create_directories(source_->Join("sub/deep"));
    fs::create_directories(source_->Join("emptydir"));
    const std::pair<const char*, std::string> files[] = {
        {"top.txt", "top\n"},   {"ro.txt", "read only\n"},
        {"empty.txt", ""},      {"sub/noise.bin", noise},
        {"sub/text.txt", text}, {"sub/deep/n.txt", text.substr(0, 999)}};
    std::int64_t stamp = 1615000001;  // odd seconds: DOS times cannot hold them
    for (const auto& [name, bytes] : files) {
      testsupport::WriteFileBytes(source_->Join(name), bytes);
      const platform::FileTime modification = platform::UnixTimeToFileTime(stamp += 86401);
      const platform::FileTime access = platform::UnixTimeToFileTime(stamp + 3);
      platform::SetFileTimes(source_->Join(name), nullptr, &access, &modification);
    }
    platform::SetReadOnly(source_->Join("ro.txt"), true);
  }
  static void TearDownTestSuite() { source_.reset(); }

  // The peer's archive of the source tree, in `work`.
  static std::string Make(const Peer& peer, const testsupport::ScratchDir& work) {
    const std::string archive = work.Join("peer.zip");
    char command[1024];
    std::snprintf(command, sizeof command, peer.command, archive.c_str());
    const int status =
        archivetest::Run("cd '" + source_->path() + "' && " + command + " >/dev/null");
    return status == 0 ? archive : std::string();
  }

  static std::unique_ptr<testsupport::ScratchDir> source_;
};
std::unique_ptr<testsupport::ScratchDir> PeerArchiveTest::source_;

TEST_P(PeerArchiveTest, DescribesAsUnzipListsAndExtractsTheSourceTree) {
  const Peer& peer = GetParam();
  if (!archivetest::HaveTool(peer.tool)) GTEST_SKIP() << peer.tool << " is not installed";
  testsupport::ScratchDir work;
  const std::string archive = Make(peer, work);
  ASSERT_FALSE(archive.empty());

  const auto listed = archivetest::ListWithUnzip(archive);
  const ArchivePtr handle = archivetest::Open(archive, peer.password);
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
    EXPECT_EQ(status->attributes & (platform::kAttrDirectory | platform::kAttrReadOnly),
              item.attributes & (platform::kAttrDirectory | platform::kAttrReadOnly));
    if ((item.attributes & platform::kAttrDirectory) != 0) continue;
    EXPECT_EQ(status->modificationTime, item.modificationTime);
    EXPECT_EQ(status->accessTime, item.accessTime);
    const auto original = platform::GetFileStatus(source_->Join(item.name));
    ASSERT_TRUE(original);
    EXPECT_NEAR(static_cast<double>(UnixSeconds(item.modificationTime)),
                static_cast<double>(UnixSeconds(original->modificationTime)), 2.0);
    EXPECT_EQ(ReadFileBytes(path), ReadFileBytes(source_->Join(item.name)));
  }
  // Every source file arrived; nothing else was written.
  std::set<std::string> expected = archivetest::ListTree(source_->path());
  std::set<std::string> written = archivetest::ListTree(target);
  written.erase("./");
  for (const std::string& path : written) {
    if (path.back() == '/') expected.insert(path);  // -D writes no directory entries
  }
  if (std::string(peer.command).find("-D") != std::string::npos) expected.erase("emptydir/");
  EXPECT_EQ(written, expected);
}

class EncryptedPeerTest : public PeerArchiveTest {};

TEST_P(EncryptedPeerTest, RefusesItemsWithoutTheirPassword) {
  const Peer& peer = GetParam();
  if (!archivetest::HaveTool(peer.tool)) GTEST_SKIP() << peer.tool << " is not installed";
  testsupport::ScratchDir work;
  const std::string archive = Make(peer, work);
  ASSERT_FALSE(archive.empty());
  for (const char* password : {static_cast<const char*>(nullptr), "wrong"}) {
    const ArchivePtr handle = archivetest::Open(archive, password);
    ASSERT_TRUE(handle);
    int refused = 0, files = 0;
    for (const auto& [name, result] : archivetest::ExtractAll(handle.get(), work.Join("t"))) {
      if (name.back() == '/') continue;
      ++files;
      // One header in 256 passes the check byte by chance; its data then
      // fails to inflate or its CRC-32.
      EXPECT_TRUE(result == ARCHIVE_BAD_PASSWORD || result == ARCHIVE_DATA_ERROR) << name;
      refused += result == ARCHIVE_BAD_PASSWORD;
    }
    EXPECT_GE(refused, files - 1);
    for (const std::string& path : archivetest::ListTree(work.Join("t"))) {
      EXPECT_EQ(path.back(), '/') << path << " written without its password";
    }
  }
}

const Peer kInfoZipEncrypted{"InfoZipEncrypted", "zip", "zip -q -r -P 'pass word' %s .",
                             "pass word"};
const Peer kSevenZipEncrypted{"SevenZipEncrypted", "7z",
                              "7z a -tzip -bd -mem=ZipCrypto -pSecret7 %s .", "Secret7"};
std::string PeerName(const testing::TestParamInfo<Peer>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Tools, PeerArchiveTest,
    testing::Values(Peer{"InfoZip", "zip", "zip -q -r %s .", nullptr},
                    Peer{"InfoZipNoDirectories", "zip", "zip -q -r -D %s .", nullptr},
                    kInfoZipEncrypted, Peer{"SevenZip", "7z", "7z a -tzip -bd %s .", nullptr},
                    kSevenZipEncrypted,
                    Peer{"Bsdtar", "bsdtar", "bsdtar --format zip -cf %s .", nullptr},
                    Peer{"PythonZipfile", "python3",
                         "python3 -c \"import os,sys,zipfile\n"
                         "z=zipfile.ZipFile(sys.argv[1],'w')\n"
                         "for d,ds,fs in sorted(os.walk('.')):\n"
                         " [z.write(os.path.join(d,n),compress_type=8 if n.endswith('.txt') else 0)"
                         " for n in sorted(ds+fs)]\n"
                         "z.close()\" %s",
                         nullptr}),
    PeerName);
INSTANTIATE_TEST_SUITE_P(Tools, EncryptedPeerTest,
                         testing::Values(kInfoZipEncrypted, kSevenZipEncrypted), PeerName);

}  // namespace
