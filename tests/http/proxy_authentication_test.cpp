// The handshake with a proxy that asks for NTLM or Negotiate, against a
// scripted proxy and a scripted token exchange in place of the system's: the
// scheme chosen among the offers, one connection held open for the tokens,
// and a refusal that fails the download at once.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "http/http_downloader.h"
#include "recording_downloader.h"
#include "support/scratch_dir.h"
#include "support/scripted_server.h"
#include "support/table_rows.h"

namespace {

// "T1" first; given the challenge "C2", "T3" as the last token.
class TokenScript : public platform::AuthExchange {
 public:
  platform::AuthStep Next(const std::string& challenge, std::string& token) override {
    token = challenge.empty() ? "T1" : "T3";
    if (challenge.empty()) return platform::AuthStep::kContinue;
    return challenge == "C2" ? platform::AuthStep::kDone : platform::AuthStep::kFailed;
  }
};

class HandshakeDownloader : public httptest::RecordingDownloader {
 public:
  bool systemAnswers = true;
  std::vector<std::string> schemes;

 protected:
  std::unique_ptr<platform::AuthExchange> StartProxyAuthExchange(
      const std::string& scheme) override {
    schemes.push_back(scheme);
    return systemAnswers ? std::make_unique<TokenScript>() : nullptr;
  }
};

// proxy_handshakes.rows: the tokens go over one connection held open for
// the challenge, and a refusal fails the download without a retry.
TEST(ProxyHandshake, AnswersNegotiateOrNtlmOverOneConnectionOrFailsAtOnce) {
  const std::string body = testsupport::PatternBytes(3000, 5);
  const std::map<std::string, std::string> answers = {
      {"ok", testsupport::HttpResponse("HTTP/1.1 200 OK", "", body)},
      {"refused", "HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n"},
      {"tunnel", "HTTP/1.1 200 Connection established\r\n\r\nnot TLS"}};
  for (const testsupport::Row& row : testsupport::TableRows(
#include "proxy_handshakes.rows"
           )) {
    ASSERT_EQ(row.size(), 10u) << row[0];
    SCOPED_TRACE(row[0]);
    testsupport::ScriptedServer proxy(
        [&](testsupport::ScriptedExchange& p) {
          p.ReadThrough("\r\n\r\n");
          if (p.index() == 0) {
            p.Send(testsupport::HttpResponse("HTTP/1.1 407 Proxy Authentication Required",
                                             testsupport::Bytes(row[2]), "denied"));
            return p.Close();
          }
          p.Send("HTTP/1.1 407 Proxy Authentication Required\r\n" + testsupport::Bytes(row[4]) +
                 "\r\nbody");
          p.ReadThrough("\r\n\r\n");
          p.Send(answers.at(row[5]));
        },
        /*raw=*/true);
    HandshakeDownloader d;
    d.systemAnswers = row[3] == "yes";
    d.retryMode = http::RETRY_LIMITED;
    d.retryDelay = 1;
    d.proxyKind = http::PROXY_HTTP;
    d.proxyHost = "127.0.0.1";
    d.proxyPort = proxy.port();
    testsupport::ScratchDir dir;
    const bool downloaded = row[9] == "yes", lastSent = row[8] == "yes";
    EXPECT_EQ(d.Download(row[1] + "://updates.example.test/u.zip", dir.Join("u.zip"), 0),
              downloaded ? http::DOWNLOAD_OK : http::DOWNLOAD_FAILED);
    EXPECT_EQ(testsupport::ReadFileBytes(dir.Join("u.zip")) == body, downloaded);
    EXPECT_EQ(d.retryCount, 0);
    EXPECT_EQ(d.schemes, row[6] == "-" ? std::vector<std::string>{} : std::vector{row[6]});
    proxy.Stop();
    const std::vector<std::string> seen = proxy.Requests();
    ASSERT_EQ(std::to_string(seen.size()), row[7]);
    if (seen.size() < 2) continue;
    // Both tokens on the second connection, which stays open for the
    // challenge and closes after the answer.
    const std::size_t at = seen[1].find("Proxy-Authorization: " + row[6] + " T1\r\n"),
                      then = seen[1].find("Proxy-Authorization: " + row[6] + " T3\r\n");
    EXPECT_NE(at, std::string::npos) << seen[1];
    EXPECT_EQ(then != std::string::npos && then > at, lastSent) << seen[1];
    if (row[1] == "http") {
      const std::size_t close = seen[1].find("Connection: close\r\n");
      EXPECT_GT(seen[1].find("Connection: keep-alive\r\n"), at);
      EXPECT_EQ(close != std::string::npos && close > then, lastSent);
    }
  }
}

}  // namespace
