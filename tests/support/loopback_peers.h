// The real servers that tests/peers/with-peers.sh starts on loopback (nginx,
// tinyproxy with and without Basic authentication), as the environment of the
// test process describes them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace testsupport {

// The variable UPDATER_TEST_<name> ("" when unset), and the same read as a
// port (0 when unset or out of range).
std::string PeerVariable(const std::string& name);
std::uint16_t PeerPort(const std::string& name);

// Each member is read from the environment as the object is made.
struct LoopbackPeers {
  // nginx, its root directory (files/ below it) and its access log, one line
  // per request.
  std::uint16_t httpPort = PeerPort("HTTP_PORT");
  std::string docroot = PeerVariable("DOCROOT");
  std::string accessLog = PeerVariable("NGINX_ACCESS_LOG");
  // tinyproxy without and with BasicAuth.
  std::uint16_t proxyPort = PeerPort("TINYPROXY_PORT");
  std::uint16_t authProxyPort = PeerPort("TINYPROXY_AUTH_PORT");
  std::string proxyUser = PeerVariable("TINYPROXY_USER");
  std::string proxyPassword = PeerVariable("TINYPROXY_PASS");
  // The login of the SOCKS5 proxy that asks for one (microsocks); the ports
  // of the SOCKS proxies are read by the name of each (PeerPort).
  std::string microsocksUser = PeerVariable("MICROSOCKS_USER");
  std::string microsocksPassword = PeerVariable("MICROSOCKS_PASS");
  // nginx over TLS (tests/peers/tls-peers.sh): a good certificate for
  // localhost and 127.0.0.1 from the test CA (tlsCaFile, PEM); one issued by
  // another CA; one for another name only; an expired one; the good one over
  // TLS 1.0 only.
  std::uint16_t httpsPort = PeerPort("HTTPS_PORT");
  std::uint16_t httpsUntrustedPort = PeerPort("HTTPS_UNTRUSTED_PORT");
  std::uint16_t httpsWrongHostPort = PeerPort("HTTPS_WRONG_HOST_PORT");
  std::uint16_t httpsExpiredPort = PeerPort("HTTPS_EXPIRED_PORT");
  std::uint16_t httpsTls10Port = PeerPort("HTTPS_TLS10_PORT");
  std::uint16_t httpsTls13Port = PeerPort("HTTPS_TLS13_PORT");
  std::string tlsCaFile = PeerVariable("TLS_CA");

  // "http://127.0.0.1:PORT" + path on nginx.
  std::string Url(const std::string& path) const;
};

// Nothing when the variables are not set (the tests run outside the script).
std::optional<LoopbackPeers> PeersFromEnvironment();

// The lines of the log at `path` that contain `needle`, once there are
// `expected` of them or 5 s have passed (nginx writes a request's line only
// after it has sent the response); with `expected` 0 the count of now.
int CountLogLines(const std::string& path, const std::string& needle, int expected);

// True when the environment variable CI is "true": peer tests then fail
// instead of skipping when the peers are missing.
bool RunningInCi();

}  // namespace testsupport

// Declares `var` as the peers, or ends the test: a failure in CI, a skip
// elsewhere.
#define UPDATER_REQUIRE_PEERS(var)                                                           \
  const std::optional<testsupport::LoopbackPeers> var##Found =                               \
      testsupport::PeersFromEnvironment();                                                   \
  if (!var##Found && testsupport::RunningInCi()) FAIL() << "loopback peers missing";         \
  if (!var##Found) GTEST_SKIP() << "loopback peers not running (tests/peers/with-peers.sh)"; \
  const testsupport::LoopbackPeers& var = *var##Found
