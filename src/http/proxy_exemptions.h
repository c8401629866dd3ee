// The hosts that are reached without the proxy: no_proxy as curl reads it,
// and the bypass list of the Windows proxy setting.
#pragma once

#include <cstdint>
#include <string_view>

namespace http {

// no_proxy: entries split by commas or blanks; "*" exempts every host. An
// entry names a host and every host below it ("example.test" and
// ".example.test" both match example.test and www.example.test), or an IPv4
// or IPv6 address with an optional "/BITS" range; a ":PORT" (IPv6 in
// brackets) limits it to that port. Names match in any case; a trailing dot
// and the brackets of an IPv6 host do not count.
bool NoProxyMatches(std::string_view list, std::string_view host, std::uint16_t port);

// The bypass list: entries split by ";" (or commas and blanks). "<local>"
// exempts names without a dot; other entries are patterns in which "*"
// stands for any text ("*.example.test", "10.*"), with an optional
// "http://" or "https://" that limits them to that scheme and an optional
// ":PORT". Matched in any case against the whole host.
bool BypassListMatches(std::string_view list, std::string_view host, std::uint16_t port, bool tls);

}  // namespace http
