// Reaching the server through a SOCKS4, SOCKS4a or SOCKS5 proxy: connect to
// the proxy, then have it connect onward to host:port. Afterwards the
// downloader's connection and reader carry the HTTP exchange exactly as on a
// direct connection, and whatever the proxy sent after its last reply stays in
// the reader as the start of the response.
#pragma once

#include "http/http_downloader.h"

namespace http {

// Runs the handshake that proxy.kind names with `proxy`, connecting
// d.connection and d.socketReader to it, with the downloader's time-outs.
// REQUEST_OK: the tunnel stands, the request goes next.
// REQUEST_RETRY: a transient failure - the proxy cannot be reached, a request
// does not go out whole, a reply is cut short or reports failure, or (SOCKS4)
// the destination does not resolve on this side.
// REQUEST_FAILED: no later attempt can do better - no proxy host, a kind that
// is not SOCKS, a SOCKS5 method this client does not speak (or login without
// credentials), a destination that SOCKS4 cannot name (an IPv6 address, or
// for plain SOCKS4 a name with IPv6 addresses alone here), or a user name,
// password or host name that its message cannot carry whole (over 255 bytes
// where one length byte counts it, or holding a NUL byte where a NUL ends it).
// SOCKS5 carries the destination's first address found here, IPv4 or IPv6,
// and its name when none is found.
// On failure the connection stays open; the next OpenConnection or
// CloseConnection releases it.
RequestResult SetUpSocksConnection(HttpDownloader& d, const ProxyRoute& proxy);

}  // namespace http
