// OpenSSL's side of the system trust: SSL_CERT_FILE names the store, and a
// dotted address is matched against the certificate's IP entries.
#include <gtest/gtest.h>

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
  EXPECT_EQ(httptest::Handshake(peers.httpsPort, "127.0.0.1", ca), net::TLS_CONNECTED);
  EXPECT_EQ(httptest::Handshake(peers.httpsWrongHostPort, "127.0.0.1", ca), net::TLS_UNTRUSTED);
  // wine 8's Schannel offers TLS 1.2 at most, so TLS 1.3 alone is shown here.
  EXPECT_EQ(httptest::Handshake(peers.httpsTls13Port, "localhost", ca), net::TLS_CONNECTED);
}

}  // namespace
