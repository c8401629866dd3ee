#include "http/proxy_address.h"

#include <charconv>

#include "http/header_text.h"
#include "http/http_downloader.h"

namespace http {
namespace {

constexpr std::uint16_t kHttpProxyPort = 80;
constexpr std::uint16_t kSocksProxyPort = 1080;

constexpr std::pair<const char*, int> kSchemes[] = {{"http", PROXY_HTTP},
                                                    {"socks4", PROXY_SOCKS4},
                                                    {"socks4a", PROXY_SOCKS4A},
                                                    {"socks5", PROXY_SOCKS5},
                                                    {"socks5h", PROXY_SOCKS5_HOSTNAME}};

std::optional<int> KindOfScheme(std::string_view scheme) {
  for (const auto& [name, kind] : kSchemes) {
    if (EqualsIgnoreCase(scheme, name)) return kind;
  }
  return std::nullopt;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%XX" becomes its byte; a "%" without two hex digits stays as it is.
std::string PercentDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

template <class T>
std::optional<T> WholeNumber(std::string_view text, int base, T limit) {
  T value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc() || stop != end || value > limit) return std::nullopt;
  return value;
}

bool ParseIpv4(std::string_view text, std::uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) {
    const std::size_t dot = i < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos || dot > 3) return false;
    const auto part = WholeNumber<unsigned>(text.substr(0, dot), 10, 255);
    if (!part) return false;
    bytes[i] = static_cast<std::uint8_t>(*part);
    text.remove_prefix(i < 3 ? dot + 1 : dot);
  }
  return true;
}

}  // namespace

const char* ProxyScheme(int kind) {
  for (const auto& [name, known] : kSchemes) {
    if (known == kind) return name;
  }
  return nullptr;
}

std::optional<IpAddress> ParseIpAddress(std::string_view text) {
  if (text.find(':') != std::string_view::npos) return net::ParseIpv6Text(text);
  IpAddress address;
  if (!ParseIpv4(text, address.bytes.data())) return std::nullopt;
  return address;
}

std::vector<std::string_view> SplitProxyList(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> pieces;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of(separators);
    if (end != 0) pieces.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return pieces;
}

bool SplitHostPort(std::string_view text, std::string_view& host,
                   std::optional<std::uint16_t>& port) {
  port.reset();
  std::size_t colon = std::string_view::npos;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    host = text.substr(1, close - 1);
    if (close + 1 < text.size() && text[close + 1] != ':') return false;
    colon = close + 1 < text.size() ? close + 1 : colon;
  } else {
    colon = text.find(':');
    // Two colons or more: an IPv6 address, which names a port only in brackets.
    if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos) {
      colon = std::string_view::npos;
    }
    host = text.substr(0, colon);
  }
  if (colon == std::string_view::npos) return true;
  port = WholeNumber<unsigned>(text.substr(colon + 1), 10, 65535);
  if (!port || *port == 0) return false;
  return true;
}

std::optional<ProxyRoute> ParseProxyUrl(std::string_view text, int defaultKind,
                                        std::uint16_t defaultPort) {
  const std::string trimmed = TrimBlanks(text);
  std::string_view rest = trimmed;
  if (HasControlByte(rest)) return std::nullopt;
  ProxyRoute route;
  route.kind = defaultKind;
  if (const std::size_t scheme = rest.find("://"); scheme != std::string_view::npos) {
    const std::optional<int> kind = KindOfScheme(rest.substr(0, scheme));
    if (!kind) return std::nullopt;
    route.kind = *kind;
    rest.remove_prefix(scheme + 3);
  }
  // A path says nothing about the proxy.
  rest = rest.substr(0, rest.find('/'));
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
    const std::string_view userInfo = rest.substr(0, at);
    const std::size_t colon = userInfo.find(':');
    route.user = PercentDecode(userInfo.substr(0, colon));
    if (colon != std::string_view::npos) route.password = PercentDecode(userInfo.substr(colon + 1));
    route.auth = 1;
    rest.remove_prefix(at + 1);
  }
  std::string_view host;
  std::optional<std::uint16_t> port;
  if (!SplitHostPort(rest, host, port) || host.empty() ||
      host.find_first_of(" \t[]") != std::string_view::npos ||
      // An IPv6 address only in brackets, which keep its last group from
      // being read as a port.
      (host.find(':') != std::string_view::npos && (rest[0] != '[' || !ParseIpAddress(host)))) {
    return std::nullopt;
  }
  route.host = host;
  route.port = port.value_or(defaultPort);
  return route;
}

std::vector<ProxyRoute> ProxyListRoutes(std::string_view list, bool tls) {
  std::vector<ProxyRoute> own;
  std::vector<ProxyRoute> every;
  std::vector<ProxyRoute> socks;
  const auto add = [](std::vector<ProxyRoute>& to, std::string_view text, int kind,
                      std::uint16_t port) {
    if (std::optional<ProxyRoute> route = ParseProxyUrl(text, kind, port)) to.push_back(*route);
  };
  for (const std::string_view entry : SplitProxyList(list, "; \t\r\n")) {
    const std::size_t equals = entry.find('=');
    if (EqualsIgnoreCase(entry, "DIRECT")) {
      every.push_back(ProxyRoute{});
    } else if (equals == std::string_view::npos) {
      add(every, entry, PROXY_HTTP, kHttpProxyPort);
    } else if (EqualsIgnoreCase(entry.substr(0, equals), tls ? "https" : "http")) {
      add(own, entry.substr(equals + 1), PROXY_HTTP, kHttpProxyPort);
    } else if (EqualsIgnoreCase(entry.substr(0, equals), "socks")) {
      add(socks, entry.substr(equals + 1), PROXY_SOCKS4A, kSocksProxyPort);
    }
  }
  return !own.empty() ? own : !every.empty() ? every : socks;
}

}  // namespace http
