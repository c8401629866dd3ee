// The engine against real peers on loopback (tests/peers/with-peers.sh starts
// them; ctest: http_peers): nginx for files, ranges and redirects, tinyproxy
// as the HTTP proxy, and the SOCKS proxies dante (SOCKS4, SOCKS5), microsocks
// (SOCKS5, with and without login) and ssh -D (SOCKS4, SOCKS4a, SOCKS5). Only
// dotted texts resolve on this side, so a URL naming "localhost" makes the
// proxy resolve it (a SOCKS4a name, a SOCKS5 address of type 3).
#include <gtest/gtest.h>

#include <string>

#include "http/http_downloader.h"
#include "http/partial_file.h"
#include "net/socket_library.h"
#include "platform/files.h"
#include "recording_downloader.h"
#include "support/loopback_peers.h"
#include "support/scratch_dir.h"
#include "support/table_names.h"

namespace {

// The time with-peers.sh gives every served file.
constexpr http::HttpTime kServedTime = 1614834367;  // 2021-03-04 05:06:07 UTC

class PeerTest : public ::testing::Test {
 protected:
  testsupport::TableNames names_{{}};
  net::ScopedSocketCalls scoped_{names_};
};

std::string Served(const testsupport::LoopbackPeers& peers, const std::string& name) {
  return testsupport::ReadFileBytes(peers.docroot + "/files/" + name);
}

int LoggedRequests(const testsupport::LoopbackPeers& peers, const std::string& needle,
                   int expected = 1) {
  return testsupport::CountLogLines(peers.accessLog, needle, expected);
}

TEST_F(PeerTest, DownloadsOnceResumesAndFindsTheFileUpToDate) {
  UPDATER_REQUIRE_PEERS(peers);
  httptest::RecordingDownloader d;
  std::int32_t length = 0;
  http::HttpTime modified = 0;
  ASSERT_EQ(d.QueryInfo(peers.Url("/files/big.bin"), length, modified), 1);
  const std::string source = Served(peers, "big.bin");
  EXPECT_EQ(static_cast<std::size_t>(length), source.size());
  EXPECT_EQ(modified, kServedTime);
  // A failed query leaves the outputs as they were.
  EXPECT_EQ(d.QueryInfo(peers.Url("/status/404?head"), length, modified), 0);
  EXPECT_EQ(static_cast<std::size_t>(length), source.size());
  EXPECT_EQ(modified, kServedTime);

  testsupport::ScratchDir dir;
  const std::string target = dir.Join("big.bin");
  const std::size_t half = source.size() / 2;
  // As a broken transfer leaves it.
  ASSERT_TRUE(testsupport::WriteFileBytes(target + ".down", source.substr(0, half)));
  ASSERT_TRUE(http::RecordPartialFile(target + ".down", static_cast<std::int32_t>(source.size()),
                                      kServedTime));
  ASSERT_EQ(d.Download(peers.Url("/files/big.bin?resume"), target, 0), http::DOWNLOAD_OK);
  EXPECT_TRUE(testsupport::ReadFileBytes(target) == source);
  EXPECT_EQ(platform::FileTimeToUnixTime(platform::GetFileStatus(target)->modificationTime),
            kServedTime);
  EXPECT_FALSE(platform::GetFileStatus(target + ".down").has_value());
  ASSERT_FALSE(d.records.empty());
  EXPECT_EQ(d.records.front().receivedSize, static_cast<std::int32_t>(half));
  EXPECT_EQ(LoggedRequests(peers, "GET /files/big.bin?resume 206 " +
                                      std::to_string(source.size() - half) +
                                      " range=\"bytes=" + std::to_string(half) +
                                      "-\" if_range=\"Thu, 04 Mar 2021 05:06:07 GMT\""),
            1);

  d.records.clear();
  EXPECT_EQ(d.Download(peers.Url("/files/big.bin?again"), target, 0), http::DOWNLOAD_UP_TO_DATE);
  EXPECT_TRUE(d.records.empty());
  EXPECT_EQ(LoggedRequests(peers, "GET /files/big.bin?again 200", 1), 1);

  // A partial file of an older version starts again from 0.
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.Join("o.bin.down"), std::string(5000, 'x')));
  ASSERT_TRUE(http::RecordPartialFile(
      dir.Join("o.bin.down"), static_cast<std::int32_t>(source.size()), kServedTime - 86400));
  ASSERT_EQ(d.Download(peers.Url("/files/big.bin?other"), dir.Join("o.bin"), 0), http::DOWNLOAD_OK);
  EXPECT_TRUE(testsupport::ReadFileBytes(dir.Join("o.bin")) == source);
  EXPECT_EQ(LoggedRequests(peers, "GET /files/big.bin?other 200 ", 1), 1);
}

TEST_F(PeerTest, FollowsEveryFormOfRedirectAndNamesTheLastAsReferer) {
  UPDATER_REQUIRE_PEERS(peers);
  const struct {
    const char* path;
    const char* served;
    const char* referer;  // the address that sent the last redirect
  } cases[] = {
      {"/redirect/absolute", "big.bin", "/redirect/absolute"},
      {"/redirect/rooted", "big.bin", "/redirect/rooted"},
      {"/redirect/deep/er/relative", "big.bin", "/redirect/deep/er/relative"},
      {"/redirect/chain", "big.bin", "/redirect/absolute"},
      {"/redirect/mixed-case", "Mixed/Case.BIN", "/redirect/mixed-case"},
  };
  for (const auto& c : cases) {
    testsupport::ScratchDir dir;
    httptest::RecordingDownloader d;
    ASSERT_EQ(d.Download(peers.Url(c.path), dir.Join("out.bin"), 0), http::DOWNLOAD_OK) << c.path;
    EXPECT_TRUE(testsupport::ReadFileBytes(dir.Join("out.bin")) == Served(peers, c.served))
        << c.path;
    EXPECT_EQ(d.referer, peers.Url(c.referer)) << c.path;
    EXPECT_EQ(d.url, peers.Url(std::string("/files/") + c.served)) << c.path;
  }
}

