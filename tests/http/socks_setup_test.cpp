// The SOCKS set-up against a proxy in the test process that follows a script,
// for what real proxies will not do: the bytes of every handshake as the proxy
// receives them, the outcome of each refusal and of replies cut short, and
// tunnels that carry the HTTP exchange afterwards - also when the proxy sends
// the start of the response right behind its reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "http/http_downloader.h"
#include "net/host_connection.h"
#include "net/socket_library.h"
#include "recording_downloader.h"
#include "support/loopback_tcp.h"
#include "support/scratch_dir.h"
#include "support/scripted_server.h"
#include "support/table_names.h"
#include "support/table_rows.h"

namespace {

// The pieces of a field between separators.
std::vector<std::string> Split(const std::string& field, const std::string& separator) {
  std::vector<std::string> pieces;
  for (std::size_t at = 0; !field.empty() && at != std::string::npos;) {
    const std::size_t end = field.find(separator, at);
    pieces.push_back(testsupport::Bytes(field.substr(at, end - at)));
    at = end == std::string::npos ? end : end + separator.size();
  }
  return pieces;
}

net::IpAddress Ipv6(const char* text) { return *net::ParseIpv6Text(text); }

// The destination names that resolve on this side, and the proxy's name; all
// others do not.
class SocksSetUp : public ::testing::Test {
 protected:
  const net::IpAddress v4_ = testsupport::Ipv4Address(10, 1, 2, 3);
  testsupport::TableNames names_{
      {{"updates.example.test", {v4_}},
       {"v6.example.test", {Ipv6("2001:db8::5"), v4_}},
       {"v6only.example.test", {Ipv6("2001:db8::7")}},
       {"proxy.example.test",
        {testsupport::Ipv6Loopback(), testsupport::Ipv4Address(127, 0, 0, 1)}}}};
  net::ScopedSocketCalls scoped_{names_};
};

// Each row downloads through a proxy that answers every connection alike,
// allowing one retry; socks_handshakes.rows tells what each row checks.
TEST_F(SocksSetUp, EveryHandshakeSendsItsBytesAndEndsAsItsAnswerDeserves) {
  const std::string body = testsupport::PatternBytes(50000, 7);
  const std::string response = testsupport::HttpResponse("HTTP/1.1 200 OK", "", body);
  for (const testsupport::Row& row : testsupport::TableRows(
#include "socks_handshakes.rows"
           )) {
    ASSERT_EQ(row.size(), 9u) << row[0];
    SCOPED_TRACE(row[0]);
    const std::vector<std::string> replies = Split(row[5], ",");
    const std::vector<std::string> messages = Split(row[7], "  ");
    const bool ok = row[6] == "ok";
    const bool transient = row[6] == "transient";
    const std::string sent = testsupport::Bytes(row[7]);
    const auto flagged = [&](const char* flag) { return row[8].find(flag) != std::string::npos; };
    testsupport::ScratchDir dir;
    const std::string target = dir.Join("a.bin");
    httptest::RecordingDownloader d;
    d.retryMode = http::RETRY_LIMITED;
    d.maxRetries = 1;
    testsupport::ScriptedServer proxy(
        [&](testsupport::ScriptedExchange& p) {
          // Reads each message, as long as the one expected, and sends the
          // next reply; "cut" sends the last one's first byte and closes.
          for (std::size_t i = 0; i < replies.size(); ++i) {
            p.Read(i < messages.size() ? messages[i].size() : 0);
            if (i + 1 < replies.size()) {
              p.Send(replies[i]);
            } else if (flagged("cut")) {
              p.Send(replies[i].substr(0, 1));
              return p.Close();
            } else {
              p.Send(replies[i] + (flagged("behind") ? response : ""));
            }
          }
          if (!ok) return;
          p.ReadThrough("\r\n\r\n");
          if (!flagged("behind")) p.Send(response);
        },
        /*raw=*/true);
    d.proxyKind = row[1] == "socks4"    ? http::PROXY_SOCKS4
                  : row[1] == "socks4a" ? http::PROXY_SOCKS4A
                  : row[1] == "socks5h" ? http::PROXY_SOCKS5_HOSTNAME
                                        : http::PROXY_SOCKS5;
    d.proxyHost = flagged("no-host")      ? ""
                  : flagged("proxy-name") ? "proxy.example.test"
                                          : "127.0.0.1";
    d.proxyPort = flagged("closed") ? testsupport::ClosedPort() : proxy.port();
    d.proxyAuth = row[1] == "socks5-login" ? 1 : 0;
    d.proxyUser = testsupport::Bytes(row[3]);
    d.proxyPassword = testsupport::Bytes(row[4]);
    const std::string url = "http://" + testsupport::Bytes(row[2]) + ":8080/files/a.bin?v=2";
    EXPECT_EQ(d.Download(url, target, 0), ok ? http::DOWNLOAD_OK : http::DOWNLOAD_FAILED);
    EXPECT_EQ(d.retryCount, transient ? 2 : 0);
    proxy.Stop();
    const std::vector<std::string> transcripts = proxy.Requests();
    ASSERT_EQ(transcripts.size(), flagged("unsent") ? 0u : transient ? 3u : 1u);
    // A tunnel then carries the request itself, the object as on a direct connection.
    const std::string expected = ok ? sent + "GET /files/a.bin?v=2 HTTP/1.1\r\n" : sent;
    for (const std::string& seen : transcripts) {
      EXPECT_EQ(seen.substr(0, ok ? expected.size() : std::string::npos), expected);
    }
    EXPECT_TRUE(!ok || testsupport::ReadFileBytes(target) == body);
  }
}

}  // namespace
