// The real servers that tests/peers/with-peers.sh starts on loopback (nginx,
// tinyproxy with and without Basic authentication), as the environment of the
// test process describes them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace testsupport {

struct LoopbackPeers {
  std::uint16_t httpPort = 0;       // nginx
  std::string docroot;              // nginx's root directory, files/ below it
  std::uint16_t proxyPort = 0;      // tinyproxy without authentication
  std::uint16_t authProxyPort = 0;  // tinyproxy with BasicAuth
  std::string proxyUser;
  std::string proxyPassword;
  std::string accessLog;  // nginx's access log, one line per request
  // The SOCKS proxies; 0 for one not running.
  std::uint16_t microsocksPort = 0;      // SOCKS5 without authentication
  std::uint16_t microsocksAuthPort = 0;  // SOCKS5 with user name and password
  std::string microsocksUser;
  std::string microsocksPassword;
  std::uint16_t dantePort = 0;     // SOCKS4 and SOCKS5
  std::uint16_t sshSocksPort = 0;  // ssh -D: SOCKS4, SOCKS4a and SOCKS5
  // nginx over TLS (tests/peers/tls-peers.sh): a good certificate for
  // localhost and 127.0.0.1 from the test CA, then the faulty ones.
  std::uint16_t httpsPort = 0;
  std::uint16_t httpsUntrustedPort = 0;  // issued by another CA
  std::uint16_t httpsWrongHostPort = 0;  // for another name only
  std::uint16_t httpsExpiredPort = 0;
  std::uint16_t httpsTls10Port = 0;  // the good certificate, TLS 1.0 only
  std::string tlsCaFile;             // the test CA's certificate (PEM)

  // "http://127.0.0.1:PORT" + path on nginx.
  std::string Url(const std::string& path) const;
};

// Nothing when the variables are not set (the tests run outside the script).
std::optional<LoopbackPeers> PeersFromEnvironment();

// The lines of the log at `path` that contain `needle`, once there are
// `expected` of them or 5 s have passed (nginx writes a request's line only
// after it has sent the response).
int CountLogLines(const std::string& path, const std::string& needle, int expected);

// True when the environment variable CI is "true": peer tests then fail
// instead of skipping when the peers are missing.
bool RunningInCi();

}  // namespace testsupport

// Declares `var` as the peers, or ends the test: a failure in CI, a skip
// elsewhere.
#define UPDATER_REQUIRE_PEERS(var)                                               \
  const std::optional<testsupport::LoopbackPeers> var##Found =                   \
      testsupport::PeersFromEnvironment();                                       \
  if (!var##Found) {                                                             \
    if (testsupport::RunningInCi()) {                                            \
      FAIL() << "loopback peers missing: run through tests/peers/with-peers.sh"; \
    } else {                                                                     \
      GTEST_SKIP() << "loopback peers not running (tests/peers/with-peers.sh)";  \
    }                                                                            \
  }                                                                              \
  const testsupport::LoopbackPeers& var = *var##Found
