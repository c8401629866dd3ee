// For the SOCKS tests: name look-ups answered from a table instead of the
// system's resolver, every other socket call the system's. A test decides
// which destination names resolve on this side (and so whether the proxy gets
// an address or the name), and no query leaves the machine.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "platform/socket_calls.h"
#include "support/pass_through_socket_calls.h"

namespace httptest {

// An IPv4 address in network byte order, from its dotted parts.
inline std::uint32_t Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t address = 0;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

class TableNames : public testsupport::PassThroughSocketCalls {
 public:
  // The names that resolve here, with their addresses (network order).
  explicit TableNames(std::map<std::string, std::uint32_t> names) : names_(std::move(names)) {}

  // Look-ups of names so far (dotted texts are parsed, not looked up).
  int LookUps() const { return lookUps_.load(); }

  std::uint32_t LookUpHost(const char* name) override {
    ++lookUps_;
    const auto found = names_.find(name);
    return found == names_.end() ? platform::kNoIpv4Address : found->second;
  }

 private:
  const std::map<std::string, std::uint32_t> names_;
  std::atomic<int> lookUps_{0};
};

}  // namespace httptest
