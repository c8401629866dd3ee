// SocksReadReply on any bytes. Input: one byte that picks the reply kind
// (the five kinds and two unknown ones), then what the proxy sends. Checks
// against the wire formats of SOCKS4 and SOCKS5 (RFC 1928, RFC 1929): a reply
// is read exactly when the bytes hold one; its fields are those bytes; the
// reader keeps every byte after it for the HTTP exchange; a cut reply fails
// with no bound address; and a reply of an unknown kind is no success.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "feed_socket_calls.h"
#include "fuzz_support.h"
#include "net/socks_client.h"

namespace {

// The length of the reply of `kind` at the start of `bytes`; nothing when
// the bytes stop before its end.
std::optional<std::size_t> ReplyLength(std::string_view bytes, int kind) {
  std::size_t need = 0;
  switch (kind) {
    case net::SOCKS4_REPLY:
    case net::SOCKS4A_REPLY:
      need = 8;
      break;
    case net::SOCKS5_METHOD_REPLY:
    case net::SOCKS5_LOGIN_REPLY:
      need = 2;
      break;
    case net::SOCKS5_REPLY:
      if (bytes.size() < 4) return std::nullopt;
      if (bytes[1] != 0) {
        need = 4;
      } else if (bytes[3] == 1) {
        need = 4 + 4 + 2;
      } else if (bytes[3] == 3) {
        if (bytes.size() < 5) return std::nullopt;
        need = 4 + 1 + static_cast<unsigned char>(bytes[4]) + 2;
      } else if (bytes[3] == 4) {
        need = 4 + 16 + 2;
      } else {
        need = 4 + 2;
      }
      break;
    default:
      need = 0;
  }
  if (bytes.size() < need) return std::nullopt;
  return need;
}

std::uint16_t BigEndian16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) << 8 |
                                    static_cast<unsigned char>(bytes[at + 1]));
}

void CheckFields(const net::SocksReply& reply, std::string_view bytes, int kind,
                 std::size_t length) {
  if (length == 0) {
    FUZZ_CHECK(reply.version == 0 && reply.code == 0);
    return;
  }
  FUZZ_CHECK(reply.version == static_cast<unsigned char>(bytes[0]));
  FUZZ_CHECK(reply.code == static_cast<unsigned char>(bytes[1]));
  if (kind == net::SOCKS4_REPLY || kind == net::SOCKS4A_REPLY) {
    FUZZ_CHECK(reply.port == BigEndian16(bytes, 2));
    FUZZ_CHECK(std::memcmp(&reply.address, bytes.data() + 4, 4) == 0);
  } else if (kind == net::SOCKS5_REPLY) {
    FUZZ_CHECK(reply.reserved == static_cast<unsigned char>(bytes[2]));
    FUZZ_CHECK(reply.addressType == static_cast<unsigned char>(bytes[3]));
    if (reply.code != 0) {
      FUZZ_CHECK(reply.boundAddress.empty() && reply.boundPort == 0);
      return;
    }
    std::string_view address;
    if (bytes[3] == 1) address = bytes.substr(4, 4);
    if (bytes[3] == 3) address = bytes.substr(5, static_cast<unsigned char>(bytes[4]));
    if (bytes[3] == 4) address = bytes.substr(4, 16);
    FUZZ_CHECK(reply.boundAddress == address);
    FUZZ_CHECK(reply.boundPort == BigEndian16(bytes, length - 2));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static constexpr int kKinds[] = {net::SOCKS4_REPLY,
                                   net::SOCKS4A_REPLY,
                                   net::SOCKS5_METHOD_REPLY,
                                   net::SOCKS5_LOGIN_REPLY,
                                   net::SOCKS5_REPLY,
                                   0x20,
                                   0x26};
  const int kind = kKinds[data[0] % (sizeof kKinds / sizeof kKinds[0])];
  const std::string_view bytes = fuzz::AsText(data + 1, size - 1);
  const std::uint32_t seed = fuzz::HashOf(fuzz::AsText(data, size));
  // A small ring as well, so that replies wrap around its end.
  fuzz::FedReader fed(bytes, seed, (seed & 0x20000) != 0 ? 7 : 10240);
  net::SocksReply reply;
  reply.boundAddress = "stale";
  reply.code = 0xEE;
  const int result =
      net::SocksReadReply(*fed.reader, reply, static_cast<net::SocksReplyKind>(kind), 1000);
  const std::optional<std::size_t> length = ReplyLength(bytes, kind);
  if (!length) {
    FUZZ_CHECK(result == -1);
    FUZZ_CHECK(reply.boundAddress.empty());
    return 0;
  }
  FUZZ_CHECK(result == 0);
  CheckFields(reply, bytes, kind, *length);
  // A reply of a kind the client does not know is never a success.
  if (*length == 0) FUZZ_CHECK(!net::SocksReplyOk(reply, static_cast<net::SocksReplyKind>(kind)));
  FUZZ_CHECK(fed.ReadRest() == bytes.substr(*length));
  return 0;
}
