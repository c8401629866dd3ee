// SOCKS request messages as built for the wire. The engine's SOCKS tests
// (tests/http/socks_setup_test.cpp) see the same bytes arrive at a proxy, and
// the socks_reply fuzz target checks every reply read against the formats;
// here are the kinds and texts the engine never sends.
#include "net/socks_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/event_socket.h"

namespace {

TEST(SocksBuildRequest, WireBytesAndLengthOfEveryKind) {
  using namespace std::string_literals;
  const std::string tooLong(256, 'n');
  const char* const n256 = tooLong.c_str();
  const std::string zeros = std::string(17, '\0') + "\x50";  // 16 zero address bytes, port 80
  struct Case {
    const char* what;
    net::SocksRequest request;
    int kind;
    std::string wire;  // "" when the request cannot travel
  };
  const Case cases[] = {
      {"login, name of 256 bytes", {.userName = n256, .password = "p"}, net::SOCKS5_LOGIN, ""},
      {"login, 256 bytes", {.userName = "u", .password = n256}, net::SOCKS5_LOGIN, ""},
      {"type 3, no name", {.port = 80, .addressType = 3}, net::SOCKS5_REQUEST, "\5\0\0\3\0\0\x50"s},
      {"type 3, 256 bytes", {.hostName = n256, .addressType = 3}, net::SOCKS5_REQUEST, ""},
      {"type 4, zeros", {.port = 80, .addressType = 4}, net::SOCKS5_REQUEST, "\5\0\0\4"s + zeros},
      {"type 9", {.port = 80, .addressType = 9}, net::SOCKS5_REQUEST, "\5\0\0\x09\0\x50"s},
      {"unknown kind", {}, 0x21, ""},
  };
  for (const Case& c : cases) {
    const auto kind = static_cast<net::SocksRequestKind>(c.kind);
    const std::int32_t length = net::SocksRequestLength(c.request, kind);
    ASSERT_EQ(length, static_cast<std::int32_t>(c.wire.size())) << c.what;
    std::vector<char> bytes(c.wire.size() + 1, '?');
    EXPECT_EQ(net::SocksBuildRequest(bytes.data(), c.request, kind), 0) << c.what;
    EXPECT_EQ(std::string(bytes.data(), c.wire.size()), c.wire) << c.what;
    EXPECT_EQ(bytes.back(), '?') << c.what;  // nothing past the length
  }
  // What cannot travel is not sent at all.
  const net::UniqueSocket s(net::SocketCreate(2, 1, 0));
  EXPECT_EQ(net::SocksSendRequest(s.get(), net::SocksRequest{}, net::SocksRequestKind{0x21}, 100),
            -1);
  EXPECT_EQ(net::Socks5Login(net::kInvalidSocket, "u", "p", 100), -1);
  EXPECT_EQ(
      net::SocksSendRequest(net::kInvalidSocket, net::SocksRequest{}, net::SOCKS4_REQUEST, 100),
      -1);
}

}  // namespace
