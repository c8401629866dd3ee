// The SOCKS set-up against a proxy in the test process that follows a script,
// for what real proxies will not do: the bytes of every handshake as the proxy
// receives them, the outcome of each refusal and of replies cut short, and
// tunnels that carry the HTTP exchange afterwards - also when the proxy sends
// the start of the response right behind its reply.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "http/http_downloader.h"
#include "net/socket_library.h"
#include "recording_downloader.h"
#include "support/loopback_tcp.h"
#include "support/scratch_dir.h"
#include "support/scripted_server.h"
#include "support/table_names.h"

namespace {

using ProxySide = testsupport::ScriptedExchange;

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (const int value : values) bytes += static_cast<char>(value);
  return bytes;
}

std::size_t ReadCount(ProxySide& p) {
  const std::string count = p.Read(1);
  return count.empty() ? 0 : static_cast<unsigned char>(count[0]);
}

// Readers for the client's messages, by their own length fields.
void ReadSocks4Request(ProxySide& p) {
  const std::string head = p.Read(8);
  p.ReadThrough(std::string(1, '\0'));  // user id
  if (head.size() == 8 && head.compare(4, 3, std::string(3, '\0')) == 0 && head[7] != 0) {
    p.ReadThrough(std::string(1, '\0'));  // SOCKS4a host name
  }
}
void ReadSocks5Request(ProxySide& p) {
  const std::string head = p.Read(4);
  if (head.size() < 4) return;
  p.Read(head[3] == 1 ? 4 : head[3] == 4 ? 16 : head[3] == 3 ? ReadCount(p) : 0);
  p.Read(2);
}

const std::string kSocks4Granted = Bytes({0, 90, 0, 0, 0, 0, 0, 0});
const std::string kSocks4Rejected = Bytes({0, 91, 0, 0, 0, 0, 0, 0});
const std::string kSocks5Granted = Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x1F, 0x90});
std::string Method(int method) { return Bytes({5, method}); }

// The destination of every case: port 8080 (0x1F90).
constexpr const char* kPath = "/files/a.bin?v=2";
const std::string kPortBytes = Bytes({0x1F, 0x90});

// The destination names that resolve on this side; all others do not.
class SocksSetUp : public ::testing::Test {
 protected:
  testsupport::TableNames names_{{{"updates.example.test", testsupport::Ipv4(10, 1, 2, 3)}}};
  net::ScopedSocketCalls scoped_{names_};
};

struct Setting {
  Setting(int k = http::PROXY_SOCKS5, std::string h = "127.0.0.1", std::string u = "")
      : kind(k), host(std::move(h)), user(std::move(u)) {}
  int kind;
  std::string host;
  std::string user;
  std::string password;
  int proxyAuth = 0;
};

// SOCKS5 offering user name and password login.
Setting Login(std::string user, std::string password) {
  Setting s(http::PROXY_SOCKS5, "127.0.0.1", std::move(user));
  s.password = std::move(password);
  s.proxyAuth = 1;
  return s;
}

void Configure(http::HttpDownloader& d, const Setting& s, std::uint16_t proxyPort) {
  d.proxyKind = s.kind;
  d.proxyHost = "127.0.0.1";
  d.proxyPort = proxyPort;
  d.proxyAuth = s.proxyAuth;
  d.proxyUser = s.user;
  d.proxyPassword = s.password;
}

// Plays the proxy's side: reads each message of the client and sends the
// next reply. SOCKS5: the greeting, the login when the method reply picks 2,
// then the request. With `cut` the last reply
// goes out with its first byte only and the connection closes.
void Answer(ProxySide& p, int kind, const std::vector<std::string>& replies, bool cut,
            const std::string& behind) {
  for (std::size_t i = 0; i < replies.size(); ++i) {
    if (kind != http::PROXY_SOCKS5) {
      ReadSocks4Request(p);
    } else if (i == 0) {
      p.Read(1);
      p.Read(ReadCount(p));  // greeting
    } else if (i == 1 && replies[0] == Method(2)) {
      p.Read(1);
      p.Read(ReadCount(p));
      p.Read(ReadCount(p));  // login
    } else {
      ReadSocks5Request(p);
    }
    const bool last = i + 1 == replies.size();
    if (last && cut) {
      p.Send(replies[i].substr(0, 1));
      p.Close();
      return;
    }
    p.Send(last ? replies[i] + behind : replies[i]);
  }
}

