// The engine against real peers on loopback (tests/peers/with-peers.sh starts
// them; ctest: http_peers): nginx for files, ranges and redirects, over http
// and https, tinyproxy as the HTTP proxy, and the SOCKS proxies microsocks
// (SOCKS5, with and without login), dante (SOCKS4, SOCKS5) and ssh -D (SOCKS4,
// SOCKS4a, SOCKS5).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "http/http_downloader.h"
#include "http/partial_file.h"
#include "net/host_connection.h"
#include "net/socket_library.h"
#include "platform/files.h"
#include "recording_downloader.h"
#include "support/loopback_peers.h"
#include "support/loopback_tcp.h"
#include "support/scratch_dir.h"
#include "support/table_names.h"
#include "support/table_rows.h"
#include "tls_peer_support.h"

namespace {

using httptest::PeerTest;
using testsupport::PeerVariable;

// The time with-peers.sh gives every served file.
constexpr http::HttpTime kServedTime = 1614834367;
constexpr const char* kServedDate = "Thu, 04 Mar 2021 05:06:07 GMT";

std::string Served(const testsupport::LoopbackPeers& peers, const std::string& name) {
  return testsupport::ReadFileBytes(peers.docroot + "/files/" + name);
}

TEST_F(PeerTest, QueriesAndFindsTheFileUpToDate) {
  UPDATER_REQUIRE_PEERS(peers);
  httptest::RecordingDownloader d;
  std::int64_t length = 0;
  http::HttpTime modified = 0;
  ASSERT_EQ(d.QueryInfo(peers.Url("/files/big.bin"), length, modified), 1);
  const std::string source = Served(peers, "big.bin");
  EXPECT_TRUE(static_cast<std::size_t>(length) == source.size() && modified == kServedTime);
  EXPECT_EQ(d.QueryInfo(peers.Url("/status/404?head"), length, modified), 0);

  // The resume is in every row of peer_downloads.rows that nginx logs.
  testsupport::ScratchDir dir;
  const std::string target = dir.Join("big.bin");
  ASSERT_TRUE(testsupport::WriteStampedFile(target, source, kServedTime));
  d.records.clear();
  EXPECT_EQ(d.Download(peers.Url("/files/big.bin?again"), target, 0), http::DOWNLOAD_UP_TO_DATE);
  EXPECT_TRUE(d.records.empty());
  EXPECT_EQ(testsupport::CountLogLines(peers.accessLog, "GET /files/big.bin?again 200", 1), 1);
}

// peer_redirects.rows: a redirect of every form ends at the served file with
// the address of the last redirect as referer; a loop, a missing file or an
// empty body fails after the counted requests.
TEST_F(PeerTest, FollowsEveryRedirectAndFailsAfterCountedRequests) {
  UPDATER_REQUIRE_PEERS(peers);
  for (const testsupport::Row& row : testsupport::TableRows(
#include "peer_redirects.rows"
           )) {
    ASSERT_EQ(row.size(), 4u) << row[0];
    SCOPED_TRACE(row[0]);
    testsupport::ScratchDir dir;
    httptest::RecordingDownloader d;
    d.retryMode = http::RETRY_LIMITED;
    d.maxRetries = 1;
    const http::DownloadResult result = d.Download(peers.Url(row[0]), dir.Join("out.bin"), 0);
    if (row[1] == "-") {
      EXPECT_EQ(result, http::DOWNLOAD_FAILED);
      EXPECT_EQ(testsupport::CountLogLines(peers.accessLog, row[2], std::stoi(row[3])),
                std::stoi(row[3]));
      continue;
    }
    ASSERT_EQ(result, http::DOWNLOAD_OK);
    EXPECT_TRUE(testsupport::ReadFileBytes(dir.Join("out.bin")) == Served(peers, row[1]));
    EXPECT_EQ(d.referer, peers.Url(row[2]));
    EXPECT_EQ(d.url, peers.Url("/files/" + row[1]));
  }
}

// peer_downloads.rows: each row ends byte-identical to the served file, or
// fails with no target and the retries it deserves.
TEST(PeerDownloads, DirectAndThroughEveryProxyEndWithTheServedFileOrFailForGood) {
  UPDATER_REQUIRE_PEERS(peers);
  const std::string big = Served(peers, "big.bin");
  // 127.0.0.3 at nginx's port holds one connection it never accepts and
  // drops every further SYN.
  const testsupport::TcpListener silent(3, peers.httpPort, 0);
  const net::UniqueSocket held(net::SocketConnectAddresses("127.0.0.3", peers.httpPort, 5000, 0));
  ASSERT_NE(held.get(), net::kInvalidSocket);
  const auto lo = testsupport::Ipv4Address(127, 0, 0, 1);
  // By their values: http::PROXY_NONE, PROXY_HTTP, -, PROXY_SOCKS4, PROXY_SOCKS4A, PROXY_SOCKS5,
  // PROXY_SOCKS5_HOSTNAME.
  const std::vector<std::string> kinds = {"-",       "http",   "",       "socks4",
                                          "socks4a", "socks5", "socks5h"};
  for (testsupport::Row row : testsupport::TableRows(
#include "peer_downloads.rows"
           )) {
    ASSERT_EQ(row.size(), 8u) << row[0];
    SCOPED_TRACE(row[0]);
    // @NAME@ in the URL: the port that with-peers.sh gives as NAME_PORT.
    const std::size_t at = row[1].find('@'), end = row[1].find('@', at + 1);
    ASSERT_NE(end, std::string::npos);
    row[1].replace(at, end + 1 - at, PeerVariable(row[1].substr(at + 1, end - at - 1) + "_PORT"));
    // The proxy's port likewise, by its name: "ssh-socks" in SSH_SOCKS_PORT;
    // "-v6" after the name: the proxy at [::1].
    const bool proxyV6 = row[2].ends_with("-v6");
    std::string variable = row[2].substr(0, row[2].size() - (proxyV6 ? 3 : 0)) + "_PORT";
    for (char& c : variable) c = c == '-' ? '_' : static_cast<char>(std::toupper(c));
    const std::uint16_t proxyPort = row[2] == "none" ? 0 : testsupport::PeerPort(variable);
    ASSERT_TRUE(row[2] == "none" || proxyPort != 0) << variable << " is not set";
    if ((proxyV6 || row[1].find("[::1]") != std::string::npos) && PeerVariable("IPV6") != "1") {
      continue;  // no IPv6 loopback on this machine
    }
    // "localhost" resolves here unless the URL names it for a proxy to resolve.
    testsupport::TableNames names(
        {{row[1].rfind("http://localhost", 0) == 0 ? "" : "localhost", {lo}},
         {"refusing.test", {testsupport::Ipv4Address(127, 0, 0, 2), lo}},
         {"silent.test", {testsupport::Ipv4Address(127, 0, 0, 3), lo}}});
    const net::ScopedSocketCalls scoped(names);
    testsupport::ScratchDir dir;
    const std::string target = dir.Join("file");
    ASSERT_TRUE(testsupport::WriteFileBytes(target + ".down", big.substr(0, 100000)));
    ASSERT_TRUE(http::RecordPartialFile(target + ".down", static_cast<std::int64_t>(big.size()),
                                        kServedTime));
    httptest::RecordingDownloader d;
    d.caCertificates = testsupport::ReadFileBytes(peers.tlsCaFile);
    d.proxyKind = static_cast<int>(std::find(kinds.begin(), kinds.end(), row[3]) - kinds.begin());
    d.proxyHost = proxyV6 ? "::1" : "127.0.0.1";
    d.proxyPort = proxyPort;
    d.proxyAuth = row[4] == "none" ? 0 : 1;
    const bool socks = row[2].rfind("microsocks", 0) == 0;
    d.proxyUser = socks ? peers.microsocksUser : peers.proxyUser;
    d.proxyPassword =
        (socks ? peers.microsocksPassword : peers.proxyPassword) + (row[4] == "wrong" ? "x" : "");
    d.retryMode = row[6] == "-" ? http::RETRY_NONE : http::RETRY_LIMITED;
    d.maxRetries = 1;
    d.retryDelay = 1;
    const bool ok = row[5] != "-";
    EXPECT_EQ(d.Download(row[1], target, 0), ok ? http::DOWNLOAD_OK : http::DOWNLOAD_FAILED);
    EXPECT_EQ(d.retryCount, row[6] == "-" ? 0 : std::stoi(row[6]));
    if (!ok) {
      EXPECT_FALSE(platform::GetFileStatus(target).has_value());
      continue;
    }
    EXPECT_TRUE(testsupport::ReadFileBytes(target) == Served(peers, row[5]));
    if (row[7] != "logged") continue;
    // Resumed where the part ended, if the file is still the one it began.
    const auto status = platform::GetFileStatus(target);
    ASSERT_TRUE(status && !d.records.empty()) << row[0];
    EXPECT_EQ(d.records.front().receivedSize, 100000);
    EXPECT_EQ(platform::FileTimeToUnixTime(status->modificationTime), kServedTime);
    EXPECT_FALSE(platform::GetFileStatus(target + ".down").has_value());
    const std::string path = row[1].substr(row[1].find('/', 8));
    const std::string logged = "GET " + path + " 206 " + std::to_string(big.size() - 100000) +
                               " range=\"bytes=100000-\" if_range=\"" + kServedDate + "\"";
    EXPECT_EQ(testsupport::CountLogLines(peers.accessLog, logged, 1), 1);
  }
}

}  // namespace
