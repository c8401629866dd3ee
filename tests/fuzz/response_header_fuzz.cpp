// Reading a response header block from a connection and judging it: the
// input is everything the server sends, received in pieces. Checks:
// - whatever the pieces, no more than kMaxHeaderBytes is ever taken from the
//   connection; a NUL byte in a line fails the read where it stands;
// - a block read in full ends at an empty line of the input, holds only CR LF
//   line breaks, and leaves every byte after the header in the reader for
//   the body;
// - a failed read has used up the connection;
// - the judgement fits the status class, a Content-Length is never negative,
//   and a redirect leaves a target that parses again and makes a request
//   whose request line and header lines cannot be split by the server's text.
#include <cstdint>
#include <string>
#include <string_view>

#include "feed_socket_calls.h"
#include "fuzz_support.h"
#include "http/header_text.h"
#include "http/http_downloader.h"
#include "http/response_header.h"
#include "request_checks.h"

namespace {

constexpr char kRequestedUrl[] = "http://fuzz.test:8080/dir/sub/update.zip";

// The engine's judging of a header block, which it keeps to itself.
class Judging : public http::HttpDownloader {
 public:
  using http::HttpDownloader::ComposeRequest;
  using http::HttpDownloader::ParseResponseHeader;
};

void CheckBlock(std::string_view block) {
  FUZZ_CHECK(block.size() >= 2 && block.substr(block.size() - 2) == "\r\n");
  for (std::size_t i = 0; i < block.size(); ++i) {
    if (block[i] == '\n') FUZZ_CHECK(i > 0 && block[i - 1] == '\r');
  }
  // No empty line inside: it would have ended the block.
  FUZZ_CHECK(block.find("\r\n\r\n") == std::string_view::npos);
  FUZZ_CHECK(block.substr(0, 2) != "\r\n");
}

void CheckFields(std::string_view block) {
  const std::optional<http::ResponseFields> fields = http::SplitResponseHeader(block);
  if (!fields) return;
  FUZZ_CHECK(fields->status >= 0 && fields->status <= 999);
  for (const auto& [name, value] : fields->fields) {
    FUZZ_CHECK(!name.empty());
    // A bare CR inside a line is kept as a byte of it; only CR LF ends one.
    FUZZ_CHECK(name.find_first_of("\n:") == std::string::npos);
    FUZZ_CHECK(name.front() != ' ' && name.front() != '\t');
    FUZZ_CHECK(value.find("\r\n") == std::string::npos);
    FUZZ_CHECK(value.empty() || (value.front() != ' ' && value.back() != ' '));
  }
}

void Judge(const std::string& block) {
  Judging d;
  d.url = kRequestedUrl;
  FUZZ_CHECK(http::ParseUrl(d.url, d.host, d.object, d.port) != 0);
  std::int32_t length = -1;
  int status = -1;
  const http::HeaderResult result = d.ParseResponseHeader(block, length, status);
  switch (result) {
    case http::HEADER_OK:
      FUZZ_CHECK(status >= 200 && status <= 299);
      FUZZ_CHECK(length >= 0);
      if (status == 206) FUZZ_CHECK(d.contentRangeStart >= 0);
      break;
    case http::HEADER_RETRY:
      FUZZ_CHECK(status >= 500);
      FUZZ_CHECK(length == 0);
      break;
    case http::HEADER_REDIRECT: {
      FUZZ_CHECK(status >= 300 && status <= 399);
      FUZZ_CHECK(d.referer == kRequestedUrl);
      FUZZ_CHECK(!http::HasControlByte(d.url));
      std::string host;
      std::string object;
      std::uint16_t port = 0;
      FUZZ_CHECK(http::ParseUrl(d.url, host, object, port) != 0);
      FUZZ_CHECK(host == d.host && object == d.object && port == d.port);
      FUZZ_CHECK(!object.empty() && object.front() == '/');
      std::string request;
      FUZZ_CHECK(d.ComposeRequest(0, http::PartialFile{}, request));
      fuzz::CheckRequestText(request, "GET");
      break;
    }
    case http::HEADER_FAILED:
      FUZZ_CHECK(length == 0);
      break;
    default:
      FUZZ_CHECK(false);  // not a HeaderResult
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::AsText(data, size);
  fuzz::FedReader fed(input, fuzz::HashOf(input), http::kBodyBlockSize);
  std::string block;
  const http::HeaderRead read = http::ReadResponseHeader(*fed.reader, 1000, block);
  const std::size_t consumed = fed.Consumed();
  // However the bytes came in pieces, no more than the bound was taken: the
  // bound counts every line with its break, interim responses included.
  FUZZ_CHECK(consumed <= http::kMaxHeaderBytes);
  const std::string_view taken = input.substr(0, consumed);
  switch (read) {
    case http::HeaderRead::kOk: {
      CheckBlock(block);
      FUZZ_CHECK(taken.find('\0') == std::string_view::npos);
      // The header ends with the LF of its empty line (LF or CR LF); nothing
      // after it is taken from the body.
      FUZZ_CHECK(consumed >= 2 && input[consumed - 1] == '\n');
      const std::size_t previous = input.rfind('\n', consumed - 2);
      FUZZ_CHECK(previous != std::string_view::npos);
      const std::string_view last = input.substr(previous + 1, consumed - 2 - previous);
      FUZZ_CHECK(last.empty() || last == "\r");
      FUZZ_CHECK(fed.ReadRest() == input.substr(consumed));
      CheckFields(block);
      Judge(block);
      break;
    }
    case http::HeaderRead::kReadFailed:
      FUZZ_CHECK(consumed == input.size());
      FUZZ_CHECK(taken.find('\0') == std::string_view::npos);
      break;
    case http::HeaderRead::kMalformed:
      // Only a NUL fails a line, and it was the last byte taken.
      FUZZ_CHECK(!taken.empty() && taken.back() == '\0' && taken.find('\0') == consumed - 1);
      break;
    case http::HeaderRead::kTooLarge:
      FUZZ_CHECK(taken.find('\0') == std::string_view::npos);
      break;
  }
  return 0;
}