// Each case downloads through a proxy that answers every connection alike,
// allowing one retry: a transient refusal shows as three connections, a fatal
// one as one. Every connection brings the handshake bytes `sent`; a tunnel
// then carries the request for the object and the whole body.
TEST_F(SocksSetUp, EveryHandshakeSendsItsBytesAndEndsAsItsAnswerDeserves) {
  enum Outcome { kOk, kFatal, kTransient };
  struct Case {
    const char* name;
    Setting setting;
    std::vector<std::string> replies;
    Outcome outcome;
    std::string sent;
    bool cut = false;
    bool responseBehindReply = false;  // in one send with the last reply
  };
  const int kSocks4 = http::PROXY_SOCKS4;
  const int kSocks4a = http::PROXY_SOCKS4A;
  const std::string longText(256, 'u');
  const std::string longName = std::string(248, 'n') + ".invalid";  // 256 bytes
  const std::string greeting = Bytes({5, 1, 0});
  const std::string greetingWithLogin = Bytes({5, 2, 0, 2});
  const std::string socks5ToLoopback = Bytes({5, 1, 0, 1, 127, 0, 0, 1}) + kPortBytes;
  const std::string socks4ToLoopback = Bytes({4, 1, 0x1F, 0x90, 127, 0, 0, 1, 0});
  const std::string aliceLogin = Bytes({1, 5}) + "alice" + Bytes({2}) + "pw";
  const Case cases[] = {
      {"method 0xFF: no acceptable method", {}, {Method(0xFF)}, kTransient, greeting},
      {"method 1: GSS-API", {}, {Method(1)}, kFatal, greeting},
      {"method 3: never offered", {}, {Method(3)}, kFatal, greeting},
      {"method 2 without credentials", {}, {Method(2)}, kFatal, greeting},
      {"login refused",
       Login("alice", "pw"),
       {Method(2), Bytes({1, 1})},
       kTransient,
       greetingWithLogin + aliceLogin},
      {"SOCKS5 reply 5: connection refused",
       {},
       {Method(0), Bytes({5, 5, 0, 1})},
       kTransient,
       greeting + socks5ToLoopback},
      {"SOCKS4 code 91", {kSocks4}, {kSocks4Rejected}, kTransient, socks4ToLoopback},
      {"SOCKS4a code 91",
       {kSocks4a, "updates.invalid"},
       {kSocks4Rejected},
       kTransient,
       Bytes({4, 1, 0x1F, 0x90, 0, 0, 0, 1, 0}) + "updates.invalid" + Bytes({0})},
      {"SOCKS4 reply cut", {kSocks4}, {kSocks4Granted}, kTransient, socks4ToLoopback, true},
      {"method reply cut", {}, {Method(0)}, kTransient, greeting, true},
      {"login reply cut",
       Login("u", ""),
       {Method(2), Bytes({1, 0})},
       kTransient,
       greetingWithLogin + Bytes({1, 1, 'u', 0}),
       true},
      {"SOCKS5 reply cut",
       {},
       {Method(0), kSocks5Granted},
       kTransient,
       greeting + socks5ToLoopback,
       true},
      // Texts that one length byte cannot count go nowhere, not cut short.
      {"user name over 255 bytes", Login(longText, "pw"), {Method(2)}, kFatal, greetingWithLogin},
      {"password over 255 bytes", Login("alice", longText), {Method(2)}, kFatal, greetingWithLogin},
      {"host name over 255 bytes", {http::PROXY_SOCKS5, longName}, {Method(0)}, kFatal, greeting},

      {"SOCKS4 to an address, empty user id",
       {kSocks4},
       {kSocks4Granted},
       kOk,
       socks4ToLoopback,
       false,
       true},
      {"SOCKS4 carries the user id also without proxyAuth",
       {kSocks4, "127.0.0.1", "alice"},
       {kSocks4Granted},
       kOk,
       Bytes({4, 1, 0x1F, 0x90, 127, 0, 0, 1}) + "alice" + Bytes({0})},
      {"SOCKS4 to a name resolved here",
       {kSocks4, "updates.example.test"},
       {kSocks4Granted},
       kOk,
       Bytes({4, 1, 0x1F, 0x90, 10, 1, 2, 3, 0}),
       false,
       true},
      {"SOCKS4a to a name resolved here goes as plain SOCKS4",
       {kSocks4a, "updates.example.test"},
       {kSocks4Granted},
       kOk,
       Bytes({4, 1, 0x1F, 0x90, 10, 1, 2, 3, 0}),
       false,
       true},
      {"SOCKS4a to a name the proxy resolves",
       {kSocks4a, "updates.invalid", "bob"},
       {kSocks4Granted},
       kOk,
       Bytes({4, 1, 0x1F, 0x90, 0, 0, 0, 1}) + "bob" + Bytes({0}) + "updates.invalid" + Bytes({0}),
       false,
       true},
      {"SOCKS5 to dotted text: address type 1",
       {},
       {Method(0), kSocks5Granted},
       kOk,
       greeting + socks5ToLoopback,
       false,
       true},
      {"SOCKS5 to a name resolved here: address type 1",
       {http::PROXY_SOCKS5, "updates.example.test"},
       {Method(0), kSocks5Granted},
       kOk,
       greeting + Bytes({5, 1, 0, 1, 10, 1, 2, 3}) + kPortBytes},
      {"SOCKS5 to a name the proxy resolves: address type 3",
       {http::PROXY_SOCKS5, "updates.invalid"},
       {Method(0), kSocks5Granted},
       kOk,
       greeting + Bytes({5, 1, 0, 3, 15}) + "updates.invalid" + kPortBytes,
       false,
       true},
      {"SOCKS5 reply binding an empty name",
       {},
       {Method(0), Bytes({5, 0, 0, 3, 0, 0x12, 0x34})},
       kOk,
       greeting + socks5ToLoopback,
       false,
       true},
      {"SOCKS5 with user name and password",
       Login("alice", "s3cret"),
       {Method(2), Bytes({1, 0}), kSocks5Granted},
       kOk,
       greetingWithLogin + Bytes({1, 5}) + "alice" + Bytes({6}) + "s3cret" + socks5ToLoopback,
       false,
       true},
      // Credentials go only where the proxy asks for them; unsent, their
      // length does not matter.
      {"SOCKS5 offered login, proxy picks none",
       Login(std::string(300, 'u'), "pw"),
       {Method(0), kSocks5Granted},
       kOk,
       greetingWithLogin + socks5ToLoopback,
       false,
       true},
  };
  const std::string body = testsupport::PatternBytes(50000, 7);
  const std::string response = testsupport::HttpResponse("HTTP/1.1 200 OK", "", body);
  for (const Case& c : cases) {
    testsupport::ScratchDir dir;
    const std::string target = dir.Join("a.bin");
    httptest::RecordingDownloader d;
    d.retryMode = http::RETRY_LIMITED;
    d.maxRetries = 1;
    testsupport::ScriptedServer proxy(
        [&](ProxySide& p) {
          Answer(p, c.setting.kind, c.replies, c.cut, c.responseBehindReply ? response : "");
          if (c.outcome != kOk) return;
          p.ReadThrough("\r\n\r\n");
          if (!c.responseBehindReply) p.Send(response);
        },
        /*raw=*/true);
    Configure(d, c.setting, proxy.port());
    // A host in the URL that the table of names knows, or not.
    const std::string url = "http://" + c.setting.host + ":8080" + kPath;
    EXPECT_EQ(d.Download(url, target, 0),
              c.outcome == kOk ? http::DOWNLOAD_OK : http::DOWNLOAD_FAILED)
        << c.name;
    proxy.Stop();
    const std::vector<std::string> transcripts = proxy.Requests();
    ASSERT_EQ(transcripts.size(), c.outcome == kTransient ? 3u : 1u) << c.name;
    for (const std::string& seen : transcripts) {
      if (c.outcome != kOk) {
        EXPECT_EQ(seen, c.sent) << c.name;
        continue;
      }
      EXPECT_EQ(seen.substr(0, c.sent.size()), c.sent) << c.name;
      // The request itself: the object, as on a direct connection.
      EXPECT_EQ(seen.substr(c.sent.size()).rfind("GET /files/a.bin?v=2 HTTP/1.1\r\n", 0), 0u)
          << c.name;
      EXPECT_TRUE(testsupport::ReadFileBytes(target) == body) << c.name;
    }
  }
}

