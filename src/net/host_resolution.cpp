// Name resolution: an address text is taken as it is; a name is looked up,
// where the system allows on a resolver thread. The caller waits for that
// thread at most its time-out, and not at all once a stop is asked for: a
// look-up that never answers is abandoned, and the thread ends on its own.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "net/host_connection.h"
#include "net/socket_library.h"

namespace net {
namespace {

// Shared by the caller and the resolver thread, so whichever goes last frees it.
struct LookUp {
  std::string host;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::vector<IpAddress> addresses;
};

std::vector<IpAddress> AwaitLookUp(LookUp& lookUp, std::uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const bool forever = timeoutMs == kResolveWithoutLimit;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(lookUp.mutex);
  while (!lookUp.done) {
    const Clock::time_point now = Clock::now();
    if (StopRequested() || (!forever && now >= deadline)) return {};
    Clock::time_point until = now + std::chrono::milliseconds(kStopPollMs);
    if (!forever && deadline < until) until = deadline;
    lookUp.finished.wait_until(lock, until);
  }
  return lookUp.addresses;
}

// One to four hex digits, or a dotted IPv4 address when `dotted` allows it
// (two groups then): appended to `groups`. False for anything else.
bool TakeGroup(std::string_view piece, bool dotted, std::vector<std::uint16_t>& groups) {
  if (dotted && piece.find('.') != std::string_view::npos) {
    std::array<std::uint16_t, 4> parts{};
    std::size_t part = 0;
    std::size_t digits = 0;
    for (const char c : piece) {
      if (c == '.' && digits > 0 && part < 3) {
        ++part;
        digits = 0;
      } else if (c >= '0' && c <= '9' && digits < 3) {
        parts[part] = static_cast<std::uint16_t>(parts[part] * 10 + (c - '0'));
        ++digits;
      } else {
        return false;
      }
    }
    if (part != 3 || digits == 0 || parts[0] > 255 || parts[1] > 255 || parts[2] > 255 ||
        parts[3] > 255) {
      return false;
    }
    groups.push_back(static_cast<std::uint16_t>(parts[0] << 8 | parts[1]));
    groups.push_back(static_cast<std::uint16_t>(parts[2] << 8 | parts[3]));
    return true;
  }
  if (piece.empty() || piece.size() > 4) return false;
  std::uint16_t value = 0;
  for (const char c : piece) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return false;
    value = static_cast<std::uint16_t>(value << 4 | digit);
  }
  groups.push_back(value);
  return true;
}

// The groups of `text` split by single colons, none of them empty; the last
// may be a dotted IPv4 address when `dottedLast` allows it.
bool TakeGroups(std::string_view text, bool dottedLast, std::vector<std::uint16_t>& groups) {
  while (!text.empty()) {
    const std::size_t colon = text.find(':');
    const bool last = colon == std::string_view::npos;
    if (!TakeGroup(text.substr(0, colon), last && dottedLast, groups)) return false;
    if (last) return true;
    text.remove_prefix(colon + 1);
    if (text.empty()) return false;  // a colon at the end
  }
  return true;
}

}  // namespace

std::optional<IpAddress> ParseIpv6Text(std::string_view text) {
  const std::size_t gap = text.find("::");
  std::vector<std::uint16_t> head;
  std::vector<std::uint16_t> tail;
  if (gap == std::string_view::npos) {
    if (!TakeGroups(text, true, head) || head.size() != 8) return std::nullopt;
  } else if (!TakeGroups(text.substr(0, gap), false, head) ||
             !TakeGroups(text.substr(gap + 2), true, tail) || head.size() + tail.size() > 7) {
    return std::nullopt;
  }
  IpAddress address;
  address.v6 = true;
  for (std::size_t i = 0; i < head.size(); ++i) {
    address.bytes[2 * i] = static_cast<std::uint8_t>(head[i] >> 8);
    address.bytes[2 * i + 1] = static_cast<std::uint8_t>(head[i] & 0xFF);
  }
  const std::size_t from = 8 - tail.size();
  for (std::size_t i = 0; i < tail.size(); ++i) {
    address.bytes[2 * (from + i)] = static_cast<std::uint8_t>(tail[i] >> 8);
    address.bytes[2 * (from + i) + 1] = static_cast<std::uint8_t>(tail[i] & 0xFF);
  }
  return address;
}

std::vector<IpAddress> ResolveHostAddresses(const char* host, int useResolverThread,
                                            std::uint32_t timeoutMs) {
  if (host == nullptr) return {};
  platform::SocketCalls& calls = CurrentSocketCalls();
  const std::uint32_t dotted = calls.ParseIpv4(host);
  if (dotted != kInaddrNone) {
    IpAddress address;
    std::memcpy(address.bytes.data(), &dotted, sizeof dotted);
    return {address};
  }
  const std::string_view text(host);
  if (text.find(':') != std::string_view::npos) {
    const std::optional<IpAddress> literal = ParseIpv6Text(text);
    if (!literal) return {};
    return {*literal};
  }
  if (useResolverThread != 0 && calls.ResolverThreadAvailable()) {
    auto lookUp = std::make_shared<LookUp>();
    lookUp->host = host;
    try {
      std::thread([lookUp, &calls] {
        std::vector<IpAddress> addresses = calls.LookUpAddresses(lookUp->host.c_str());
        const std::lock_guard<std::mutex> lock(lookUp->mutex);
        lookUp->addresses = std::move(addresses);
        lookUp->done = true;
        lookUp->finished.notify_all();
      }).detach();
      return AwaitLookUp(*lookUp, timeoutMs);
    } catch (const std::system_error&) {
      // No thread to be had: look the name up here instead.
    }
  }
  return calls.LookUpAddresses(host);
}

std::uint32_t FirstIpv4Address(const std::vector<IpAddress>& addresses) {
  for (const IpAddress& address : addresses) {
    if (address.v6) continue;
    std::uint32_t value = 0;
    std::memcpy(&value, address.bytes.data(), sizeof value);
    return value;
  }
  return kInaddrNone;
}

std::uint32_t ResolveHost(const char* host, int useResolverThread, std::uint32_t timeoutMs) {
  return FirstIpv4Address(ResolveHostAddresses(host, useResolverThread, timeoutMs));
}

}  // namespace net
