#include "support/loopback_peers.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "support/environment.h"

namespace testsupport {

std::string PeerVariable(const std::string& name) {
  return GetEnvVar("UPDATER_TEST_" + name).value_or("");
}

std::uint16_t PeerPort(const std::string& name) {
  const long value = std::strtol(PeerVariable(name).c_str(), nullptr, 10);
  return value > 0 && value < 65536 ? static_cast<std::uint16_t>(value) : 0;
}

std::string LoopbackPeers::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(httpPort) + path;
}

std::optional<LoopbackPeers> PeersFromEnvironment() {
  const LoopbackPeers peers;
  const bool found =
      peers.httpPort && !peers.docroot.empty() && peers.proxyPort && peers.authProxyPort;
  return found ? std::optional(peers) : std::nullopt;
}

int CountLogLines(const std::string& path, const std::string& needle, int expected) {
  int count = 0;
  for (int wait = 0; wait == 0 || (wait < 250 && count < expected); ++wait) {
    if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream log(path);
    count = 0;
    for (std::string line; std::getline(log, line);)
      count += line.find(needle) != std::string::npos;
  }
  return count;
}

bool RunningInCi() { return GetEnvVar("CI") == "true"; }

}  // namespace testsupport