TEST_F(SocksSetUp, RefusesWithoutContactingTheProxyWhatItCannotSend) {
  enum Proxy { kListening, kNoHost, kClosedPort };
  struct Case {
    const char* name;
    Setting setting;
    Proxy proxy;
    http::RequestResult expected;
  };
  const std::string userWithNul("al\0ce", 5);
  const Case cases[] = {
      // Plain SOCKS4 carries only an address; the name may resolve later.
      {"SOCKS4 to a name that does not resolve here",
       {http::PROXY_SOCKS4, "updates.invalid"},
       kListening,
       http::REQUEST_RETRY},
      {"SOCKS4 user id with a NUL byte",
       {http::PROXY_SOCKS4, "127.0.0.1", userWithNul},
       kListening,
       http::REQUEST_FAILED},
      {"SOCKS4a user id with a NUL byte",
       {http::PROXY_SOCKS4A, "updates.invalid", userWithNul},
       kListening,
       http::REQUEST_FAILED},
      {"SOCKS4 without a proxy host", {http::PROXY_SOCKS4}, kNoHost, http::REQUEST_FAILED},
      {"SOCKS4a without a proxy host", {http::PROXY_SOCKS4A}, kNoHost, http::REQUEST_FAILED},
      {"SOCKS5 without a proxy host", {}, kNoHost, http::REQUEST_FAILED},
      {"a proxy that does not listen", {}, kClosedPort, http::REQUEST_RETRY},
  };
  for (const Case& c : cases) {
    httptest::RecordingDownloader d;
    testsupport::ScriptedServer proxy([](ProxySide&) {}, /*raw=*/true);
    Configure(d, c.setting, c.proxy == kClosedPort ? testsupport::ClosedPort() : proxy.port());
    if (c.proxy == kNoHost) d.proxyHost.clear();
    d.url = "http://" + c.setting.host + ":8080/";
    ASSERT_NE(http::ParseUrl(d.url, d.host, d.object, d.port), 0) << c.name;
    EXPECT_EQ(d.SendRequest(1), c.expected) << c.name;
    d.CloseConnection();
    proxy.Stop();
    EXPECT_EQ(proxy.ConnectionCount(), 0) << c.name;
  }
}

}  // namespace
