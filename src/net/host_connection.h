// Reaching a host by name or address over IPv4 and IPv6: every address of
// the name is tried in order, the next one started whenever those under way
// have not connected within kConnectStaggerMs (and at once when one fails),
// and the first to connect is taken while the others are closed - the idea of
// RFC 8305, so that an address that never answers costs a quarter of a
// second rather than the whole time-out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "net/event_socket.h"
#include "platform/socket_calls.h"

namespace net {

using IpAddress = platform::IpAddress;

inline constexpr std::uint32_t kConnectStaggerMs = 250;
// A name with more addresses has only its first ones tried.
inline constexpr std::size_t kMostConnectAttempts = 16;

// An IPv6 address in its text form without brackets (RFC 4291, 2.2): eight
// groups of one to four hex digits split by ":", a run of zero groups written
// "::" once, the last two groups possibly a dotted IPv4 address. Nothing for
// any other text.
std::optional<IpAddress> ParseIpv6Text(std::string_view text);

// The addresses of `host`. A dotted IPv4 text (as ResolveHost reads it) or an
// IPv6 text is its own one address; a text with a colon is never looked up.
// A name is looked up for both families, in the system's order, on a resolver
// thread where the system has one, waited for at most `timeoutMs` and no
// longer once a stop is asked for (as ResolveHost). Empty on failure, nothing
// stored.
std::vector<IpAddress> ResolveHostAddresses(const char* host, int useResolverThread,
                                            std::uint32_t timeoutMs);

// The first IPv4 address among `addresses`, in network byte order;
// kInaddrNone when there is none.
std::uint32_t FirstIpv4Address(const std::vector<IpAddress>& addresses);

// A new socket connected to `host`:`port`: the name is resolved within
// `timeoutMs`, then its addresses are tried as above within `timeoutMs` more;
// a stop ends the wait as the time-out would. The socket is non-blocking.
// kInvalidSocket on failure, with the code stored: the last failed attempt's
// own, ErrTimedOut() when the time ran out or a stop came first, or for a name
// that does not resolve the thread's last socket error (as SocketConnectHost).
SocketHandle SocketConnectAddresses(const char* host, std::uint16_t port, std::uint32_t timeoutMs,
                                    int useResolverThread);

}  // namespace net
