// The secure connection for an https target: through an HTTP proxy first a
// CONNECT tunnel to the server, then the TLS handshake over whatever the
// socket leads to. A certificate that does not verify, or a server that
// speaks no acceptable TLS, fails the request for good: no retry, and never
// a fall-back to plain http.
#include <string>

#include "http/header_text.h"
#include "http/http_downloader.h"
#include "http/milliseconds.h"
#include "http/response_header.h"

namespace http {
namespace {

// The request for a tunnel to d.host:d.port.
std::string TunnelRequest(const HttpDownloader& d, const std::string& proxyAuthorization) {
  const std::string authority = UrlHost(d.host) + ":" + std::to_string(d.port);
  return "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n" + proxyAuthorization +
         "\r\n";
}

// The proxy's answer to the tunnel request.
RequestResult JudgeTunnel(const std::string& block) {
  const std::optional<ResponseFields> response = SplitResponseHeader(block);
  if (!response) return REQUEST_FAILED;
  // A proxy that cannot reach the server now may later; refused credentials
  // (407, or 401 from some proxies) or a forbidden port stay refused.
  if (response->status >= 500) return REQUEST_RETRY;
  return response->status >= 200 && response->status <= 299 ? REQUEST_OK : REQUEST_FAILED;
}

}  // namespace

RequestResult HttpDownloader::StartTls() {
  if (route_.kind == PROXY_HTTP) {
    if (HasControlByte(host)) return REQUEST_FAILED;
    std::string block;
    RequestResult tunnel = RoundTrip(TunnelRequest(*this, ProxyAuthorizationLine()), block);
    if (tunnel == REQUEST_OK) {
      tunnel = AnswerProxyChallenge(
          block, [this](const std::string& authorization, bool, std::string& text) {
            text = TunnelRequest(*this, authorization);
            return true;
          });
    }
    if (tunnel == REQUEST_OK) tunnel = JudgeTunnel(block);
    if (tunnel != REQUEST_OK) return tunnel;
  }
  // The server speaks only after the client's first message: bytes a proxy
  // sent past its reply are no part of the session.
  if (socketReader->count != 0) return REQUEST_FAILED;
  platform::TlsTrust trust;
  trust.caCertificates = caCertificates;
  switch (net::TlsConnect(connection, host, trust, Milliseconds(sendTimeout),
                          Milliseconds(receiveTimeout), tlsChannel)) {
    case net::TLS_CONNECTED:
      socketReader->tls = tlsChannel.get();
      return REQUEST_OK;
    case net::TLS_BROKEN:
      return REQUEST_RETRY;
    default:
      return REQUEST_FAILED;
  }
}

}  // namespace http
