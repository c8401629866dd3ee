// SocksReadReply on any bytes. Input: one byte that picks the reply kind
// (the five kinds and two unknown ones), then what the proxy sends. The
// fields are pinned by the handshake tables of tests/http; here a reply is
// read exactly when the bytes hold one (SOCKS4: 8 bytes, RFC 1928 and 1929
// for SOCKS5), and the reader keeps every byte after it for the HTTP
// exchange.
#include <cstdint>
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
  if (kind == net::SOCKS4_REPLY || kind == net::SOCKS4A_REPLY) {
    need = 8;
  } else if (kind == net::SOCKS5_METHOD_REPLY || kind == net::SOCKS5_LOGIN_REPLY) {
    need = 2;
  } else if (kind == net::SOCKS5_REPLY) {
    if (bytes.size() < 4) return std::nullopt;
    const int type =
        bytes[1] != 0 ? -1 : static_cast<unsigned char>(bytes[3]);  // -1: a refusal, header only
    if (type == 3 && bytes.size() < 5) return std::nullopt;
    need = type == -1  ? 4
           : type == 1 ? 10
           : type == 3 ? 7 + static_cast<unsigned char>(bytes[4])
           : type == 4 ? 22
                       : 6;
  }
  if (bytes.size() < need) return std::nullopt;
  return need;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The five kinds (0x21 to 0x25), then two the reader does not know.
  const int kind = net::SOCKS4_REPLY + data[0] % 7;
  const std::string_view bytes = fuzz::AsText(data + 1, size - 1);
  const std::uint32_t seed = fuzz::HashOf(fuzz::AsText(data, size));
  // A small ring as well, so that replies wrap around its end.
  fuzz::FedReader fed(bytes, seed, (seed & 0x20000) != 0 ? 7 : 10240);
  net::SocksReply reply;
  const auto replyKind = static_cast<net::SocksReplyKind>(kind);
  const int result = net::SocksReadReply(*fed.reader, reply, replyKind, 1000);
  const std::optional<std::size_t> length = ReplyLength(bytes, kind);
  FUZZ_CHECK(result == (length ? 0 : -1));
  if (!length) return 0;
  // A reply of a kind the client does not know is never a success.
  if (*length == 0) FUZZ_CHECK(!net::SocksReplyOk(reply, replyKind));
  FUZZ_CHECK(fed.ReadRest() == bytes.substr(*length));
  return 0;
}
