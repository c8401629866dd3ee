// The SOCKS set-up against a proxy in the test process that follows a script,
// for what real proxies will not do: the bytes of every handshake as the proxy
// receives them, the outcome of each refusal and of replies cut short, and
// tunnels that carry the HTTP exchange afterwards - also when the proxy sends
// the start of the response right behind its reply.
#include <gtest/gtest.h>

#include <functional>
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

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (const int value : values) bytes += static_cast<char>(value);
  return bytes;
}

using ProxySide = testsupport::ScriptedExchange;

// A proxy that runs its script on every connection and keeps what each
// connection brought.
class ScriptedProxy {
 public:
  using Script = testsupport::ScriptedServer::Script;
  explicit ScriptedProxy(Script script) : server_(std::move(script), /*raw=*/true) {}
  std::uint16_t port() const { return server_.port(); }
  std::vector<std::string> Finish() {
    server_.Stop();
    return server_.Requests();
  }

 private:
  testsupport::ScriptedServer server_;
};

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
void ReadGreeting(ProxySide& p) {
  p.Read(1);
  p.Read(ReadCount(p));
}
void ReadLogin(ProxySide& p) {
  p.Read(1);
  p.Read(ReadCount(p));
  p.Read(ReadCount(p));
}
void ReadSocks5Request(ProxySide& p) {
  const std::string head = p.Read(4);
  if (head.size() < 4) return;
  switch (head[3]) {
    case 1:
      p.Read(4);
      break;
    case 3:
      p.Read(ReadCount(p));
      break;
    case 4:
      p.Read(16);
      break;
    default:
      break;
  }
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
  int kind = http::PROXY_SOCKS5;
  std::string host = "127.0.0.1";
  int proxyAuth = 0;
  std::string user;
  std::string password;
};

