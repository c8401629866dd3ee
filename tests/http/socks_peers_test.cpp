// Downloads through real SOCKS proxies on loopback, each compared with the
// direct download from nginx: dante (SOCKS4, SOCKS5), microsocks (SOCKS5
// without and with user name and password) and OpenSSH's dynamic forwarding
// (SOCKS4, SOCKS4a, SOCKS5). tests/peers/with-peers.sh starts them (ctest:
// http_peers). On this side the name "localhost" does not resolve, so a URL
// naming it makes the proxy resolve it: a SOCKS4a request with the name, or a
// SOCKS5 request of address type 3.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "http/http_downloader.h"
#include "net/socket_library.h"
#include "recording_downloader.h"
#include "socks_test_support.h"
#include "support/loopback_peers.h"
#include "support/scratch_dir.h"
#include "support/sha256.h"

namespace {

constexpr const char* kFile = "/files/big.bin";

// Ends the test when the proxy on `port` is not running: a failure in CI, a
// skip elsewhere.
#define UPDATER_REQUIRE_SOCKS_PEER(port, name)                                    \
  if ((port) == 0) {                                                              \
    if (testsupport::RunningInCi()) {                                             \
      FAIL() << name << " is not running: run through tests/peers/with-peers.sh"; \
    } else {                                                                      \
      GTEST_SKIP() << name << " is not running (tests/peers/with-peers.sh)";      \
    }                                                                             \
  }

struct Route {
  const char* name;
  int kind;
  const char* destination;  // the URL's host: 127.0.0.1, or localhost for the proxy to resolve
};

class PeerSocks : public ::testing::Test {
 protected:
  // Only dotted texts resolve here.
  httptest::TableNames names_{{}};
  net::ScopedSocketCalls scoped_{names_};
};

std::string DirectDownloadSha(const testsupport::LoopbackPeers& peers) {
  testsupport::ScratchDir dir;
  httptest::RecordingDownloader d;
  EXPECT_EQ(d.Download(peers.Url(kFile), dir.Join("direct.bin"), 0), http::DOWNLOAD_OK);
  return testsupport::Sha256OfFile(dir.Join("direct.bin"));
}

// Downloads the file through the proxy on `port` along each route; each must
// end byte-identical to the direct download.
void DownloadAlong(const testsupport::LoopbackPeers& peers, std::uint16_t port,
                   std::initializer_list<Route> routes, const std::string& user = "",
                   const std::string& password = "") {
  const std::string direct = DirectDownloadSha(peers);
  ASSERT_EQ(direct, testsupport::Sha256OfFile(peers.docroot + kFile));
  for (const Route& route : routes) {
    testsupport::ScratchDir dir;
    const std::string target = dir.Join("big.bin");
    httptest::RecordingDownloader d;
    d.proxyKind = route.kind;
    d.proxyHost = "127.0.0.1";
    d.proxyPort = port;
    d.proxyAuth = user.empty() ? 0 : 1;
    d.proxyUser = user;
    d.proxyPassword = password;
    const std::string url = std::string("http://") + route.destination + ":" +
                            std::to_string(peers.httpPort) + kFile + "?via=" + route.name;
    EXPECT_EQ(d.Download(url, target, 0), http::DOWNLOAD_OK) << route.name;
    EXPECT_EQ(testsupport::Sha256OfFile(target), direct) << route.name;
    EXPECT_TRUE(testsupport::AwaitLogLine(
        peers.accessLog, std::string("GET ") + kFile + "?via=" + route.name + " 200 ", 5000))
        << route.name;
  }
}

TEST_F(PeerSocks, DanteCarriesSocks4AndSocks5) {
  UPDATER_REQUIRE_PEERS(peers);
  UPDATER_REQUIRE_SOCKS_PEER(peers.dantePort, "danted");
  DownloadAlong(peers, peers.dantePort,
                {{"dante-socks4", http::PROXY_SOCKS4, "127.0.0.1"},
                 {"dante-socks5", http::PROXY_SOCKS5, "127.0.0.1"},
                 {"dante-socks5-name", http::PROXY_SOCKS5, "localhost"}});
}

TEST_F(PeerSocks, MicrosocksCarriesSocks5WithoutAuthentication) {
  UPDATER_REQUIRE_PEERS(peers);
  UPDATER_REQUIRE_SOCKS_PEER(peers.microsocksPort, "microsocks");
  DownloadAlong(peers, peers.microsocksPort,
                {{"microsocks", http::PROXY_SOCKS5, "127.0.0.1"},
                 {"microsocks-name", http::PROXY_SOCKS5, "localhost"}});
}

TEST_F(PeerSocks, MicrosocksCarriesSocks5AfterLogin) {
  UPDATER_REQUIRE_PEERS(peers);
  UPDATER_REQUIRE_SOCKS_PEER(peers.microsocksAuthPort, "microsocks with login");
  DownloadAlong(peers, peers.microsocksAuthPort,
                {{"microsocks-login", http::PROXY_SOCKS5, "127.0.0.1"}}, peers.microsocksUser,
                peers.microsocksPassword);
}

TEST_F(PeerSocks, SshDynamicForwardingCarriesSocks4Socks4aAndSocks5) {
  UPDATER_REQUIRE_PEERS(peers);
  UPDATER_REQUIRE_SOCKS_PEER(peers.sshSocksPort, "ssh -D");
  DownloadAlong(peers, peers.sshSocksPort,
                {{"ssh-socks4", http::PROXY_SOCKS4, "127.0.0.1"},
                 {"ssh-socks4a-name", http::PROXY_SOCKS4A, "localhost"},
                 {"ssh-socks4a-address", http::PROXY_SOCKS4A, "127.0.0.1"},
                 {"ssh-socks5-name", http::PROXY_SOCKS5, "localhost"}});
}

// A proxy that demands a login refuses a client without credentials (method
// 0xFF) and one with the wrong password: transient failures, which under
// RETRY_NONE end the download.
TEST_F(PeerSocks, MicrosocksRefusesMissingAndWrongCredentials) {
  UPDATER_REQUIRE_PEERS(peers);
  UPDATER_REQUIRE_SOCKS_PEER(peers.microsocksAuthPort, "microsocks with login");
  struct Case {
    const char* name;
    int proxyAuth;
    std::string password;
  };
  const Case cases[] = {
      {"no credentials", 0, ""},
      {"wrong password", 1, peers.microsocksPassword + "x"},
  };
  for (const Case& c : cases) {
    httptest::RecordingDownloader d;
    d.proxyKind = http::PROXY_SOCKS5;
    d.proxyHost = "127.0.0.1";
    d.proxyPort = peers.microsocksAuthPort;
    d.proxyAuth = c.proxyAuth;
    d.proxyUser = peers.microsocksUser;
    d.proxyPassword = c.password;
    d.url = peers.Url("/files/small.txt");
    ASSERT_NE(http::ParseUrl(d.url, d.host, d.object, d.port), 0);
    EXPECT_EQ(d.SendRequest(1), http::REQUEST_RETRY) << c.name;
    d.CloseConnection();
    testsupport::ScratchDir dir;
    EXPECT_EQ(d.Download(peers.Url("/files/small.txt"), dir.Join("small.txt"), 0),
              http::DOWNLOAD_FAILED)
        << c.name;
  }
}

}  // namespace
