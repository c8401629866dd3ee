// The system's socket calls, except that name look-ups are answered from a
// table, so that no query leaves the machine: a test decides which names
// resolve on this side (and so whether a proxy gets an address or the name).
// The threads the look-ups ran on are kept.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/pass_through_socket_calls.h"

namespace testsupport {

// An IPv4 address in network byte order, from its dotted parts.
inline std::uint32_t Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t address = 0;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

class TableNames : public PassThroughSocketCalls {
 public:
  explicit TableNames(std::map<std::string, std::uint32_t> names) : names_(std::move(names)) {}

  bool offerResolverThread = true;
  std::vector<std::thread::id> LookUpThreads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }

  std::uint32_t LookUpHost(const char* name) override {
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.push_back(std::this_thread::get_id());
    const auto found = names_.find(name);
    return found == names_.end() ? platform::kNoIpv4Address : found->second;
  }
  bool ResolverThreadAvailable() override {
    return offerResolverThread && system().ResolverThreadAvailable();
  }

 private:
  const std::map<std::string, std::uint32_t> names_;
  std::mutex mutex_;
  std::vector<std::thread::id> threads_;
};

}  // namespace testsupport
