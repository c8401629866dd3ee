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

// Asks the proxy on `d.connection` for a tunnel to d.host:d.port.
RequestResult OpenProxyTunnel(HttpDownloader& d, const std::string& proxyAuthorization) {
  if (HasControlByte(d.host)) return REQUEST_FAILED;
  const std::string authority = UrlHost(d.host) + ":" + std::to_string(d.port);
  const std::string request = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n" +
                              proxyAuthorization + "\r\n";
  const int length = static_cast<int>(request.size());
  if (net::SocketSendAll(d.connection, request.data(), length, Milliseconds(d.sendTimeout)) <
      length) {
    return REQUEST_RETRY;
  }
  std::string block;
  switch (ReadResponseHeader(*d.socketReader, Milliseconds(d.receiveTimeout), block)) {
    case HeaderRead::kOk:
      break;
    case HeaderRead::kReadFailed:
      return REQUEST_RETRY;
    default:
      return REQUEST_FAILED;
  }
  const std::optional<ResponseFields> response = SplitResponseHeader(block);
  if (!response) return REQUEST_FAILED;
  // A proxy that cannot reach the server now may later; refused credentials
  // (407, or 401 from some proxies) or a forbidden port stay refused.
  if (response->status >= 500) return REQUEST_RETRY;
  return response->status >= 200 && response->status <= 299 ? REQUEST_OK : REQUEST_FAILED;
}

}  // namespace

HttpDownloader::ConnectResult HttpDownloader::StartTls() {
  if (proxyKind == PROXY_HTTP) {
    switch (OpenProxyTunnel(*this, ProxyAuthorizationLine())) {
      case REQUEST_OK:
        break;
      case REQUEST_RETRY:
        return ConnectResult::kRetry;
      default:
        return ConnectResult::kFailed;
    }
  }
  // The server speaks only after the client's first message: bytes a proxy
  // sent past its reply are no part of the session.
  if (socketReader->count != 0) return ConnectResult::kFailed;
  platform::TlsTrust trust;
  trust.caCertificates = caCertificates;
  switch (net::TlsConnect(connection, host, trust, Milliseconds(sendTimeout),
                          Milliseconds(receiveTimeout), tlsChannel)) {
    case net::TLS_CONNECTED:
      socketReader->tls = tlsChannel.get();
      return ConnectResult::kConnected;
    case net::TLS_BROKEN:
      return ConnectResult::kRetry;
    default:
      return ConnectResult::kFailed;
  }
}

}  // namespace http
