// The client messages of SOCKS4, its 4a extension (destination by name) and
// SOCKS5 with user name and password login (RFC 1928, RFC 1929): building and
// sending the requests, and reading and judging the proxy's replies byte by
// byte through the connection's SocketReader, so that whatever the proxy sends
// after a reply stays there for the exchange that follows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/event_socket.h"
#include "net/socket_reader.h"

namespace net {

enum SocksRequestKind : int {
  SOCKS4_REQUEST = 1,
  SOCKS4A_REQUEST = 2,
  SOCKS5_GREETING = 3,
  SOCKS5_LOGIN = 4,
  SOCKS5_REQUEST = 5,
};

enum SocksReplyKind : int {
  SOCKS4_REPLY = 0x21,
  SOCKS4A_REPLY = 0x22,
  SOCKS5_METHOD_REPLY = 0x23,
  SOCKS5_LOGIN_REPLY = 0x24,
  SOCKS5_REPLY = 0x25,
};

inline constexpr std::uint8_t SOCKS_COMMAND_CONNECT = 1;
inline constexpr std::uint8_t SOCKS5_ADDRESS_IPV4 = 1;
inline constexpr std::uint8_t SOCKS5_ADDRESS_NAME = 3;
inline constexpr std::uint8_t SOCKS5_ADDRESS_IPV6 = 4;
// The most bytes a text may have where one length byte carries its size.
inline constexpr std::size_t SOCKS_MAX_COUNTED_TEXT = 255;

// One request; which fields count depends on its kind. Texts are
// NUL-terminated and owned by the caller; a null text counts as empty. The
// version bytes, the reserved byte and the lengths follow from the kind and
// the texts.
struct SocksRequest {
  std::uint8_t command = 0;        // SOCKS4, SOCKS4a, SOCKS5 request
  std::uint16_t port = 0;          // host order
  std::uint32_t address = 0;       // SOCKS4: IPv4 address in network order
  const char* userId = nullptr;    // SOCKS4, SOCKS4a
  const char* hostName = nullptr;  // SOCKS4a; SOCKS5 request of address type 3
  std::uint8_t methodCount = 0;    // greeting
  const std::uint8_t* methods = nullptr;
  const char* userName = nullptr;  // login
  const char* password = nullptr;
  std::uint8_t addressType = 0;                // SOCKS5 request: 1, 3 or 4
  const std::uint8_t* addressBytes = nullptr;  // type 1: 4 bytes, type 4: 16 (null: zeros)
};

// A reply as read; cleared at the start of every read.
struct SocksReply {
  std::uint8_t version = 0;
  std::uint8_t code = 0;
  std::uint16_t port = 0;     // SOCKS4, SOCKS4a: host order
  std::uint32_t address = 0;  // SOCKS4, SOCKS4a: the four bytes in wire order
  std::uint8_t reserved = 0;  // SOCKS5 reply
  std::uint8_t addressType = 0;
  std::string boundAddress;     // 4 bytes for type 1, the name for type 3, 16 for type 4
  std::uint16_t boundPort = 0;  // host order; 0 when `code` is not 0
};

// The message's length in bytes; 0 for an unknown kind and for a request
// that cannot travel: a user name, password or SOCKS5 host name longer than
// SOCKS_MAX_COUNTED_TEXT bytes, which one length byte cannot carry.
std::int32_t SocksRequestLength(const SocksRequest& request, SocksRequestKind kind);
// Writes the SocksRequestLength bytes of the message to `destination`; always 0.
int SocksBuildRequest(void* destination, const SocksRequest& request, SocksRequestKind kind);
// Builds the message and sends it whole: 0; -1 for kInvalidSocket, a request
// of length 0 (nothing is sent), no memory, or a send that did not finish (the
// transport's code stays stored).
int SocksSendRequest(SocketHandle s, const SocksRequest& request, SocksRequestKind kind,
                     std::uint32_t timeoutMs);

// The sending operations; each 0 when the whole request went out, else -1.
int Socks4Connect(SocketHandle s, std::uint8_t command, std::uint16_t port, std::uint32_t address,
                  const char* userId, std::uint32_t timeoutMs);
int Socks4aConnect(SocketHandle s, std::uint8_t command, std::uint16_t port, const char* hostName,
                   const char* userId, std::uint32_t timeoutMs);
int Socks5Greeting(SocketHandle s, std::uint8_t methodCount, const std::uint8_t* methods,
                   std::uint32_t timeoutMs);
// Refuses (-1, nothing sent) a user name or password over 255 bytes.
int Socks5Login(SocketHandle s, const char* userName, const char* password,
                std::uint32_t timeoutMs);
// `address`: for type 1 the 4 bytes of an IPv4 address in network order, for
// type 4 16 bytes, for type 3 the host name as a NUL-terminated text (the
// request puts its length byte before it, and refuses, -1 with nothing sent,
// a name over 255 bytes).
int Socks5Connect(SocketHandle s, std::uint8_t command, std::uint8_t addressType,
                  const void* address, std::uint16_t port, std::uint32_t timeoutMs);

// Reads one reply of `kind` byte by byte: 0 when read (also a SOCKS5 reply
// with a non-zero code, whose address and port are then left unread); -1 when
// a byte could not be had (a bound address read in part is dropped). An
// unknown kind reads nothing and gives 0.
int SocksReadReply(SocketReader& reader, SocksReply& reply, SocksReplyKind kind,
                   std::uint32_t timeoutMs);
// Whether the reply reports success, by its code alone: 90 for SOCKS4 and
// SOCKS4a, a method 0 to 3 for the method reply, 0 for the login and the
// SOCKS5 reply; false for an unknown kind.
bool SocksReplyOk(const SocksReply& reply, SocksReplyKind kind);

}  // namespace net
