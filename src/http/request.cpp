// Composing the request text: the request line and the fixed header set, in
// their order, with the credentials and the resume lines where they apply.
#include <limits>
#include <string>

#include "http/base64.h"
#include "http/header_text.h"
#include "http/http_downloader.h"
#include "platform/files.h"

namespace http {

HttpDownloader::ResumePoint HttpDownloader::FindResumePoint() const {
  ResumePoint resume;
  if (forceDownload != 0) return resume;
  const std::optional<platform::FileStatus> status = platform::GetFileStatus(tempFile);
  if (!status || status->size <= 0 || status->size > std::numeric_limits<std::int32_t>::max() ||
      (status->attributes & platform::kAttrDirectory) != 0) {
    return resume;
  }
  resume.offset = static_cast<std::int32_t>(status->size);
  resume.validator = platform::FileTimeToUnixTime(status->modificationTime);
  return resume;
}

bool HttpDownloader::ComposeRequest(int head, const ResumePoint& resume, std::string& text) const {
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
  if (useAuth != 0) {
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
    // version comes whole.
    text += "If-Range: " + FormatHttpDate(resume.validator) + "\r\n";
  }
  text += "\r\n";
  return true;
}

}  // namespace http
