#include "support/loopback_peers.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace testsupport {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::uint16_t PortEnv(const char* name) {
  const std::string text = Env(name);
  const long value = std::strtol(text.c_str(), nullptr, 10);
  return value > 0 && value < 65536 ? static_cast<std::uint16_t>(value) : 0;
}

}  // namespace

std::string LoopbackPeers::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(httpPort) + path;
}

std::optional<LoopbackPeers> PeersFromEnvironment() {
  LoopbackPeers peers;
  peers.httpPort = PortEnv("UPDATER_TEST_HTTP_PORT");
  peers.docroot = Env("UPDATER_TEST_DOCROOT");
  peers.proxyPort = PortEnv("UPDATER_TEST_TINYPROXY_PORT");
  peers.authProxyPort = PortEnv("UPDATER_TEST_TINYPROXY_AUTH_PORT");
  peers.proxyUser = Env("UPDATER_TEST_TINYPROXY_USER");
  peers.proxyPassword = Env("UPDATER_TEST_TINYPROXY_PASS");
  peers.accessLog = Env("UPDATER_TEST_NGINX_ACCESS_LOG");
  peers.microsocksPort = PortEnv("UPDATER_TEST_MICROSOCKS_PORT");
  peers.microsocksAuthPort = PortEnv("UPDATER_TEST_MICROSOCKS_AUTH_PORT");
  peers.microsocksUser = Env("UPDATER_TEST_MICROSOCKS_USER");
  peers.microsocksPassword = Env("UPDATER_TEST_MICROSOCKS_PASS");
  peers.dantePort = PortEnv("UPDATER_TEST_DANTE_PORT");
  peers.sshSocksPort = PortEnv("UPDATER_TEST_SSH_SOCKS_PORT");
  peers.httpsPort = PortEnv("UPDATER_TEST_HTTPS_PORT");
  peers.httpsUntrustedPort = PortEnv("UPDATER_TEST_HTTPS_UNTRUSTED_PORT");
  peers.httpsWrongHostPort = PortEnv("UPDATER_TEST_HTTPS_WRONG_HOST_PORT");
  peers.httpsExpiredPort = PortEnv("UPDATER_TEST_HTTPS_EXPIRED_PORT");
  peers.httpsTls10Port = PortEnv("UPDATER_TEST_HTTPS_TLS10_PORT");
  peers.tlsCaFile = Env("UPDATER_TEST_TLS_CA");
  if (peers.httpPort == 0 || peers.docroot.empty() || peers.proxyPort == 0 ||
      peers.authProxyPort == 0) {
    return std::nullopt;
  }
  return peers;
}

int CountLogLines(const std::string& path, const std::string& needle, int expected) {
  int count = 0;
  for (int wait = 0; wait < 250 && count < expected; ++wait) {
    if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream log(path);
    count = 0;
    for (std::string line; std::getline(log, line);)
      count += line.find(needle) != std::string::npos;
  }
  return count;
}

bool RunningInCi() { return Env("CI") == "true"; }

}  // namespace testsupport
