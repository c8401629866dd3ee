// The engine against real peers on loopback: nginx for static files, ranges
// and redirects, tinyproxy as the HTTP proxy with and without Basic
// authentication. tests/peers/with-peers.sh starts them (ctest: http_peers).
#include <gtest/gtest.h>

#include <string>

#include "http/http_downloader.h"
#include "http/partial_file.h"
#include "platform/files.h"
#include "recording_downloader.h"
#include "support/loopback_peers.h"
#include "support/scratch_dir.h"
#include "support/sha256.h"

namespace {

// The time with-peers.sh gives every served file.
constexpr http::HttpTime kServedTime = 1614834367;  // 2021-03-04 05:06:07 UTC

std::string Served(const testsupport::LoopbackPeers& peers, const std::string& name) {
  return peers.docroot + "/files/" + name;
}

std::int64_t SizeOf(const std::string& path) {
  const auto status = platform::GetFileStatus(path);
  return status ? status->size : -1;
}

TEST(PeerNginx, QueryInfoReportsLengthAndLastModified) {
  UPDATER_REQUIRE_PEERS(peers);
  httptest::RecordingDownloader d;
  std::int32_t length = 0;
  http::HttpTime modified = 0;
  ASSERT_EQ(d.QueryInfo(peers.Url("/files/big.bin"), length, modified), 1);
  EXPECT_EQ(length, SizeOf(Served(peers, "big.bin")));
  EXPECT_EQ(modified, kServedTime);
}

TEST(PeerNginx, DownloadsOnceThenFindsTheFileUpToDate) {
  UPDATER_REQUIRE_PEERS(peers);
  testsupport::ScratchDir dir;
  const std::string target = dir.Join("update.zip");
  httptest::RecordingDownloader d;
  ASSERT_EQ(d.Download(peers.Url("/files/update.zip"), target, 0), http::DOWNLOAD_OK);
  EXPECT_EQ(testsupport::Sha256OfFile(target),
            testsupport::Sha256OfFile(Served(peers, "update.zip")));
  EXPECT_EQ(platform::FileTimeToUnixTime(platform::GetFileStatus(target)->modificationTime),
            kServedTime);
  EXPECT_FALSE(platform::GetFileStatus(target + ".down").has_value());

  d.records.clear();
  EXPECT_EQ(d.Download(peers.Url("/files/update.zip"), target, 0), http::DOWNLOAD_UP_TO_DATE);
  EXPECT_TRUE(d.records.empty());  // nothing was transferred
  EXPECT_FALSE(platform::GetFileStatus(target + ".down").has_value());
}

TEST(PeerNginx, ResumesAPartialFileWithRangeAndEndsByteIdentical) {
  UPDATER_REQUIRE_PEERS(peers);
  testsupport::ScratchDir dir;
  const std::string target = dir.Join("big.bin");
  const std::string source = testsupport::ReadFileBytes(Served(peers, "big.bin"));
  const std::size_t half = source.size() / 2;
  ASSERT_TRUE(testsupport::WriteFileBytes(target + ".down", source.substr(0, half)));
  // As a broken transfer leaves it.
  ASSERT_TRUE(http::RecordPartialFile(target + ".down", static_cast<std::int32_t>(source.size()),
                                      kServedTime));

  httptest::RecordingDownloader d;
  ASSERT_EQ(d.Download(peers.Url("/files/big.bin?resume"), target, 0), http::DOWNLOAD_OK);
  EXPECT_EQ(testsupport::Sha256OfFile(target), testsupport::Sha256Hex(source));
  ASSERT_FALSE(d.records.empty());
  EXPECT_EQ(d.records.front().receivedSize, static_cast<std::int32_t>(half));
  EXPECT_TRUE(testsupport::AwaitLogLine(peers.accessLog,
                                        "GET /files/big.bin?resume 206 " +
                                            std::to_string(source.size() - half) +
                                            " range=\"bytes=" + std::to_string(half) + "-\"",
                                        5000));
}

TEST(PeerNginx, RestartsAPartialFileOfAnotherVersion) {
  UPDATER_REQUIRE_PEERS(peers);
  testsupport::ScratchDir dir;
  const std::string target = dir.Join("big.bin");
  ASSERT_TRUE(testsupport::WriteFileBytes(target + ".down", std::string(5000, 'x')));
  // Begun from an older file of the same size.
  ASSERT_TRUE(http::RecordPartialFile(target + ".down",
                                      static_cast<std::int32_t>(SizeOf(Served(peers, "big.bin"))),
                                      kServedTime - 86400));

  httptest::RecordingDownloader d;
  ASSERT_EQ(d.Download(peers.Url("/files/big.bin?other"), target, 0), http::DOWNLOAD_OK);
  EXPECT_EQ(testsupport::Sha256OfFile(target), testsupport::Sha256OfFile(Served(peers, "big.bin")));
  EXPECT_EQ(d.records.front().receivedSize, 0);
  EXPECT_TRUE(testsupport::AwaitLogLine(peers.accessLog, "GET /files/big.bin?other 200 ", 5000));
}

TEST(PeerNginx, FollowsEveryFormOfRedirect) {
  UPDATER_REQUIRE_PEERS(peers);
  struct Case {
    const char* path;
    const char* served;
  };
  const Case cases[] = {
      {"/redirect/absolute", "big.bin"},          {"/redirect/rooted", "big.bin"},
      {"/redirect/deep/er/relative", "big.bin"},  {"/redirect/chain", "big.bin"},
      {"/redirect/mixed-case", "Mixed/Case.BIN"},
  };
  for (const auto& c : cases) {
    testsupport::ScratchDir dir;
    const std::string target = dir.Join("out.bin");
    httptest::RecordingDownloader d;
    ASSERT_EQ(d.Download(peers.Url(c.path), target, 0), http::DOWNLOAD_OK) << c.path;
    EXPECT_EQ(testsupport::Sha256OfFile(target), testsupport::Sha256OfFile(Served(peers, c.served)))
        << c.path;
    EXPECT_NE(d.referer.find("/redirect/"), std::string::npos) << c.path;
  }
}

TEST(PeerNginx, FailsOnLoopsMissingFilesAndEmptyBodies) {
  UPDATER_REQUIRE_PEERS(peers);
  const char* const paths[] = {"/redirect/loop", "/status/404", "/files/empty.bin", "/status/503"};
  for (const char* path : paths) {
    testsupport::ScratchDir dir;
    httptest::RecordingDownloader d;
    d.retryMode = http::RETRY_LIMITED;
    d.maxRetries = 1;
    EXPECT_EQ(d.Download(peers.Url(path), dir.Join("out.bin"), 0), http::DOWNLOAD_FAILED) << path;
  }
}

TEST(PeerTinyproxy, DownloadsAndResumesThroughTheProxy) {
  UPDATER_REQUIRE_PEERS(peers);
  testsupport::ScratchDir dir;
  const std::string target = dir.Join("big.bin");
  const std::string source = testsupport::ReadFileBytes(Served(peers, "big.bin"));
  ASSERT_TRUE(testsupport::WriteFileBytes(target + ".down", source.substr(0, 100000)));
  ASSERT_TRUE(http::RecordPartialFile(target + ".down", static_cast<std::int32_t>(source.size()),
                                      kServedTime));
  httptest::RecordingDownloader d;
  d.proxyKind = http::PROXY_HTTP;
  d.proxyHost = "127.0.0.1";
  d.proxyPort = peers.proxyPort;
  ASSERT_EQ(d.Download(peers.Url("/files/big.bin?proxied"), target, 0), http::DOWNLOAD_OK);
  EXPECT_EQ(testsupport::Sha256OfFile(target), testsupport::Sha256Hex(source));
  EXPECT_TRUE(testsupport::AwaitLogLine(
      peers.accessLog, "GET /files/big.bin?proxied 206 " + std::to_string(source.size() - 100000),
      5000));
}

TEST(PeerTinyproxy, PassesOnlyWithTheRightProxyCredentials) {
  UPDATER_REQUIRE_PEERS(peers);
  struct Case {
    const char* name;
    bool auth;
    std::string user;
    std::string password;
    http::DownloadResult result;
  };
  const Case cases[] = {
      {"no credentials (407)", false, "", "", http::DOWNLOAD_FAILED},
      {"wrong password (401)", true, peers.proxyUser, "wrong", http::DOWNLOAD_FAILED},
      {"right credentials", true, peers.proxyUser, peers.proxyPassword, http::DOWNLOAD_OK},
  };
  for (const auto& c : cases) {
    testsupport::ScratchDir dir;
    const std::string target = dir.Join("small.txt");
    httptest::RecordingDownloader d;
    d.proxyKind = http::PROXY_HTTP;
    d.proxyHost = "127.0.0.1";
    d.proxyPort = peers.authProxyPort;
    d.proxyAuth = c.auth ? 1 : 0;
    d.proxyUser = c.user;
    d.proxyPassword = c.password;
    EXPECT_EQ(d.Download(peers.Url("/files/small.txt"), target, 0), c.result) << c.name;
    if (c.result == http::DOWNLOAD_OK) {
      EXPECT_EQ(testsupport::ReadFileBytes(target), "hello from nginx\n");
    }
  }
}

}  // namespace
