// https on either engine: the handshake against nginx with every kind of
// certificate that tls-peers.sh makes (ctest: http_peers; the downloads over
// TLS are rows of peer_downloads.rows), a tunnel through a scripted proxy, and
// handshakes that a scripted server breaks off, stalls or answers with
// garbage. Servers are named "localhost": wine's Schannel matches DNS names
// only.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "http/http_downloader.h"
#include "net/socket_library.h"
#include "net/tls_channel.h"
#include "recording_downloader.h"
#include "support/loopback_peers.h"
#include "support/scratch_dir.h"
#include "support/scripted_server.h"
#include "tls_peer_support.h"

namespace {

using httptest::PeerTest;
using testsupport::ScriptedExchange;
using testsupport::ScriptedServer;

TEST_F(PeerTest, HandshakeTrustsOnlyAValidChainForTheHostOverTls12OrNewer) {
  UPDATER_REQUIRE_PEERS(peers);
  const std::string ca = testsupport::ReadFileBytes(peers.tlsCaFile);
  ASSERT_FALSE(ca.empty());
  const std::string broken =
      "-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydGlmaWNhdGU=\n-----END CERTIFICATE-----\n";
  const struct {
    const char* name;
    std::uint16_t port;
    const char* host;
    std::string trust;
    net::TlsConnectResult expected;
  } cases[] = {
      {"good, pinned", peers.httpsPort, "localhost", ca, net::TLS_CONNECTED},
      {"good, system store lacks the CA", peers.httpsPort, "localhost", "", net::TLS_UNTRUSTED},
      {"pinned text holds no certificate", peers.httpsPort, "localhost", broken, net::TLS_REFUSED},
      {"name the certificate lacks", peers.httpsPort, "elsewhere.test", ca, net::TLS_UNTRUSTED},
      {"another CA", peers.httpsUntrustedPort, "localhost", ca, net::TLS_UNTRUSTED},
      {"wrong host", peers.httpsWrongHostPort, "localhost", ca, net::TLS_UNTRUSTED},
      {"expired", peers.httpsExpiredPort, "localhost", ca, net::TLS_UNTRUSTED},
      {"TLS 1.0 only", peers.httpsTls10Port, "localhost", ca, net::TLS_REFUSED},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(httptest::Handshake(c.port, c.host, c.trust), c.expected) << c.name;
  }
}

TEST(TlsProxyTunnel, AsksForATunnelAndRetriesOnlyWhatAnotherAttemptCanMend) {
  const struct {
    const char* name;
    const char* answer;
    int retryCount;  // after the download: 2 when both retries ran, 0 when none did
  } cases[] = {
      {"server unreachable", "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n", 2},
      {"no answer", "", 2},
      {"credentials refused", "HTTP/1.1 407 Proxy Authentication Required\r\n\r\n", 0},
      {"bytes ahead of the server's", "HTTP/1.1 200 Connection established\r\n\r\nHTTP/1.1", 0},
  };
  for (const auto& c : cases) {
    ScriptedServer proxy([&](ScriptedExchange& e) { e.Send(c.answer); });
    httptest::RecordingDownloader d;
    d.proxyKind = http::PROXY_HTTP;
    d.proxyHost = "127.0.0.1";
    d.proxyPort = proxy.port();
    d.proxyAuth = 1;
    d.proxyUser = "u";
    d.proxyPassword = "p";
    d.retryMode = http::RETRY_LIMITED;
    d.maxRetries = 1;
    d.retryDelay = 1;
    EXPECT_EQ(d.Download("https://files.test/f", testsupport::ScratchDir().Join("f"), 1),
              http::DOWNLOAD_FAILED)
        << c.name;
    EXPECT_EQ(d.retryCount, c.retryCount) << c.name;
    const std::vector<std::string> requests = proxy.Requests();
    ASSERT_FALSE(requests.empty()) << c.name;
    EXPECT_EQ(requests[0],
              "CONNECT files.test:443 HTTP/1.1\r\nHost: files.test:443\r\n"
              "Proxy-Authorization: Basic dTpw\r\n\r\n")
        << c.name;
  }
}

// Reads the first TLS record header of the ClientHello.
bool ClientHelloArrived(ScriptedExchange& e) { return e.Read(5).size() == 5; }

TEST(TlsHandshake, GarbageIsRefusedWhileACloseOrSilenceBreaksTheConnection) {
  const struct {
    const char* name;
    const char* answer;  // to the ClientHello; nullptr: none is read
    bool close;          // right after it, or wait for the client's close
    net::TlsConnectResult expected;
    std::int32_t code;  // the error stored; 0: any
  } cases[] = {
      {"plain HTTP answer", "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n", false,
       net::TLS_REFUSED, net::ErrConnectionAborted()},
      {"closed mid-handshake", "", true, net::TLS_BROKEN, 0},
      {"silent", nullptr, false, net::TLS_BROKEN, net::ErrTimedOut()},
  };
  for (const auto& c : cases) {
    ScriptedServer server(
        [&](ScriptedExchange& e) {
          if (c.answer != nullptr && ClientHelloArrived(e)) e.Send(c.answer);
          c.close ? e.Close() : void(e.AwaitClientClose(5000));
        },
        true);
    net::SetSocketLastError(0);
    EXPECT_EQ(httptest::Handshake(server.port(), "localhost", "", 300), c.expected) << c.name;
    EXPECT_TRUE(c.code == 0 || net::SocketLastError() == c.code) << c.name;
  }
}

TEST(TlsHandshake, AStopEndsAHandshakeThatWaitsForTheServer) {
  std::promise<void> helloSeen;
  ScriptedServer server(
      [&](ScriptedExchange& e) {
        ClientHelloArrived(e);
        helloSeen.set_value();
        e.AwaitClientClose(10000);
      },
      true);
  httptest::RecordingDownloader d;
  d.receiveTimeout = 60000;
  std::thread stopper([&] {
    helloSeen.get_future().wait();
    d.RequestStop();
  });
  EXPECT_EQ(d.Download("https://127.0.0.1:" + std::to_string(server.port()) + "/f",
                       testsupport::ScratchDir().Join("f"), 1),
            http::DOWNLOAD_STOPPED);
  stopper.join();
}

}  // namespace
