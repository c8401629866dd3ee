// ParseUrl on any text, and the request composed from what it accepts.
// Checks: an accepted URL gives an object that starts with "/" and holds no
// control byte, and so does the host; writing host, port and object back into
// a URL and parsing it again gives the same parts; the GET request made from
// them, directly or through an HTTP proxy, has one request line with the target in
// one piece and only the engine's header lines.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "http/header_text.h"
#include "http/http_downloader.h"
#include "request_checks.h"

namespace {

// The engine's request composition, which it keeps to itself.
class Composing : public http::HttpDownloader {
 public:
  using http::HttpDownloader::ComposeRequest;
  using http::HttpDownloader::TakeUrl;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string url(fuzz::AsText(data, size));
  Composing d;
  if (http::ParseUrl(url, d.host, d.object, d.port) == 0) {
    // A URL with a control byte is never understood, also not with the
    // "http://" that Download puts in front of a failed one.
    if (http::HasControlByte(http::TrimBlanks(url))) {
      std::string host;
      std::string object;
      std::uint16_t port = 0;
      FUZZ_CHECK(http::ParseUrl("http://" + url, host, object, port) == 0);
    }
    return 0;
  }
  FUZZ_CHECK(!d.object.empty() && d.object.front() == '/');
  FUZZ_CHECK(!http::HasControlByte(d.object));
  FUZZ_CHECK(!http::HasControlByte(d.host));
  FUZZ_CHECK(d.host.find_first_of("/:") == std::string::npos);

  std::string host;
  std::string object;
  std::uint16_t port = 0;
  const std::string rebuilt = "http://" + d.host + ":" + std::to_string(d.port) + d.object;
  FUZZ_CHECK(http::ParseUrl(rebuilt, host, object, port) != 0);
  FUZZ_CHECK(host == d.host && object == d.object && port == d.port);

  // A resume offset and validator from the input's hash: the Range and
  // If-Range lines come with them.
  const std::uint32_t seed = fuzz::HashOf(url);
  http::PartialFile resume;
  if ((seed & 1) != 0) {
    resume.offset = static_cast<std::int32_t>(seed >> 1);
    if ((seed & 2) != 0) resume.validator = static_cast<http::HttpTime>(seed) * 977;
  }
  std::string request;
  FUZZ_CHECK(d.ComposeRequest(0, resume, request));
  fuzz::CheckRequestText(request, "GET");

  // Through an HTTP proxy the whole URL is the target; with credentials the
  // Authorization lines come in as well.
  FUZZ_CHECK(d.TakeUrl(url));
  d.proxyKind = http::PROXY_HTTP;
  d.proxyAuth = 1;
  d.proxyUser = d.host;
  d.proxyPassword = d.object;
  d.useAuth = 1;
  d.authUser = d.object;
  d.authPassword = d.host;
  d.referer = url;
  if (d.ComposeRequest(0, resume, request)) fuzz::CheckRequestText(request, "GET");
  return 0;
}
