// Reading a response header block from a connection and judging it: the
// input is everything the server sends, received in pieces. The tables of
// tests/http pin the fields and judgements; here, whatever the pieces, no
// more than kMaxHeaderBytes is taken from the connection, and a block read in
// full leaves every byte after its empty line in the reader for the body.
// The block then goes through the judgement; a redirect's target must not be
// able to add lines to the next request.
#include <cstdint>
#include <string>
#include <string_view>

#include "feed_socket_calls.h"
#include "fuzz_support.h"
#include "http/recording_downloader.h"
#include "http/response_header.h"
#include "request_checks.h"

namespace {

void Judge(const std::string& block) {
  httptest::ExposedDownloader d;
  d.url = "http://fuzz.test:8080/dir/sub/update.zip";
  FUZZ_CHECK(http::ParseUrl(d.url, d.host, d.object, d.port) != 0);
  std::int64_t length = -1;
  int status = -1;
  if (d.ParseResponseHeader(block, length, status) == http::HEADER_REDIRECT) {
    std::string request;
    FUZZ_CHECK(d.ComposeRequest(0, http::PartialFile{}, request));
    fuzz::CheckRequestText(request);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::AsText(data, size);
  fuzz::FedReader fed(input, fuzz::HashOf(input), http::kBodyBlockSize);
  std::string block;
  const http::HeaderRead read = http::ReadResponseHeader(*fed.reader, 1000, block);
  const std::size_t consumed = fed.Consumed();
  // The bound counts every line with its break, interim responses included.
  FUZZ_CHECK(consumed <= http::kMaxHeaderBytes);
  if (read != http::HeaderRead::kOk) return 0;
  // The header ends with the LF of its empty line; nothing after it is taken.
  FUZZ_CHECK(consumed >= 2 && input[consumed - 1] == '\n');
  FUZZ_CHECK(fed.ReadRest() == input.substr(consumed));
  Judge(block);
  return 0;
}
