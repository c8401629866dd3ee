// One request exchange: a fresh connection (direct or through a proxy), the
// request text, and the judged response header. Redirects and send time-outs
// start new attempts within the bounds set in http_downloader.h.
#include <string>

#include "http/http_downloader.h"
#include "http/milliseconds.h"
#include "http/proxy_policy.h"
#include "http/response_header.h"
#include "http/socks_setup.h"
#include "net/host_connection.h"
#include "net/socket_library.h"

namespace http {

int HttpDownloader::OpenConnection(const std::string& name, std::uint16_t toPort) {
  CloseConnection();
  connection = net::SocketConnectAddresses(name.c_str(), toPort, Milliseconds(connectTimeout), 1);
  if (connection == net::kInvalidSocket) return 0;
  socketReader = net::ReaderCreate(connection, kBodyBlockSize);
  return socketReader ? 1 : 0;
}

void HttpDownloader::CloseConnection() {
  if (socketReader) net::ReaderRelease(std::move(socketReader), 0);
  tlsChannel.reset();
  if (connection != net::kInvalidSocket) {
    net::SocketClose(connection, 1);
    connection = net::kInvalidSocket;
  }
}

std::vector<ProxyRoute> HttpDownloader::Routes() const {
  if (proxyKind == PROXY_NONE && proxyPolicy) {
    return proxyPolicy->RoutesFor(url, host, port, useTls != 0);
  }
  return {ProxyRoute{proxyKind, proxyHost, proxyPort, proxyAuth, proxyUser, proxyPassword}};
}

RequestResult HttpDownloader::Connect() {
  RequestResult result = REQUEST_FAILED;
  switch (route_.kind) {
    case PROXY_NONE:
      result = OpenConnection(host, port) != 0 ? REQUEST_OK : REQUEST_RETRY;
      break;
    case PROXY_HTTP:
      if (route_.host.empty()) return REQUEST_FAILED;
      result = OpenConnection(route_.host, route_.port) != 0 ? REQUEST_OK : REQUEST_RETRY;
      break;
    case PROXY_SOCKS4:
    case PROXY_SOCKS4A:
    case PROXY_SOCKS5:
    case PROXY_SOCKS5_HOSTNAME:
      result = SetUpSocksConnection(*this, route_);
      break;
    default:
      return REQUEST_FAILED;
  }
  if (result != REQUEST_OK || useTls == 0) return result;
  return StartTls();
}

bool HttpDownloader::SendAll(const std::string& text) {
  const int length = static_cast<int>(text.size());
  const std::uint32_t timeout = Milliseconds(sendTimeout);
  const int sent = tlsChannel ? net::TlsSendAll(*tlsChannel, text.data(), length, timeout)
                              : net::SocketSendAll(connection, text.data(), length, timeout);
  return sent == length;
}

bool HttpDownloader::ContinuesPartialFile(const PartialFile& resume) const {
  if (resume.offset <= 0 || contentRangeStart != resume.offset ||
      contentRangeComplete != resume.totalSize) {
    return false;
  }
  // A server that ignores If-Range answers with the version it has now.
  return !resume.validator || (lastModifiedFromServer != 0 && lastModified == *resume.validator);
}

RequestResult HttpDownloader::Retry(RetryCause cause, int status) {
  retryCause_ = cause;
  retryStatus_ = status;
  retryError_ = cause == RetryCause::kStatus ? 0 : net::SocketLastError();
  return REQUEST_RETRY;
}

ExchangeRecord HttpDownloader::CurrentExchange(int head, std::int64_t resumeOffset) const {
  return ExchangeRecord{head != 0 ? "HEAD" : "GET",
                        url,
                        resumeOffset,
                        route_.kind,
                        route_.host,
                        route_.port,
                        peer_,
                        0};
}

RequestResult HttpDownloader::SendRequest(int head) {
  int redirects = 0;
  int sendTimeouts = 0;
  // Cleared when the server's answer to a Range request cannot continue the
  // temporary file; the attempts that follow then start from 0.
  bool resumeAllowed = true;
  for (;;) {
    receivedSize = 0;
    contentLength = 0;
    responseHeader.clear();
    responseHeaderLength = 0;
    peer_.clear();
    // A code left by an earlier attempt must not pass for this one's.
    net::SetSocketLastError(0);
    const std::vector<ProxyRoute> routes = Routes();
    if (routes.empty()) return REQUEST_FAILED;
    RequestResult connected = REQUEST_RETRY;
    for (const ProxyRoute& route : routes) {
      route_ = route;
      ReportRoute(route_);
      CloseConnection();
      if (StopAsked()) return REQUEST_STOPPED;
      // A proxy that cannot be reached gives way to the next route listed.
      connected = Connect();
      if (connected != REQUEST_RETRY) break;
    }
    if (connected == REQUEST_RETRY) return Retry(RetryCause::kConnect);
    if (connected != REQUEST_OK) return connected;
    if (StopAsked()) return REQUEST_STOPPED;
    peer_ = net::SocketPeerAddress(connection);

    const PartialFile resume = head == 0 && resumeAllowed && forceDownload == 0
                                   ? FindPartialFile(tempFile)
                                   : PartialFile{};
    std::string request;
    if (!ComposeRequest(head, resume, request)) return REQUEST_FAILED;
    receivedSize = resume.offset;
    if (!SendAll(request)) {
      if (net::SocketLastError() == net::ErrTimedOut() && ++sendTimeouts < kMaxSendTimeouts) {
        continue;
      }
      return Retry(RetryCause::kSend);
    }
    if (StopAsked()) return REQUEST_STOPPED;

    switch (ReadResponseHeader(*socketReader, Milliseconds(receiveTimeout), responseHeader)) {
      case HeaderRead::kOk:
        break;
      case HeaderRead::kReadFailed:
        return Retry(RetryCause::kNoAnswer);
      case HeaderRead::kTooLarge:
      case HeaderRead::kMalformed:
        return REQUEST_FAILED;
    }
    if (route_.kind == PROXY_HTTP && useTls == 0) {
      const RequestResult answered = AnswerProxyChallenge(
          responseHeader, [&](const std::string& authorization, bool hold, std::string& text) {
            proxyAuthorization_ = authorization;
            holdConnection_ = hold;
            const bool composed = ComposeRequest(head, resume, text);
            proxyAuthorization_.clear();
            holdConnection_ = false;
            return composed;
          });
      if (answered == REQUEST_RETRY) return Retry(RetryCause::kNoAnswer);
      if (answered != REQUEST_OK) return answered;
    }
    responseHeaderLength = static_cast<std::int32_t>(responseHeader.size());

    const bool sentRange = resume.offset > 0;
    std::int64_t length = 0;
    int status = 0;
    // Judging the header may take a redirect's address: the trace names the
    // one that answered.
    ExchangeRecord exchange = CurrentExchange(head, resume.offset);
    const HeaderResult judged = ParseResponseHeader(responseHeader, length, status);
    if (exchangeCallback) {
      exchange.status = status;
      exchangeCallback(exchange);
    }
    switch (judged) {
      case HEADER_OK:
        contentLength = length;
        if (status == 206 && byteRanges_.empty() && !ContinuesPartialFile(resume)) {
          // Another piece, or a piece of another version, would splice two
          // files together: the partial file is dropped and fetched whole.
          if (!sentRange) return REQUEST_FAILED;
          resumeAllowed = false;
          continue;
        }
        if (sentRange && status == 206) {
          resumeTransfer = 1;
          totalSize = receivedSize + contentLength;
        } else {
          resumeTransfer = 0;
          receivedSize = 0;
          totalSize = contentLength;
        }
        return REQUEST_OK;
      case HEADER_RETRY:
        return Retry(RetryCause::kStatus, status);
      case HEADER_REDIRECT:
        if (++redirects > kMaxRedirects) return REQUEST_FAILED;
        continue;
      case HEADER_FAILED:
        break;
    }
    // 416: the partial file is not a prefix of what the server has now
    // (it may already be whole, or the file shrank). Start again from 0.
    if (status == 416 && sentRange) {
      resumeAllowed = false;
      continue;
    }
    return REQUEST_FAILED;
  }
}

}  // namespace http
