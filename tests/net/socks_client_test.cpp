// SOCKS messages: the bytes each request puts on the wire, the replies read
// from scripted bytes over a loopback connection, and how replies are judged.
#include "net/socks_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "loopback.h"

namespace {

using nettest::Connection;
using testsupport::TcpListener;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kTimeoutMs = 2000;

std::string AsText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::uint32_t Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t address;
  std::memcpy(&address, bytes, 4);
  return address;
}

class SocksRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    connection = nettest::Connect(listener);
    ASSERT_TRUE(connection.peer.valid());
  }
  // A marker sent after the requests shows what reached the peer before it.
  void ExpectNextOnTheWire(const std::string& bytes) {
    ASSERT_EQ(net::SocketSendAll(s(), "END", 3, kTimeoutMs), 3);
    EXPECT_EQ(connection.peer.Receive(bytes.size() + 3), bytes + "END");
  }
  net::SocketHandle s() const { return connection.socket.get(); }

  TcpListener listener;
  Connection connection;
};

TEST_F(SocksRequests, WireBytesOfEveryRequestKind) {
  const std::uint8_t noAuth[] = {0};
  const std::uint8_t noAuthOrLogin[] = {0, 2};
  const std::uint8_t loopback[] = {127, 0, 0, 1};
  Bytes ipv6(16, 0);
  ipv6[15] = 1;
  struct Case {
    const char* what;
    std::function<int(net::SocketHandle)> send;
    Bytes wire;
  };
  const Case cases[] = {
      {"SOCKS4, empty user id",
       [](net::SocketHandle s) {
         return net::Socks4Connect(s, 1, 80, Ipv4(10, 0, 0, 1), "", kTimeoutMs);
       },
       {4, 1, 0, 80, 10, 0, 0, 1, 0}},
      {"SOCKS4, no user id",
       [](net::SocketHandle s) {
         return net::Socks4Connect(s, 1, 80, Ipv4(10, 0, 0, 1), nullptr, kTimeoutMs);
       },
       {4, 1, 0, 80, 10, 0, 0, 1, 0}},
      {"SOCKS4, user id",
       [](net::SocketHandle s) {
         return net::Socks4Connect(s, 1, 8080, Ipv4(1, 2, 3, 4), "bob", kTimeoutMs);
       },
       {4, 1, 0x1F, 0x90, 1, 2, 3, 4, 'b', 'o', 'b', 0}},
      {"SOCKS4a, host h",
       [](net::SocketHandle s) { return net::Socks4aConnect(s, 1, 80, "h", "", kTimeoutMs); },
       {4, 1, 0, 80, 0, 0, 0, 1, 0, 'h', 0}},
      {"SOCKS4a, user and host",
       [](net::SocketHandle s) {
         return net::Socks4aConnect(s, 1, 443, "a.test", "u", kTimeoutMs);
       },
       {4, 1, 1, 187, 0, 0, 0, 1, 'u', 0, 'a', '.', 't', 'e', 's', 't', 0}},
      {"greeting, no authentication",
       [&](net::SocketHandle s) { return net::Socks5Greeting(s, 1, noAuth, kTimeoutMs); },
       {5, 1, 0}},
      {"greeting, no authentication or login",
       [&](net::SocketHandle s) { return net::Socks5Greeting(s, 2, noAuthOrLogin, kTimeoutMs); },
       {5, 2, 0, 2}},
      {"login, empty password",
       [](net::SocketHandle s) { return net::Socks5Login(s, "user", "", kTimeoutMs); },
       {1, 4, 'u', 's', 'e', 'r', 0}},
      {"login",
       [](net::SocketHandle s) { return net::Socks5Login(s, "u", "pw", kTimeoutMs); },
       {1, 1, 'u', 2, 'p', 'w'}},
      {"SOCKS5 request, type 1",
       [&](net::SocketHandle s) { return net::Socks5Connect(s, 1, 1, loopback, 443, kTimeoutMs); },
       {5, 1, 0, 1, 127, 0, 0, 1, 1, 187}},
      {"SOCKS5 request, type 3",
       [](net::SocketHandle s) { return net::Socks5Connect(s, 1, 3, "ab.test", 80, kTimeoutMs); },
       {5, 1, 0, 3, 7, 'a', 'b', '.', 't', 'e', 's', 't', 0, 80}},
      {"SOCKS5 request, type 3, empty name",
       [](net::SocketHandle s) { return net::Socks5Connect(s, 1, 3, "", 80, kTimeoutMs); },
       {5, 1, 0, 3, 0, 0, 80}},
      {"SOCKS5 request, type 4",
       [&](net::SocketHandle s) {
         return net::Socks5Connect(s, 1, 4, ipv6.data(), 80, kTimeoutMs);
       },
       {5, 1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 80}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.send(s()), 0);
    EXPECT_EQ(connection.peer.Receive(c.wire.size()), AsText(c.wire));
  }
  ExpectNextOnTheWire("");
}

