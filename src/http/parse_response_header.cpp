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
#include "http/retry_schedule.h"

namespace http {
namespace {

// The codings of every Transfer-Encoding field, in order, lower-cased:
// true when they are "identity" only (or none) or end in "chunked" after
// "identity" only; any other coding could not be written as it arrives.
bool ReadTransferCodings(const ResponseFields& response, bool& chunked) {
  chunked = false;
  for (const std::string_view field : FindFields(response, "Transfer-Encoding")) {
    std::size_t start = 0;
    while (start <= field.size()) {
      std::size_t comma = field.find(',', start);
      if (comma == std::string_view::npos) comma = field.size();
      std::string coding = TrimBlanks(std::string(field.substr(start, comma - start)));
      for (char& c : coding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      start = comma + 1;
      if (coding.empty() || coding == "identity") continue;
      // Nothing may follow chunked: it frames the body.
      if (coding != "chunked" || chunked) return false;
      chunked = true;
    }
  }
  return true;
}

}  // namespace

HeaderResult HttpDownloader::ParseResponseHeader(const std::string& block, std::int64_t& length,
                                                 int& status) {
  length = 0;
  status = 0;
  framing = BodyFraming::kLength;
  retryAfterMs_.reset();
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
    const std::string newUrl = ResolveRedirect(useTls != 0, UrlHost(host), port, object, *location);
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
  // A server that is busy, or timed out waiting for the request, may take
  // it later, when it says.
  if (status >= 500 || status == 408 || status == 429) {
    if (const auto after = FindField(*response, "Retry-After")) {
      retryAfterMs_ = ParseRetryAfter(*after, CurrentHttpTime());
    }
    return HEADER_RETRY;
  }
  // 1xx cannot be final: the reading step has dropped the interim ones.
  if (status < 200 || status >= 400) return HEADER_FAILED;

  // The bytes of the file are what reaches it: a chunked body is decoded
  // as it arrives, any other coding is refused.
  bool chunked = false;
  if (!ReadTransferCodings(*response, chunked)) return HEADER_FAILED;
  const std::vector<std::string_view> lengths = FindFields(*response, "Content-Length");
  // Both framings at once is how a body is smuggled past a checking proxy.
  if (chunked && !lengths.empty()) return HEADER_FAILED;
  std::optional<std::int64_t> value;
  if (!lengths.empty()) {
    value = ParseContentLength(lengths.front());
    if (!value) return HEADER_FAILED;
    for (const std::string_view other : lengths) {
      if (ParseContentLength(other) != value) return HEADER_FAILED;
    }
  }
  if (const auto modified = FindField(*response, "Last-Modified")) {
    if (const std::optional<HttpTime> time = ParseHttpDate(*modified)) {
      lastModified = *time;
      lastModifiedFromServer = 1;
    }
  }

  if (!value) {
    // Without a length the body ends with its last chunk, or else with the
    // close of the connection; a part of a file must say how long it is.
    if (status == 206) return HEADER_FAILED;
    framing = chunked ? BodyFraming::kChunked : BodyFraming::kClose;
    length = -1;
    return HEADER_OK;
  }
  // The answer to DownloadRanges' request is judged there: its parts say
  // where they lie.
  if (status == 206 && byteRanges_.empty()) {
    const auto rangeText = FindField(*response, "Content-Range");
    if (!rangeText) return HEADER_FAILED;
    const std::optional<ContentRange> range = ParseContentRange(*rangeText);
    // The engine asks only for the rest of a file, so the part must run to
    // its end; a shorter one would complete a truncated file.
    if (!range || range->last - range->first + 1 != *value ||
        (range->complete >= 0 && range->last + 1 != range->complete) ||
        range->first > std::numeric_limits<std::int64_t>::max() - *value) {
      return HEADER_FAILED;
    }
    contentRangeStart = range->first;
    contentRangeComplete = range->complete;
  }
  length = *value;
  return HEADER_OK;
}

}  // namespace http
