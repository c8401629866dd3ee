// Reading a response header block from the connection and splitting it into
// the status and the header fields. Names are matched without regard to case
// at the start of a line; values keep their case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/socket_reader.h"

namespace http {

// A server that sends more than this (every line with its break, interim
// responses included) is refused instead of being buffered.
inline constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
inline constexpr int kMaxHeaderLines = 256;

enum class HeaderRead {
  kOk,
  kReadFailed,  // time-out, error or closed connection before the empty line
  kTooLarge,    // past kMaxHeaderBytes or kMaxHeaderLines
  kMalformed,   // a NUL byte in a line
};

// Reads the header block of the final response into `block`: every line in
// order, the status line first, each followed by CR LF, without the empty
// line that ends it. Interim 1xx responses before it are read and dropped.
// The body that follows stays in `reader`.
HeaderRead ReadResponseHeader(net::SocketReader& reader, std::uint32_t timeoutMs,
                              std::string& block);

struct ResponseFields {
  int status = 0;
  // Name and value of each field line in order; names as sent, values
  // trimmed of blanks and tabs.
  std::vector<std::pair<std::string, std::string>> fields;
};

// Splits a header block. Nothing when the status line is not
// "HTTP/<version> <3 digits>" with an optional reason phrase.
std::optional<ResponseFields> SplitResponseHeader(std::string_view block);

// The status code of a status line ("HTTP/1.1 200 OK" gives 200); nothing
// when the line is not one.
std::optional<int> ParseStatusLine(std::string_view line);

// Values of every field called `name` (any case), in order.
std::vector<std::string_view> FindFields(const ResponseFields& response, std::string_view name);

// The value of the first field called `name`; nothing when there is none.
std::optional<std::string_view> FindField(const ResponseFields& response, std::string_view name);

}  // namespace http