TEST_F(SocksRequests, TextsUpTo255BytesTravelWithTheirLengthByte) {
  const std::string longest(255, 'n');
  ASSERT_EQ(net::Socks5Login(s(), longest.c_str(), "", kTimeoutMs), 0);
  ASSERT_EQ(net::Socks5Connect(s(), 1, 3, longest.c_str(), 80, kTimeoutMs), 0);
  ExpectNextOnTheWire(std::string("\x01\xff", 2) + longest + std::string(1, '\0') +
                      std::string("\x05\x01\x00\x03\xff", 5) + longest +
                      std::string("\x00\x50", 2));
}

TEST_F(SocksRequests, TextsTooLongForTheirLengthByteAreRefusedWithNothingSent) {
  const std::string tooLong(256, 'n');
  EXPECT_EQ(net::Socks5Login(s(), tooLong.c_str(), "pw", kTimeoutMs), -1);
  EXPECT_EQ(net::Socks5Login(s(), "user", tooLong.c_str(), kTimeoutMs), -1);
  EXPECT_EQ(net::Socks5Connect(s(), 1, 3, tooLong.c_str(), 80, kTimeoutMs), -1);
  ExpectNextOnTheWire("");
}

TEST_F(SocksRequests, UnknownKindAndInvalidSocketSendNothing) {
  net::SocksRequest request;
  request.userId = "x";
  EXPECT_EQ(net::SocksSendRequest(s(), request, static_cast<net::SocksRequestKind>(9), kTimeoutMs),
            -1);
  EXPECT_EQ(net::SocksSendRequest(net::kInvalidSocket, request, net::SOCKS4_REQUEST, kTimeoutMs),
            -1);
  ExpectNextOnTheWire("");
}