TEST_F(PeerTest, FailsOnLoopsMissingFilesAndEmptyBodiesAfterCountedRequests) {
  UPDATER_REQUIRE_PEERS(peers);
  const struct {
    const char* path;
    const char* logged;
    int requests;
  } cases[] = {
      {"/redirect/loop", "GET /redirect/loop 302", 1 + http::kMaxRedirects},
      {"/status/404?n", "GET /status/404?n 404", 1},
      {"/files/empty.bin?n", "GET /files/empty.bin?n 200", 1},
      {"/status/503?n", "GET /status/503?n 503", 3},  // maxRetries 1: two retries
  };
  for (const auto& c : cases) {
    testsupport::ScratchDir dir;
    httptest::RecordingDownloader d;
    d.retryMode = http::RETRY_LIMITED;
    d.maxRetries = 1;
    EXPECT_EQ(d.Download(peers.Url(c.path), dir.Join("out.bin"), 0), http::DOWNLOAD_FAILED)
        << c.path;
    EXPECT_EQ(LoggedRequests(peers, c.logged, c.requests), c.requests) << c.path;
  }
}

// Every proxy along every route it offers, each ending byte-identical to the
// served file; a refused login or a missing one fails the download.
TEST_F(PeerTest, ProxiesCarryTheDownloadAndRefuseWrongCredentials) {
  UPDATER_REQUIRE_PEERS(peers);
  const std::string source = Served(peers, "big.bin");
  const std::string user = peers.microsocksUser;
  const std::string pass = peers.microsocksPassword;
  const struct {
    const char* name;
    int kind;
    std::uint16_t port;
    const char* destination;
    std::string user, password;
    bool ok;
  } cases[] = {
      {"tinyproxy", http::PROXY_HTTP, peers.proxyPort, "127.0.0.1", "", "", true},
      {"tinyproxy-login", http::PROXY_HTTP, peers.authProxyPort, "127.0.0.1", peers.proxyUser,
       peers.proxyPassword, true},
      {"tinyproxy-no-login", http::PROXY_HTTP, peers.authProxyPort, "127.0.0.1", "", "", false},
      {"tinyproxy-wrong", http::PROXY_HTTP, peers.authProxyPort, "127.0.0.1", peers.proxyUser, "x",
       false},
      {"dante-socks4", http::PROXY_SOCKS4, peers.dantePort, "127.0.0.1", "", "", true},
      {"dante-socks5", http::PROXY_SOCKS5, peers.dantePort, "127.0.0.1", "", "", true},
      {"dante-socks5-name", http::PROXY_SOCKS5, peers.dantePort, "localhost", "", "", true},
      {"microsocks", http::PROXY_SOCKS5, peers.microsocksPort, "127.0.0.1", "", "", true},
      {"microsocks-name", http::PROXY_SOCKS5, peers.microsocksPort, "localhost", "", "", true},
      {"microsocks-login", http::PROXY_SOCKS5, peers.microsocksAuthPort, "127.0.0.1", user, pass,
       true},
      {"microsocks-no-login", http::PROXY_SOCKS5, peers.microsocksAuthPort, "127.0.0.1", "", "",
       false},
      {"microsocks-wrong", http::PROXY_SOCKS5, peers.microsocksAuthPort, "127.0.0.1", user,
       pass + "x", false},
      {"ssh-socks4", http::PROXY_SOCKS4, peers.sshSocksPort, "127.0.0.1", "", "", true},
      {"ssh-socks4a-name", http::PROXY_SOCKS4A, peers.sshSocksPort, "localhost", "", "", true},
      {"ssh-socks4a-address", http::PROXY_SOCKS4A, peers.sshSocksPort, "127.0.0.1", "", "", true},
      {"ssh-socks5-name", http::PROXY_SOCKS5, peers.sshSocksPort, "localhost", "", "", true},
  };
  for (const auto& c : cases) {
    if (c.port == 0) {
      // with-peers.sh leaves out a proxy whose program is missing.
      if (testsupport::RunningInCi()) ADD_FAILURE() << c.name << " is not running";
      continue;
    }
    testsupport::ScratchDir dir;
    const std::string target = dir.Join("big.bin");
    // Half the file is there already: the rest comes as a range through the proxy.
    ASSERT_TRUE(testsupport::WriteFileBytes(target + ".down", source.substr(0, 100000)));
    ASSERT_TRUE(http::RecordPartialFile(target + ".down", static_cast<std::int32_t>(source.size()),
                                        kServedTime));
    httptest::RecordingDownloader d;
    d.proxyKind = c.kind;
    d.proxyHost = "127.0.0.1";
    d.proxyPort = c.port;
    d.proxyAuth = c.user.empty() ? 0 : 1;
    d.proxyUser = c.user;
    d.proxyPassword = c.password;
    const std::string path = std::string("/files/big.bin?via=") + c.name;
    const std::string url =
        std::string("http://") + c.destination + ":" + std::to_string(peers.httpPort) + path;
    EXPECT_EQ(d.Download(url, target, 0), c.ok ? http::DOWNLOAD_OK : http::DOWNLOAD_FAILED)
        << c.name;
    if (!c.ok) continue;
    EXPECT_TRUE(testsupport::ReadFileBytes(target) == source) << c.name;
    EXPECT_EQ(
        LoggedRequests(peers, "GET " + path + " 206 " + std::to_string(source.size() - 100000)), 1)
        << c.name;
  }
}

}  // namespace
