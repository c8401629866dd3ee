#include "http/proxy_exemptions.h"

#include <cctype>
#include <optional>
#include <string>

#include "http/header_text.h"
#include "http/proxy_address.h"

namespace http {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The host as both lists compare it: lower case, without the brackets of an
// IPv6 address and without a trailing dot.
std::string ComparableHost(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  return Lower(host);
}

// Whether `address` lies in "ADDRESS" or "ADDRESS/BITS".
bool InRange(std::string_view range, const IpAddress& address) {
  const std::size_t slash = range.find('/');
  const std::optional<IpAddress> network = ParseIpAddress(range.substr(0, slash));
  if (!network || network->v6 != address.v6) return false;
  const unsigned width = address.v6 ? 128 : 32;
  unsigned bits = width;
  if (slash != std::string_view::npos) {
    const std::string_view text = range.substr(slash + 1);
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
      return false;
    }
    bits = static_cast<unsigned>(std::stoul(std::string(text)));
    if (bits > width) return false;
  }
  for (unsigned i = 0; i < bits; ++i) {
    const unsigned mask = 0x80u >> (i % 8);
    if ((network->bytes[i / 8] & mask) != (address.bytes[i / 8] & mask)) return false;
  }
  return true;
}

// `text` matched by `pattern`, in which "*" stands for any text.
bool MatchesPattern(std::string_view pattern, std::string_view text) {
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool NoProxyMatches(std::string_view list, std::string_view host, std::uint16_t port) {
  const std::string name = ComparableHost(host);
  const std::optional<IpAddress> address = ParseIpAddress(name);
  for (const std::string_view entry : SplitProxyList(list, ", \t")) {
    if (entry == "*") return true;
    // A range's "/BITS" comes after any port.
    const std::size_t slash = entry.find('/');
    std::string_view pattern;
    std::optional<std::uint16_t> only;
    if (!SplitHostPort(entry.substr(0, slash), pattern, only) || pattern.empty() ||
        (only && *only != port)) {
      continue;
    }
    if (address) {
      const std::string range =
          std::string(pattern) +
          (slash == std::string_view::npos ? "" : std::string(entry.substr(slash)));
      if (InRange(range, *address)) return true;
      continue;
    }
    const std::string suffix = ComparableHost(pattern[0] == '.' ? pattern.substr(1) : pattern);
    if (suffix.empty()) continue;
    if (name == suffix || (name.size() > suffix.size() && name.ends_with("." + suffix))) {
      return true;
    }
  }
  return false;
}

bool BypassListMatches(std::string_view list, std::string_view host, std::uint16_t port, bool tls) {
  const std::string name = ComparableHost(host);
  for (std::string_view entry : SplitProxyList(list, ";, \t")) {
    if (EqualsIgnoreCase(entry, "<local>")) {
      if (name.find('.') == std::string::npos && !ParseIpAddress(name)) return true;
      continue;
    }
    if (const std::size_t scheme = entry.find("://"); scheme != std::string_view::npos) {
      if (!EqualsIgnoreCase(entry.substr(0, scheme), tls ? "https" : "http")) continue;
      entry.remove_prefix(scheme + 3);
    }
    std::string_view pattern;
    std::optional<std::uint16_t> only;
    if (!SplitHostPort(entry, pattern, only) || (only && *only != port)) continue;
    if (MatchesPattern(ComparableHost(pattern), name)) return true;
  }
  return false;
}

}  // namespace http
