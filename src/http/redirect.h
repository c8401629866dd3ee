// Where a redirect leads: the Location value resolved against the URL that
// was redirected, as RFC 3986 resolves references, never above the root.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace http {

// The absolute URL that `location` names when it came in answer to a request
// for `object` on `host`:`port` over http, or https when `tls` (`host` as a
// URL writes it, an IPv6 address in brackets). A location
// with a scheme comes back as it is (only "http" and "https" will parse
// afterwards); "//host/path" gets the request's scheme; a rooted path keeps
// scheme, host and port; a relative path is resolved against the directory
// of `object`. Backslashes count as "/". The fragment is dropped.
std::string ResolveRedirect(bool tls, std::string_view host, std::uint16_t port,
                            std::string_view object, std::string_view location);

// "/a/b/../c/./d" gives "/a/c/d"; ".." at the root stays at the root.
std::string RemoveDotSegments(std::string_view path);

}  // namespace http
