// Proxies as the user's settings write them: a proxy URL the way curl reads
// its environment and --proxy, and a proxy list the way Windows keeps its
// manual setting and WinHTTP answers for a configuration script. Pure
// parsers: whatever is not one of these forms is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/host_connection.h"

namespace http {

// One way to the server: direct (kind PROXY_NONE) or through one proxy.
struct ProxyRoute {
  int kind = 0;  // an http::ProxyKind
  std::string host;
  std::uint16_t port = 0;
  int auth = 0;  // nonzero: user and password go to the proxy
  std::string user;
  std::string password;
};

// [SCHEME://][USER[:PASSWORD]@]HOST[:PORT][/...]: SCHEME http, socks4,
// socks4a, socks5 or socks5h (the proxy resolves the name), in any case;
// without one `defaultKind`. USER and PASSWORD are percent-decoded; HOST may
// be an IPv6 address in brackets. Without a port `defaultPort`. Nothing for
// another scheme, no host, a port that is not 1 to 65535, or a control byte.
std::optional<ProxyRoute> ParseProxyUrl(std::string_view text, int defaultKind,
                                        std::uint16_t defaultPort);

// The scheme of a proxy URL for a proxy kind ("socks5h" for
// PROXY_SOCKS5_HOSTNAME); null for PROXY_NONE and kinds without one.
const char* ProxyScheme(int kind);

// The routes that a Windows proxy list names for an http or, with `tls`,
// https address, in the order to try them. Entries are split by ";" or
// blanks: "SCHEME=PROXY" for one scheme (http, https, socks), "PROXY" for
// every scheme, "DIRECT" for a direct connection. The entries of the
// address's own scheme count first, then those for every scheme, then the
// socks one (SOCKS4a). A PROXY is a proxy URL; its port is 80 by default
// (1080 for socks). Entries that are not understood are left out.
std::vector<ProxyRoute> ProxyListRoutes(std::string_view list, bool tls);

// An IPv4 address in dotted decimal or an IPv6 address in its text forms
// (without brackets), as 16 bytes (IPv4 in the first four) and its family.
using IpAddress = net::IpAddress;
std::optional<IpAddress> ParseIpAddress(std::string_view text);

// The non-empty pieces of `text` between any of the `separators`.
std::vector<std::string_view> SplitProxyList(std::string_view text, std::string_view separators);

// "HOST:PORT", "[IPV6]:PORT" or a host alone (an IPv6 address without
// brackets never has a port): the host and, when one is given, the port.
// False for a port that is not 1 to 65535 or a bracket left open.
bool SplitHostPort(std::string_view text, std::string_view& host,
                   std::optional<std::uint16_t>& port);

}  // namespace http
