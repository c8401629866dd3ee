// ParseUrl on any text, and the request composed from what it accepts. The
// URL tables of tests/http pin the parts and the refusal of control bytes;
// here the GET request made from an accepted URL, directly or through an HTTP
// proxy, has one request line with the target in one piece and only the
// engine's header lines.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "http/recording_downloader.h"
#include "request_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string url(fuzz::AsText(data, size));
  httptest::ExposedDownloader d;
  if (http::ParseUrl(url, d.host, d.object, d.port) == 0) return 0;
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
  fuzz::CheckRequestText(request);

  // Through an HTTP proxy the whole URL is the target; with credentials the
  // Authorization lines come in as well.
  FUZZ_CHECK(d.TakeUrl(url));
  d.SetRoute({http::PROXY_HTTP, "proxy.test", 3128, 1, d.host, d.object});
  d.useAuth = 1;
  d.authUser = d.object;
  d.authPassword = d.host;
  d.referer = url;
  if (d.ComposeRequest(0, resume, request)) fuzz::CheckRequestText(request);
  return 0;
}
