// Judging a response header: the status class, the body's framing and its
// Last-Modified time, and the new target of a redirect.
#include <cctype>
#include <limits>
#include <string>

#include "http/field_values.h"
#include "http/header_text.h"
#include "http/http_downloader.h"
#include "http/redirect.h"
#include "http/response_header.h"

namespace http {
namespace {

bool IsIdentity(std::string_view value) {
  std::string lower(value);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "identity";
}

}  // namespace

HeaderResult HttpDownloader::ParseResponseHeader(const std::string& block, std::int32_t& length,
                                                 int& status) {
  length = 0;
  status = 0;
  lastModified = CurrentHttpTime();
  lastModifiedFromServer = 0;
  contentRangeStart = -1;
  contentRangeComplete = -1;

  const std::optional<ResponseFields> response = SplitResponseHeader(block);
  if (!response) return HEADER_FAILED;
  status = response->status;

  if (status >= 300 && status <= 399) {
    const std::optional<std::string_view> location = FindField(*response, "Location");
    if (!location || location->empty() || HasControlByte(*location)) return HEADER_FAILED;
    const std::string newUrl = ResolveRedirect(useTls != 0, host, port, object, *location);
    std::string newHost;
    std::string newObject;
    std::uint16_t newPort = 0;
    int newTls = 0;
    if (ParseUrl(newUrl, newHost, newObject, newPort, newTls) == 0) return HEADER_FAILED;
    // A download that had TLS never leaves it: a plain http hop would hand
    // the rest of the transfer to anyone on the path.
    if (useTls != 0 && newTls == 0) return HEADER_FAILED;
    useTls = newTls;
    referer = url;
    url = newUrl;
    host = newHost;
    object = newObject;
    port = newPort;
    return HEADER_REDIRECT;
  }
  if (status >= 500) return HEADER_RETRY;
  // 1xx cannot be final: the reading step has dropped the interim ones.
  if (status < 200 || status >= 400) return HEADER_FAILED;

  // Only an identity body can be written as it arrives; chunked framing
  // (or any other coding) must never end up in the file.
  for (const std::string_view coding : FindFields(*response, "Transfer-Encoding")) {
    if (!IsIdentity(coding)) return HEADER_FAILED;
  }
  const std::vector<std::string_view> lengths = FindFields(*response, "Content-Length");
  if (lengths.empty()) return HEADER_FAILED;
  const std::optional<std::int32_t> value = ParseContentLength(lengths.front());
  if (!value) return HEADER_FAILED;
  for (const std::string_view other : lengths) {
    if (ParseContentLength(other) != value) return HEADER_FAILED;
  }
  if (const auto modified = FindField(*response, "Last-Modified")) {
    if (const std::optional<HttpTime> time = ParseHttpDate(*modified)) {
      lastModified = *time;
      lastModifiedFromServer = 1;
    }
  }

  if (status == 206) {
    const auto rangeText = FindField(*response, "Content-Range");
    if (!rangeText) return HEADER_FAILED;
    const std::optional<ContentRange> range = ParseContentRange(*rangeText);
    // The engine asks only for the rest of a file, so the part must run to
    // its end; a shorter one would complete a truncated file.
    if (!range || range->last - range->first + 1 != *value ||
        (range->complete >= 0 && range->last + 1 != range->complete) ||
        range->first > std::numeric_limits<std::int32_t>::max() - *value) {
      return HEADER_FAILED;
    }
    contentRangeStart = static_cast<std::int32_t>(range->first);
    contentRangeComplete = range->complete;
  }
  length = *value;
  return HEADER_OK;
}

}  // namespace http
