#include "http/response_header.h"

#include "http/header_text.h"

namespace http {
namespace {

// Interim responses (100 Continue, 103 Early Hints) allowed before the final one.
constexpr int kMaxInterimResponses = 8;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

enum class LineRead { kLine, kFailed, kTooLarge, kMalformed };

// One header line without its line break (LF, or CR LF). `budget` is how many
// more bytes the block may take, line breaks included: every byte is counted
// as it is taken, so no split of the block into lines or pieces gets past it.
LineRead ReadHeaderLine(net::SocketReader& reader, std::uint32_t timeoutMs, std::size_t budget,
                        std::string& line, std::size_t& taken) {
  line.clear();
  for (taken = 1;; ++taken) {
    if (taken > budget) return LineRead::kTooLarge;
    const int byte = net::ReaderGetByte(reader, timeoutMs);
    if (byte == net::READER_NO_BYTE) return LineRead::kFailed;
    if (byte == '\n') break;
    // A NUL would cut the line short of what a later check of it sees.
    if (byte == 0) return LineRead::kMalformed;
    line += static_cast<char>(byte);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return LineRead::kLine;
}

}  // namespace

std::optional<int> ParseStatusLine(std::string_view line) {
  line = Trim(line);
  if (line.size() < 5 || !EqualsIgnoreCase(line.substr(0, 5), "http/")) return std::nullopt;
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(blank + 1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (rest.size() < 3) return std::nullopt;
  int code = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (rest[i] < '0' || rest[i] > '9') return std::nullopt;
    code = code * 10 + (rest[i] - '0');
  }
  // The reason phrase may be missing altogether ("HTTP/1.1 200").
  if (rest.size() > 3 && rest[3] != ' ' && rest[3] != '\t') return std::nullopt;
  return code;
}

HeaderRead ReadResponseHeader(net::SocketReader& reader, std::uint32_t timeoutMs,
                              std::string& block) {
  block.clear();
  std::size_t bytesRead = 0;
  int linesRead = 0;
  int interim = 0;
  std::string line;
  for (;;) {
    if (linesRead >= kMaxHeaderLines) return HeaderRead::kTooLarge;
    std::size_t taken = 0;
    switch (ReadHeaderLine(reader, timeoutMs, kMaxHeaderBytes - bytesRead, line, taken)) {
      case LineRead::kLine:
        break;
      case LineRead::kFailed:
        return HeaderRead::kReadFailed;
      case LineRead::kTooLarge:
        return HeaderRead::kTooLarge;
      case LineRead::kMalformed:
        return HeaderRead::kMalformed;
    }
    bytesRead += taken;
    ++linesRead;
    if (!line.empty()) {
      block += line;
      block += "\r\n";
      continue;
    }
    if (block.empty()) continue;  // blank lines before a status line are skipped
    const std::optional<int> status = ParseStatusLine(block.substr(0, block.find("\r\n")));
    if (!status || *status < 100 || *status > 199) return HeaderRead::kOk;
    if (++interim > kMaxInterimResponses) return HeaderRead::kTooLarge;
    block.clear();
  }
}

std::optional<ResponseFields> SplitResponseHeader(std::string_view block) {
  const std::size_t end = block.find("\r\n");
  if (end == std::string_view::npos) return std::nullopt;
  const std::optional<int> status = ParseStatusLine(block.substr(0, end));
  if (!status) return std::nullopt;
  ResponseFields response;
  response.status = *status;
  std::size_t pos = end + 2;
  while (pos < block.size()) {
    std::size_t lineEnd = block.find("\r\n", pos);
    if (lineEnd == std::string_view::npos) lineEnd = block.size();
    const std::string_view line = block.substr(pos, lineEnd - pos);
    pos = lineEnd + 2;
    // A line without a colon, or one that starts with a blank (an obsolete
    // continuation), names no field.
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0 || line[0] == ' ' || line[0] == '\t') {
      continue;
    }
    response.fields.emplace_back(std::string(Trim(line.substr(0, colon))),
                                 std::string(Trim(line.substr(colon + 1))));
  }
  return response;
}

std::vector<std::string_view> FindFields(const ResponseFields& response, std::string_view name) {
  std::vector<std::string_view> values;
  for (const auto& [fieldName, value] : response.fields) {
    if (EqualsIgnoreCase(fieldName, name)) values.emplace_back(value);
  }
  return values;
}

std::optional<std::string_view> FindField(const ResponseFields& response, std::string_view name) {
  for (const auto& [fieldName, value] : response.fields) {
    if (EqualsIgnoreCase(fieldName, name)) return std::string_view(value);
  }
  return std::nullopt;
}

}  // namespace http
