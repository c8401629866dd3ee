// OpenSSL's side of the system trust: SSL_CERT_FILE names the store, and an
// address (IPv4 or IPv6) is matched against the certificate's IP entries;
// wine's Schannel matches DNS names only.
#include <gtest/gtest.h>

#include "recording_downloader.h"
#include "support/environment.h"
#include "support/loopback_peers.h"
#include "support/scratch_dir.h"
#include "tls_peer_support.h"

namespace {

using httptest::PeerTest;

TEST_F(PeerTest, SystemTrustFollowsSslCertFileAndAddressesMatchIpEntries) {
  UPDATER_REQUIRE_PEERS(peers);
  const std::string ca = testsupport::ReadFileBytes(peers.tlsCaFile);
  {
    const testsupport::ScopedEnvVar certFile("SSL_CERT_FILE", peers.tlsCaFile);
    EXPECT_EQ(httptest::Handshake(peers.httpsPort, "localhost", ""), net::TLS_CONNECTED);
  }
  for (const char* address : {"127.0.0.1", "::1"}) {
    EXPECT_EQ(httptest::Handshake(peers.httpsPort, address, ca), net::TLS_CONNECTED) << address;
    EXPECT_EQ(httptest::Handshake(peers.httpsWrongHostPort, address, ca), net::TLS_UNTRUSTED);
  }
  // A URL's IPv6 address, never sent as the server name (nginx logs "-").
  if (testsupport::PeerVariable("IPV6") == "1") {
    testsupport::ScratchDir dir;
    httptest::RecordingDownloader d;
    d.caCertificates = ca;
    const std::string url = "https://[::1]:" + std::to_string(peers.httpsPort);
    EXPECT_EQ(d.Download(url + "/files/small.txt?ipv6", dir.Join("f"), 0), http::DOWNLOAD_OK);
    EXPECT_EQ(testsupport::CountLogLines(peers.accessLog,
                                         "small.txt?ipv6 200 17 range=\"-\" "
                                         "if_range=\"-\" sni=\"-\"",
                                         1),
              1);
  }
  // wine 8's Schannel offers TLS 1.2 at most, so TLS 1.3 alone is shown here.
  EXPECT_EQ(httptest::Handshake(peers.httpsTls13Port, "localhost", ca), net::TLS_CONNECTED);
}

}  // namespace
