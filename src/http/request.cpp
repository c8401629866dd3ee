// Composing the request text: the request line and the fixed header set, in
// their order, with the credentials and the resume lines where they apply.
#include <string>

#include "http/base64.h"
#include "http/header_text.h"
#include "http/http_downloader.h"

namespace http {

bool HttpDownloader::ComposeRequest(int head, const PartialFile& resume, std::string& text) const {
  text.clear();
  // Through an HTTP proxy a plain request names the whole URL; an https one
  // goes through the proxy's tunnel and names only the object.
  const bool viaHttpProxy = route_.kind == PROXY_HTTP && useTls == 0;
  const std::string& target = viaHttpProxy ? url : object;
  if (HasControlByte(target) || HasControlByte(host) || HasControlByte(userAgent) ||
      HasControlByte(referer)) {
    return false;
  }
  text += head != 0 ? "HEAD " : "GET ";
  text += EncodeRequestTarget(target);
  text += " HTTP/1.1\r\n";
  if (viaHttpProxy) text += ProxyAuthorizationLine();
  std::string encoded;
  // A redirect may lead elsewhere: the server's credentials go only to the
  // host and port they were given for.
  if (useAuth != 0 && EqualsIgnoreCase(host, authHost_) && port == authPort_) {
    Base64Encode(authUser + ":" + authPassword, encoded);
    text += "Authorization: Basic " + encoded + "\r\n";
  }
  text += "Host: " + UrlHost(host);
  if (port != DefaultPort(useTls)) text += ":" + std::to_string(port);
  text += "\r\n";
  text += "Accept: */*\r\n";
  text += "Pragma: no-cache\r\n";
  text += "Cache-Control: no-cache\r\n";
  text += "User-Agent: " + userAgent + "\r\n";
  if (!referer.empty()) text += "Referer: " + referer + "\r\n";
  // A proxy's handshake goes on over the same connection.
  text += holdConnection_ ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  if (head == 0 && !byteRanges_.empty()) {
    text += "Range: " + byteRanges_ + "\r\n";
  } else if (head == 0 && resume.offset > 0) {
    text += "Range: bytes=" + std::to_string(resume.offset) + "-\r\n";
    // The partial file continues only the version that began it; any other
    // version comes whole. Without a time of the server's there is nothing to
    // ask with: the Content-Range of the answer is checked instead.
    if (resume.validator) text += "If-Range: " + FormatHttpDate(*resume.validator) + "\r\n";
  }
  text += "\r\n";
  return true;
}

std::string HttpDownloader::ProxyAuthorizationLine() const {
  if (!proxyAuthorization_.empty()) return proxyAuthorization_;
  if (route_.auth == 0) return {};
  std::string encoded;
  Base64Encode(route_.user + ":" + route_.password, encoded);
  return "Proxy-Authorization: Basic " + encoded + "\r\n";
}

}  // namespace http
