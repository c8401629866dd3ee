// The handshake with an HTTP proxy that asks for NTLM or Negotiate. NTLM
// authenticates a connection rather than a request, so the whole exchange
// runs over one connection that stays open between the proxy's challenge and
// the answer to it; the proxy's last answer is the answer to the request
// itself (the response of a full-URL request, or the tunnel of a CONNECT).
#include "http/proxy_authentication.h"

#include <vector>

#include "http/field_values.h"
#include "http/header_text.h"
#include "http/http_downloader.h"
#include "http/milliseconds.h"
#include "net/event_socket.h"

namespace http {
namespace {

// NTLM takes two rounds, Negotiate one or two; more is no handshake.
constexpr int kMaxAuthRounds = 3;
// The body of a 407 is an error page; a proxy that sends more is not read.
constexpr std::int32_t kMaxRefusalBody = 1024 * 1024;

// Each offer of every Proxy-Authenticate line, trimmed.
std::vector<std::string> Offers(const ResponseFields& response) {
  std::vector<std::string> offers;
  for (const std::string_view value : FindFields(response, "Proxy-Authenticate")) {
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= value.size(); ++i) {
      if (i < value.size() && value[i] == '"') quoted = !quoted;
      if (i < value.size() && (value[i] != ',' || quoted)) continue;
      const std::string offer = TrimBlanks(value.substr(start, i - start));
      if (!offer.empty()) offers.push_back(offer);
      start = i + 1;
    }
  }
  return offers;
}

}  // namespace

std::optional<std::string> ProxyChallenge(const ResponseFields& response, std::string_view scheme) {
  for (const std::string& offer : Offers(response)) {
    const std::size_t blank = offer.find(' ');
    if (EqualsIgnoreCase(std::string_view(offer).substr(0, blank), scheme)) {
      return blank == std::string::npos ? std::string() : TrimBlanks(offer.substr(blank + 1));
    }
  }
  return std::nullopt;
}

std::optional<std::string> ChooseProxyAuthScheme(const ResponseFields& response) {
  for (const char* scheme : {"Negotiate", "NTLM"}) {
    if (ProxyChallenge(response, scheme)) return std::string(scheme);
  }
  return std::nullopt;
}

RequestResult HttpDownloader::RoundTrip(const std::string& text, std::string& block) {
  const int length = static_cast<int>(text.size());
  if (net::SocketSendAll(connection, text.data(), length, Milliseconds(sendTimeout)) < length) {
    return REQUEST_RETRY;
  }
  switch (ReadResponseHeader(*socketReader, Milliseconds(receiveTimeout), block)) {
    case HeaderRead::kOk:
      return REQUEST_OK;
    case HeaderRead::kReadFailed:
      return REQUEST_RETRY;
    default:
      return REQUEST_FAILED;
  }
}

std::unique_ptr<platform::AuthExchange> HttpDownloader::StartProxyAuthExchange(
    const std::string& scheme) {
  const bool given = route_.auth != 0;
  return platform::StartAuthExchange(scheme, route_.host, given ? route_.user : std::string(),
                                     given ? route_.password : std::string());
}

RequestResult HttpDownloader::AnswerProxyChallenge(std::string& block,
                                                   const ComposeWithAuthorization& compose) {
  std::optional<ResponseFields> response = SplitResponseHeader(block);
  if (!response || response->status != kProxyAuthenticationRequired) return REQUEST_OK;
  const std::optional<std::string> scheme = ChooseProxyAuthScheme(*response);
  if (!scheme) return REQUEST_OK;
  const std::unique_ptr<platform::AuthExchange> exchange = StartProxyAuthExchange(*scheme);
  if (!exchange) return REQUEST_OK;

  // The refused connection may close after its 407: the handshake has a
  // connection of its own.
  if (OpenConnection(route_.host, route_.port) == 0) return REQUEST_RETRY;
  std::string challenge;
  for (int round = 0; round < kMaxAuthRounds; ++round) {
    std::string token;
    const platform::AuthStep step = exchange->Next(challenge, token);
    if (step == platform::AuthStep::kFailed) return REQUEST_FAILED;
    const bool more = step == platform::AuthStep::kContinue;
    std::string text;
    if (!compose("Proxy-Authorization: " + *scheme + " " + token + "\r\n", more, text)) {
      return REQUEST_FAILED;
    }
    const RequestResult answered = RoundTrip(text, block);
    if (answered != REQUEST_OK) return answered;
    response = SplitResponseHeader(block);
    if (!response) return REQUEST_FAILED;
    if (response->status != kProxyAuthenticationRequired || !more) return REQUEST_OK;
    // A challenge to go on with, after the body of the 407 that carried it;
    // anything else is the proxy's refusal, which stands in `block`.
    const std::optional<std::string> next = ProxyChallenge(*response, *scheme);
    const std::vector<std::string_view> lengths = FindFields(*response, "Content-Length");
    const std::int64_t length =
        lengths.size() == 1 ? ParseContentLength(lengths.front()).value_or(-1) : -1;
    if (!next || next->empty() || length < 0 || length > kMaxRefusalBody) return REQUEST_OK;
    std::vector<char> body(static_cast<std::size_t>(length));
    for (std::int64_t read = 0; read < length;) {
      const int n = net::ReaderRead(*socketReader, body.data() + read,
                                    static_cast<int>(length - read), Milliseconds(receiveTimeout));
      if (n < 1) return REQUEST_RETRY;
      read += n;
    }
    challenge = *next;
  }
  return REQUEST_OK;
}

}  // namespace http