Setting Via(int kind, std::string host = "127.0.0.1", std::string user = "") {
  Setting s;
  s.kind = kind;
  s.host = std::move(host);
  s.user = std::move(user);
  return s;
}
// SOCKS5 offering user name and password login.
Setting Login(std::string user, std::string password) {
  Setting s = Via(http::PROXY_SOCKS5, "127.0.0.1", std::move(user));
  s.proxyAuth = 1;
  s.password = std::move(password);
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

// One request (HEAD) through a proxy that runs `script`: the result and what
// the proxy received on each connection.
struct Outcome {
  http::RequestResult result = http::REQUEST_OK;
  std::vector<std::string> transcripts;
};
Outcome RequestThrough(const Setting& s, ScriptedProxy::Script script) {
  httptest::RecordingDownloader d;
  ScriptedProxy proxy(std::move(script));
  Configure(d, s, proxy.port());
  d.url = "http://placeholder:8080" + std::string(kPath);
  EXPECT_NE(http::ParseUrl(d.url, d.host, d.object, d.port), 0);
  d.host = s.host;  // also names that no URL would carry
  d.tempFile = "|";
  Outcome outcome;
  outcome.result = d.SendRequest(1);
  d.CloseConnection();
  outcome.transcripts = proxy.Finish();
  return outcome;
}

TEST_F(SocksSetUp, HandshakeFailuresEndTheAttemptAsTheirCauseDeserves) {
  const std::string longText(256, 'u');
  const std::string longName = std::string(248, 'n') + ".invalid";  // 256 bytes
  const std::string greeting = Bytes({5, 1, 0});
  const std::string greetingWithLogin = Bytes({5, 2, 0, 2});
  const std::string socks5ToLoopback = Bytes({5, 1, 0, 1, 127, 0, 0, 1}) + kPortBytes;
  const std::string socks4ToLoopback = Bytes({4, 1, 0x1F, 0x90, 127, 0, 0, 1, 0});
  const std::string socks4aByName =
      Bytes({4, 1, 0x1F, 0x90, 0, 0, 0, 1, 0}) + "updates.invalid" + Bytes({0});
  struct Case {
    const char* name;
    Setting setting;
    ScriptedProxy::Script script;
    http::RequestResult expected;
    std::string transcript;
  };
  const auto methodReply = [](int method) {
    return [method](ProxySide& p) {
      ReadGreeting(p);
      p.Send(Method(method));
    };
  };
  const auto cutAfterFirstByte = [](ProxySide& p, const std::string& reply) {
    p.Send(reply.substr(0, 1));
    p.Close();
  };
  const Case cases[] = {
      {"method 0xFF: no acceptable method", Via(http::PROXY_SOCKS5), methodReply(0xFF),
       http::REQUEST_RETRY, greeting},
      {"method 1: GSS-API", Via(http::PROXY_SOCKS5), methodReply(1), http::REQUEST_FAILED,
       greeting},
      {"method 3: never offered", Via(http::PROXY_SOCKS5), methodReply(3), http::REQUEST_FAILED,
       greeting},
      {"method 2 without credentials", Via(http::PROXY_SOCKS5), methodReply(2),
       http::REQUEST_FAILED, greeting},
      {"login refused", Login("alice", "pw"),
       [](ProxySide& p) {
         ReadGreeting(p);
         p.Send(Method(2));
         ReadLogin(p);
         p.Send(Bytes({1, 1}));
       },
       http::REQUEST_RETRY, greetingWithLogin + Bytes({1, 5}) + "alice" + Bytes({2}) + "pw"},
      {"SOCKS5 reply 5: connection refused", Via(http::PROXY_SOCKS5),
       [](ProxySide& p) {
         ReadGreeting(p);
         p.Send(Method(0));
         ReadSocks5Request(p);
         p.Send(Bytes({5, 5, 0, 1}));
       },
       http::REQUEST_RETRY, greeting + socks5ToLoopback},
      {"SOCKS4 code 91", Via(http::PROXY_SOCKS4),
       [](ProxySide& p) {
         ReadSocks4Request(p);
         p.Send(kSocks4Rejected);
       },
       http::REQUEST_RETRY, socks4ToLoopback},
      {"SOCKS4a code 91", Via(http::PROXY_SOCKS4A, "updates.invalid"),
       [](ProxySide& p) {
         ReadSocks4Request(p);
         p.Send(kSocks4Rejected);
       },
       http::REQUEST_RETRY, socks4aByName},
      {"SOCKS4 reply cut after its first byte", Via(http::PROXY_SOCKS4),
       [&](ProxySide& p) {
         ReadSocks4Request(p);
         cutAfterFirstByte(p, kSocks4Granted);
       },
       http::REQUEST_RETRY, socks4ToLoopback},
      {"method reply cut after its first byte", Via(http::PROXY_SOCKS5),
       [&](ProxySide& p) {
         ReadGreeting(p);
         cutAfterFirstByte(p, Method(0));
       },
       http::REQUEST_RETRY, greeting},
      {"login reply cut after its first byte", Login("u", ""),
       [&](ProxySide& p) {
         ReadGreeting(p);
         p.Send(Method(2));
         ReadLogin(p);
         cutAfterFirstByte(p, Bytes({1, 0}));
       },
       http::REQUEST_RETRY, greetingWithLogin + Bytes({1, 1, 'u', 0})},
      {"SOCKS5 reply cut after its first byte", Via(http::PROXY_SOCKS5),
       [&](ProxySide& p) {
         ReadGreeting(p);
         p.Send(Method(0));
         ReadSocks5Request(p);
         cutAfterFirstByte(p, kSocks5Granted);
       },
       http::REQUEST_RETRY, greeting + socks5ToLoopback},
      // Texts that one length byte cannot count go nowhere, not cut short.
      {"user name over 255 bytes", Login(longText, "pw"), methodReply(2), http::REQUEST_FAILED,
       greetingWithLogin},
      {"password over 255 bytes", Login("alice", longText), methodReply(2), http::REQUEST_FAILED,
       greetingWithLogin},
      {"host name over 255 bytes", Via(http::PROXY_SOCKS5, longName), methodReply(0),
       http::REQUEST_FAILED, greeting},
  };
  for (const Case& c : cases) {
    const Outcome outcome = RequestThrough(c.setting, c.script);
    EXPECT_EQ(outcome.result, c.expected) << c.name;
    ASSERT_EQ(outcome.transcripts.size(), 1u) << c.name;
    EXPECT_EQ(outcome.transcripts[0], c.transcript) << c.name;
  }
}

TEST_F(SocksSetUp, RefusesWithoutContactingTheProxyWhatItCannotSend) {
  struct Case {
    const char* name;
    Setting setting;
    bool noProxyHost;
    http::RequestResult expected;
  };
  const std::string userWithNul("al\0ce", 5);
  const Case cases[] = {
      // Plain SOCKS4 carries only an address; the name may resolve later.
      {"SOCKS4 to a name that does not resolve here", Via(http::PROXY_SOCKS4, "updates.invalid"),
       false, http::REQUEST_RETRY},
      {"SOCKS4 user id with a NUL byte", Via(http::PROXY_SOCKS4, "127.0.0.1", userWithNul), false,
       http::REQUEST_FAILED},
      {"SOCKS4a user id with a NUL byte", Via(http::PROXY_SOCKS4A, "updates.invalid", userWithNul),
       false, http::REQUEST_FAILED},
      {"SOCKS4 without a proxy host", Via(http::PROXY_SOCKS4), true, http::REQUEST_FAILED},
      {"SOCKS4a without a proxy host", Via(http::PROXY_SOCKS4A), true, http::REQUEST_FAILED},
      {"SOCKS5 without a proxy host", Via(http::PROXY_SOCKS5), true, http::REQUEST_FAILED},
  };
  // A proxy that does not listen is a transient failure.
  httptest::RecordingDownloader unreachable;
  Configure(unreachable, Via(http::PROXY_SOCKS5), testsupport::ClosedPort());
  unreachable.url = "http://127.0.0.1:8080/";
  ASSERT_NE(http::ParseUrl(unreachable.url, unreachable.host, unreachable.object, unreachable.port),
            0);
  EXPECT_EQ(unreachable.SendRequest(1), http::REQUEST_RETRY);
  for (const Case& c : cases) {
    httptest::RecordingDownloader d;
    ScriptedProxy proxy([](ProxySide&) {});
    Configure(d, c.setting, proxy.port());
    if (c.noProxyHost) d.proxyHost.clear();
    d.url = "http://" + c.setting.host + ":8080/";
    ASSERT_NE(http::ParseUrl(d.url, d.host, d.object, d.port), 0) << c.name;
    EXPECT_EQ(d.SendRequest(1), c.expected) << c.name;
    d.CloseConnection();
    EXPECT_TRUE(proxy.Finish().empty()) << c.name;
  }
}

TEST_F(SocksSetUp, TunnelsCarryTheExchangeWithBytesSentBehindTheReply) {
  const std::string body = testsupport::PatternBytes(50000, 7);
  const std::string response = testsupport::HttpResponse("HTTP/1.1 200 OK", "", body);
  struct Case {
    const char* name;
    Setting setting;
    std::string handshake;  // what the proxy must receive before the request
    // Reads the handshake and answers it; `last` is the final reply.
    std::function<void(ProxySide&, const std::string& last)> script;
    std::string lastReply;
    bool responseBehindReply;  // in one send with the last reply
  };
  const auto socks4 = [](ProxySide& p, const std::string& last) {
    ReadSocks4Request(p);
    p.Send(last);
  };
  const auto socks5 = [](ProxySide& p, const std::string& last) {
    ReadGreeting(p);
    p.Send(Method(0));
    ReadSocks5Request(p);
    p.Send(last);
  };
  const auto socks5Login = [](ProxySide& p, const std::string& last) {
    ReadGreeting(p);
    p.Send(Method(2));
    ReadLogin(p);
    p.Send(Bytes({1, 0}));
    ReadSocks5Request(p);
    p.Send(last);
  };
  const std::string longUser(300, 'u');
  const Case cases[] = {
      {"SOCKS4 to an address, empty user id", Via(http::PROXY_SOCKS4),
       Bytes({4, 1, 0x1F, 0x90, 127, 0, 0, 1, 0}), socks4, kSocks4Granted, true},
      {"SOCKS4 carries the user id also without proxyAuth",
       Via(http::PROXY_SOCKS4, "127.0.0.1", "alice"),
       Bytes({4, 1, 0x1F, 0x90, 127, 0, 0, 1}) + "alice" + Bytes({0}), socks4, kSocks4Granted,
       false},
      {"SOCKS4 to a name resolved here", Via(http::PROXY_SOCKS4, "updates.example.test"),
       Bytes({4, 1, 0x1F, 0x90, 10, 1, 2, 3, 0}), socks4, kSocks4Granted, true},
      {"SOCKS4a to a name resolved here goes as plain SOCKS4",
       Via(http::PROXY_SOCKS4A, "updates.example.test"), Bytes({4, 1, 0x1F, 0x90, 10, 1, 2, 3, 0}),
       socks4, kSocks4Granted, true},
      {"SOCKS4a to a name the proxy resolves", Via(http::PROXY_SOCKS4A, "updates.invalid", "bob"),
       Bytes({4, 1, 0x1F, 0x90, 0, 0, 0, 1}) + "bob" + Bytes({0}) + "updates.invalid" + Bytes({0}),
       socks4, kSocks4Granted, true},
      {"SOCKS5 to dotted text: address type 1", Via(http::PROXY_SOCKS5),
       Bytes({5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1}) + kPortBytes, socks5, kSocks5Granted, true},
      {"SOCKS5 to a name resolved here: address type 1",
       Via(http::PROXY_SOCKS5, "updates.example.test"),
       Bytes({5, 1, 0, 5, 1, 0, 1, 10, 1, 2, 3}) + kPortBytes, socks5, kSocks5Granted, false},
      {"SOCKS5 to a name the proxy resolves: address type 3",
       Via(http::PROXY_SOCKS5, "updates.invalid"),
       Bytes({5, 1, 0, 5, 1, 0, 3, 15}) + "updates.invalid" + kPortBytes, socks5, kSocks5Granted,
       true},
      {"SOCKS5 reply binding an empty name", Via(http::PROXY_SOCKS5),
       Bytes({5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1}) + kPortBytes, socks5,
       Bytes({5, 0, 0, 3, 0, 0x12, 0x34}), true},
      {"SOCKS5 with user name and password", Login("alice", "s3cret"),
       Bytes({5, 2, 0, 2, 1, 5}) + "alice" + Bytes({6}) + "s3cret" +
           Bytes({5, 1, 0, 1, 127, 0, 0, 1}) + kPortBytes,
       socks5Login, kSocks5Granted, true},
      // Credentials go only where the proxy asks for them; unsent, their
      // length does not matter.
      {"SOCKS5 offered login, proxy picks none", Login(longUser, "pw"),
       Bytes({5, 2, 0, 2, 5, 1, 0, 1, 127, 0, 0, 1}) + kPortBytes, socks5, kSocks5Granted, true},
  };
  for (const Case& c : cases) {
    testsupport::ScratchDir dir;
    const std::string target = dir.Join("a.bin");
    httptest::RecordingDownloader d;
    ScriptedProxy proxy([&c, &response](ProxySide& p) {
      c.script(p, c.responseBehindReply ? c.lastReply + response : c.lastReply);
      p.ReadThrough("\r\n\r\n");
      if (!c.responseBehindReply) p.Send(response);
    });
    Configure(d, c.setting, proxy.port());
    // A host in the URL that the table of names knows, or not.
    const std::string url = "http://" + c.setting.host + ":8080" + kPath;
    EXPECT_EQ(d.Download(url, target, 0), http::DOWNLOAD_OK) << c.name;
    EXPECT_TRUE(testsupport::ReadFileBytes(target) == body) << c.name;
    const std::vector<std::string> transcripts = proxy.Finish();
    ASSERT_EQ(transcripts.size(), 1u) << c.name;
    const std::string& seen = transcripts[0];
    EXPECT_EQ(seen.substr(0, c.handshake.size()), c.handshake) << c.name;
    // The request itself: the object, as on a direct connection.
    EXPECT_EQ(seen.substr(c.handshake.size()).rfind("GET /files/a.bin?v=2 HTTP/1.1\r\n", 0), 0u)
        << c.name;
  }
}

TEST_F(SocksSetUp, RetryPolicyRepeatsTransientRefusalsOnly) {
  // maxRetries 2 allows three retries: four connections in all.
  const struct {
    int method, retryMode;
    std::size_t connections;
  } cases[] = {
      {0xFF, http::RETRY_NONE, 1}, {0xFF, http::RETRY_LIMITED, 4}, {1, http::RETRY_LIMITED, 1}};
  for (const auto& c : cases) {
    testsupport::ScratchDir dir;
    httptest::RecordingDownloader d;
    d.retryMode = c.retryMode;
    d.maxRetries = 2;
    ScriptedProxy proxy([&c](ProxySide& p) {
      ReadGreeting(p);
      p.Send(Method(c.method));
    });
    Configure(d, Via(http::PROXY_SOCKS5), proxy.port());
    EXPECT_EQ(d.Download("http://127.0.0.1:8080/a.bin", dir.Join("a.bin"), 0),
              http::DOWNLOAD_FAILED);
    EXPECT_EQ(proxy.Finish().size(), c.connections) << c.method << " " << c.retryMode;
  }
}

}  // namespace