TEST(SocksRequestLength, FollowsTheKindAndTheTexts) {
  const std::string tooLong(256, 'x');
  struct Case {
    const char* what;
    net::SocksRequest request;
    int kind;
    std::int32_t length;
  };
  auto with = [](auto fill) {
    net::SocksRequest request;
    fill(request);
    return request;
  };
  const Case cases[] = {
      {"SOCKS4, no user id", {}, net::SOCKS4_REQUEST, 9},
      {"SOCKS4, user id", with([](auto& r) { r.userId = "abc"; }), net::SOCKS4_REQUEST, 12},
      {"SOCKS4a", with([](auto& r) { r.hostName = "h"; }), net::SOCKS4A_REQUEST, 11},
      {"greeting", with([](auto& r) { r.methodCount = 3; }), net::SOCKS5_GREETING, 5},
      {"login", with([](auto& r) {
         r.userName = "u";
         r.password = "pw";
       }),
       net::SOCKS5_LOGIN, 6},
      {"login, name too long", with([&](auto& r) { r.userName = tooLong.c_str(); }),
       net::SOCKS5_LOGIN, 0},
      {"SOCKS5 type 1", with([](auto& r) { r.addressType = 1; }), net::SOCKS5_REQUEST, 10},
      {"SOCKS5 type 3", with([](auto& r) {
         r.addressType = 3;
         r.hostName = "abc";
       }),
       net::SOCKS5_REQUEST, 10},
      {"SOCKS5 type 3, name too long", with([&](auto& r) {
         r.addressType = 3;
         r.hostName = tooLong.c_str();
       }),
       net::SOCKS5_REQUEST, 0},
      {"SOCKS5 type 4", with([](auto& r) { r.addressType = 4; }), net::SOCKS5_REQUEST, 22},
      {"SOCKS5 another type: no address bytes", with([](auto& r) { r.addressType = 9; }),
       net::SOCKS5_REQUEST, 6},
      {"unknown kind", {}, 0, 0},
      {"another unknown kind", {}, 0x21, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(net::SocksRequestLength(c.request, static_cast<net::SocksRequestKind>(c.kind)),
              c.length)
        << c.what;
  }
}

class SocksReplies : public ::testing::Test {
 protected:
  // The proxy sends `bytes` and closes; once they are there, a reader holds
  // the connection.
  void Start(const Bytes& bytes) {
    connection = nettest::Connect(listener);
    ASSERT_TRUE(connection.peer.valid());
    ASSERT_TRUE(connection.peer.SendAll(AsText(bytes)));
    connection.peer.Close();
    ASSERT_TRUE(testsupport::WaitReadable(connection.socket.get(), 5000));
    reader = net::ReaderCreate(connection.socket.get(), 10240);
    ASSERT_TRUE(reader);
  }
  // What the reader still yields after the reply.
  Bytes Rest() {
    Bytes rest;
    std::uint8_t chunk[256];
    for (int n; (n = net::ReaderRead(*reader, chunk, sizeof chunk, kTimeoutMs)) > 0;) {
      rest.insert(rest.end(), chunk, chunk + n);
    }
    return rest;
  }

  TcpListener listener;
  Connection connection;
  std::unique_ptr<net::SocketReader> reader;
};

TEST_F(SocksReplies, ReadByteByByteLeavingWhatFollowsInTheReader) {
  struct Case {
    const char* what;
    int kind;
    Bytes bytes;
    int result;
    std::uint8_t version, code;
    std::uint16_t port;   // SOCKS4 port, SOCKS5 bound port
    std::string address;  // SOCKS4 address bytes, SOCKS5 bound address
    Bytes rest;
  };
  const std::string ipv6 = std::string(15, '\0') + "\x01";
  const Case cases[] = {
      {"SOCKS4 granted",
       net::SOCKS4_REPLY,
       {0, 90, 0x1F, 0x90, 1, 2, 3, 4},
       0,
       0,
       90,
       8080,
       "\x01\x02\x03\x04",
       {}},
      {"SOCKS4 rejected",
       net::SOCKS4_REPLY,
       {0, 91, 0, 0, 0, 0, 0, 0},
       0,
       0,
       91,
       0,
       std::string(4, '\0'),
       {}},
      {"SOCKS4a granted, then the response",
       net::SOCKS4A_REPLY,
       {0, 90, 0, 80, 9, 9, 9, 9, 'H', 'T', 'T', 'P'},
       0,
       0,
       90,
       80,
       "\x09\x09\x09\x09",
       {'H', 'T', 'T', 'P'}},
      {"SOCKS4 cut after the first byte",
       net::SOCKS4_REPLY,
       {0},
       -1,
       0,
       0,
       0,
       std::string(4, '\0'),
       {}},
      {"method reply", net::SOCKS5_METHOD_REPLY, {5, 2, 'x'}, 0, 5, 2, 0, "", {'x'}},
      {"method reply cut after the first byte", net::SOCKS5_METHOD_REPLY, {5}, -1, 5, 0, 0, "", {}},
      {"login reply", net::SOCKS5_LOGIN_REPLY, {1, 0}, 0, 1, 0, 0, "", {}},
      {"login reply cut after the first byte", net::SOCKS5_LOGIN_REPLY, {1}, -1, 1, 0, 0, "", {}},
      {"SOCKS5, type 1",
       net::SOCKS5_REPLY,
       {5, 0, 0, 1, 10, 0, 0, 1, 0x1F, 0x90},
       0,
       5,
       0,
       8080,
       std::string("\x0a\x00\x00\x01", 4),
       {}},
      {"SOCKS5, type 3 with an empty name",
       net::SOCKS5_REPLY,
       {5, 0, 0, 3, 0, 0, 80, 'H'},
       0,
       5,
       0,
       80,
       "",
       {'H'}},
      {"SOCKS5, type 3",
       net::SOCKS5_REPLY,
       {5, 0, 0, 3, 2, 'p', 'x', 1, 0},
       0,
       5,
       0,
       256,
       "px",
       {}},
      {"SOCKS5, type 4",
       net::SOCKS5_REPLY,
       {5, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 80},
       0,
       5,
       0,
       80,
       ipv6,
       {}},
      {"SOCKS5, another type: port only",
       net::SOCKS5_REPLY,
       {5, 0, 0, 9, 0, 80, 'H'},
       0,
       5,
       0,
       80,
       "",
       {'H'}},
      {"SOCKS5 failure stops before the address",
       net::SOCKS5_REPLY,
       {5, 5, 0, 1, 10, 0, 0, 1, 0, 80},
       0,
       5,
       5,
       0,
       "",
       {10, 0, 0, 1, 0, 80}},
      {"SOCKS5 then the response",
       net::SOCKS5_REPLY,
       {5, 0, 0, 1, 1, 1, 1, 1, 0, 80, 'H', 'T', 'T', 'P', '/'},
       0,
       5,
       0,
       80,
       "\x01\x01\x01\x01",
       {'H', 'T', 'T', 'P', '/'}},
      {"SOCKS5 cut after the first byte", net::SOCKS5_REPLY, {5}, -1, 5, 0, 0, "", {}},
      {"SOCKS5 cut in the address", net::SOCKS5_REPLY, {5, 0, 0, 1, 10, 0}, -1, 5, 0, 0, "", {}},
      {"SOCKS5 cut in the name", net::SOCKS5_REPLY, {5, 0, 0, 3, 4, 'a'}, -1, 5, 0, 0, "", {}},
      {"SOCKS5 cut in the port",
       net::SOCKS5_REPLY,
       {5, 0, 0, 1, 10, 0, 0, 1, 0},
       -1,
       5,
       0,
       0,
       "",
       {}},
      {"unknown kind reads nothing", 0x26, {5, 0}, 0, 0, 0, 0, "", {5, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start(c.bytes);
    if (HasFatalFailure()) return;
    net::SocksReply reply;
    reply.code = 77;  // cleared by the read
    reply.boundAddress = "old";
    reply.boundPort = 77;
    const auto kind = static_cast<net::SocksReplyKind>(c.kind);
    EXPECT_EQ(net::SocksReadReply(*reader, reply, kind, kTimeoutMs), c.result);
    EXPECT_EQ(reply.version, c.version);
    EXPECT_EQ(reply.code, c.code);
    if (kind == net::SOCKS4_REPLY || kind == net::SOCKS4A_REPLY) {
      EXPECT_EQ(reply.port, c.port);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(&reply.address), 4), c.address);
    } else {
      EXPECT_EQ(reply.boundPort, c.port);
      EXPECT_EQ(reply.boundAddress, c.address);
    }
    EXPECT_EQ(Rest(), c.rest);
  }
}

TEST(SocksReplyOk, JudgesTheCodeAloneByKind) {
  struct Case {
    int kind;
    std::uint8_t version;
    std::uint8_t code;
    bool ok;
  };
  const Case cases[] = {
      {net::SOCKS4_REPLY, 0, 90, true},
      {net::SOCKS4_REPLY, 4, 90, true},
      {net::SOCKS4_REPLY, 0, 91, false},
      {net::SOCKS4_REPLY, 0, 0, false},
      {net::SOCKS4A_REPLY, 0, 90, true},
      {net::SOCKS4A_REPLY, 0, 92, false},
      {net::SOCKS5_METHOD_REPLY, 5, 0, true},
      {net::SOCKS5_METHOD_REPLY, 5, 1, true},
      {net::SOCKS5_METHOD_REPLY, 5, 2, true},
      {net::SOCKS5_METHOD_REPLY, 5, 3, true},
      {net::SOCKS5_METHOD_REPLY, 5, 4, false},
      {net::SOCKS5_METHOD_REPLY, 5, 0xFF, false},
      {net::SOCKS5_LOGIN_REPLY, 1, 0, true},
      {net::SOCKS5_LOGIN_REPLY, 1, 1, false},
      {net::SOCKS5_REPLY, 5, 0, true},
      {net::SOCKS5_REPLY, 0, 0, true},
      {net::SOCKS5_REPLY, 5, 1, false},
      {0x26, 5, 0, false},
      {0, 0, 0, false},
  };
  for (const Case& c : cases) {
    net::SocksReply reply;
    reply.version = c.version;
    reply.code = c.code;
    EXPECT_EQ(net::SocksReplyOk(reply, static_cast<net::SocksReplyKind>(c.kind)), c.ok)
        << "kind " << c.kind << " version " << int{c.version} << " code " << int{c.code};
  }
}

}  // namespace
