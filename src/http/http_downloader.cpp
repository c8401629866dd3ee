#include "http/http_downloader.h"

#include <cctype>
#include <optional>
#include <utility>

#include "http/header_text.h"
#include "net/host_connection.h"

namespace http {
namespace {

// A port: 1 to 5 decimal digits, 1 to 65535. Anything else is no port, so
// a URL such as "http://h:abc/" is refused rather than sent to port 0.
std::optional<std::uint16_t> PortValue(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10u + static_cast<std::uint32_t>(c - '0');
  }
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// Splits "HOST[:PORT]", where HOST may be an IPv6 address in brackets (so
// that its colons are not taken for the port's), into the host without
// brackets and the port's text, if one is given. False for brackets around
// anything but an IPv6 address, or followed by anything but a port.
bool SplitAuthority(const std::string& text, std::string& host,
                    std::optional<std::string>& portText) {
  std::size_t colon = text.find(':');
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || !net::ParseIpv6Text(text.substr(1, close - 1))) return false;
    if (close + 1 < text.size() && text[close + 1] != ':') return false;
    host = text.substr(1, close - 1);
    colon = close + 1 < text.size() ? close + 1 : std::string::npos;
  } else {
    host = text.substr(0, colon);
  }
  if (colon != std::string::npos) portText = text.substr(colon + 1);
  return true;
}

}  // namespace

int ParseUrl(const std::string& url, std::string& host, std::string& object, std::uint16_t& port,
             int& tls) {
  host.clear();
  object.clear();
  port = 0;
  tls = 0;
  const std::string text = TrimBlanks(url);
  if (HasControlByte(text)) return 0;
  const std::size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string::npos) return 0;
  std::string scheme = text.substr(0, schemeEnd + 3);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme == "https://") {
    tls = 1;
  } else if (scheme != "http://") {
    return 0;
  }
  const std::string rest = text.substr(schemeEnd + 3);
  const std::size_t slash = rest.find('/');
  if (slash == std::string::npos) return 0;
  object = rest.substr(slash);
  std::string name;
  std::optional<std::string> portText;
  std::optional<std::uint16_t> value;
  if (SplitAuthority(rest.substr(0, slash), name, portText)) {
    value = portText ? PortValue(*portText) : DefaultPort(tls);
  }
  if (!value) {
    object.clear();
    tls = 0;
    return 0;
  }
  host = name;
  port = *value;
  return 1;
}

int ParseUrl(const std::string& url, std::string& host, std::string& object, std::uint16_t& port) {
  int tls = 0;
  return ParseUrl(url, host, object, port, tls);
}

std::string UrlHost(const std::string& host) {
  return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

HttpDownloader::HttpDownloader() = default;

HttpDownloader::~HttpDownloader() { CloseConnection(); }

void HttpDownloader::SetProgressCallback(ProgressCallback callback) {
  progress_ = std::move(callback);
  notifyEnabled = progress_ ? 1 : 0;
}

void HttpDownloader::Notify(int code) {
  if (notifyEnabled == 0 || !progress_) return;
  DownloadProgress record;
  record.code = code;
  record.totalSize = totalSize;
  record.receivedSize = receivedSize;
  record.fileName = fileName;
  if (code == NOTIFY_RETRY) {
    record.retryCause = retryCause_;
    record.status = retryStatus_;
    record.systemError = retryError_;
    record.pauseMs = retryPauseMs_;
  }
  progress_(record);
}

}  // namespace http
