// Composing the request text: the request line and the fixed header set, in
// their order, with the credentials and the resume lines where they apply.
#include <string>

#include "http/base64.h"
#include "http/header_text.h"
#include "http/http_downloader.h"

namespace http {

bool HttpDownloader::ComposeRequest(int head, const PartialFile& resume, std::string& text) const {
  text.clear();
  const bool viaHttpProxy = proxyKind == PROXY_HTTP;
  const std::string& target = viaHttpProxy ? url : object;
  if (HasControlByte(target) || HasControlByte(host) || HasControlByte(userAgent) ||
      HasControlByte(referer)) {
    return false;
  }
  text += head != 0 ? "HEAD " : "GET ";
  text += EncodeRequestTarget(target);
  text += " HTTP/1.1\r\n";
  std::string encoded;
  if (viaHttpProxy && proxyAuth != 0) {
    Base64Encode(proxyUser + ":" + proxyPassword, encoded);
    text += "Proxy-Authorization: Basic " + encoded + "\r\n";
  }
  // A redirect may lead elsewhere: the server's credentials go only to the
  // host and port they were given for.
  if (useAuth != 0 && EqualsIgnoreCase(host, authHost_) && port == authPort_) {
    Base64Encode(authUser + ":" + authPassword, encoded);
    text += "Authorization: Basic " + encoded + "\r\n";
  }
  text += "Host: " + host;
  if (port != 80) text += ":" + std::to_string(port);
  text += "\r\n";
  text += "Accept: */*\r\n";
  text += "Pragma: no-cache\r\n";
  text += "Cache-Control: no-cache\r\n";
  text += "User-Agent: " + userAgent + "\r\n";
  if (!referer.empty()) text += "Referer: " + referer + "\r\n";
  text += "Connection: close\r\n";
  if (head == 0 && resume.offset > 0) {
    text += "Range: bytes=" + std::to_string(resume.offset) + "-\r\n";
    // The partial file continues only the version that began it; any other
    // version comes whole. Without a time of the server's there is nothing to
    // ask with: the Content-Range of the answer is checked instead.
    if (resume.validator) text += "If-Range: " + FormatHttpDate(*resume.validator) + "\r\n";
  }
  text += "\r\n";
  return true;
}

}  // namespace http
