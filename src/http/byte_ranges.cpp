#include "http/byte_ranges.h"

#include <algorithm>
#include <utility>

#include "http/field_values.h"
#include "http/header_text.h"

namespace http {
namespace {

constexpr std::size_t kMaxBoundaryBytes = 70;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

std::string RangeValue(const std::vector<ByteSpan>& spans, std::size_t& taken) {
  std::string value = "bytes=";
  for (taken = 0; taken < spans.size() && taken < kMaxRangesPerRequest; ++taken) {
    const ByteSpan& span = spans[taken];
    const std::string range = (taken == 0 ? "" : ",") + std::to_string(span.offset) + "-" +
                              std::to_string(span.offset + span.length - 1);
    if (taken > 0 && value.size() + range.size() > kMaxRangeValueBytes) break;
    value += range;
  }
  return value;
}

std::optional<std::string> ByteRangesBoundary(std::string_view contentType) {
  std::size_t at = contentType.find(';');
  if (Lower(TrimBlanks(contentType.substr(0, at))) != "multipart/byteranges") {
    return std::nullopt;
  }
  while (at != std::string_view::npos) {
    const std::size_t equals = contentType.find('=', at + 1);
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string name = Lower(TrimBlanks(contentType.substr(at + 1, equals - at - 1)));
    std::size_t start = equals + 1;
    while (start < contentType.size() &&
           (contentType[start] == ' ' || contentType[start] == '\t')) {
      ++start;
    }
    std::string value;
    if (start < contentType.size() && contentType[start] == '"') {
      const std::size_t quote = contentType.find('"', start + 1);
      if (quote == std::string_view::npos) return std::nullopt;
      value = contentType.substr(start + 1, quote - start - 1);
      at = contentType.find(';', quote);
      if (!TrimBlanks(contentType.substr(quote + 1, at - quote - 1)).empty()) return std::nullopt;
    } else {
      at = contentType.find(';', start);
      value = TrimBlanks(contentType.substr(start, at - start));
    }
    if (name != "boundary") continue;
    if (value.empty() || value.size() > kMaxBoundaryBytes || HasControlByte(value)) {
      return std::nullopt;
    }
    return value;
  }
  return std::nullopt;
}

std::vector<ByteSpan> SpansLeft(const std::vector<ByteSpan>& spans,
                                const std::vector<ByteSpan>& arrived) {
  std::vector<ByteSpan> sorted = arrived;
  std::sort(sorted.begin(), sorted.end(),
            [](const ByteSpan& a, const ByteSpan& b) { return a.offset < b.offset; });
  std::vector<ByteSpan> left;
  std::size_t first = 0;  // the first arrival that may reach into the span
  for (const ByteSpan& span : spans) {
    const std::int64_t end = span.offset + span.length;
    while (first < sorted.size() && sorted[first].offset + sorted[first].length <= span.offset) {
      ++first;
    }
    std::int64_t at = span.offset;
    for (std::size_t i = first; i < sorted.size() && sorted[i].offset < end && at < end; ++i) {
      if (sorted[i].offset > at) left.push_back({at, sorted[i].offset - at});
      at = std::max(at, sorted[i].offset + sorted[i].length);
    }
    if (at < end) left.push_back({at, end - at});
  }
  return left;
}

ByteRangesDecoder::ByteRangesDecoder(std::string_view boundary, std::int64_t fileSize)
    : delimiter_("--" + std::string(boundary)), fileSize_(fileSize) {}

ByteRangesDecoder::ByteRangesDecoder(std::int64_t offset, std::int64_t length)
    : part_(Part::kData), offset_(offset), left_(length) {}

bool ByteRangesDecoder::IsDelimiter(bool close) const {
  const std::string_view line = line_;
  const std::size_t end = delimiter_.size() + (close ? 2 : 0);
  if (line.substr(0, delimiter_.size()) != delimiter_ ||
      (close && line.substr(delimiter_.size(), 2) != "--") || line.size() < end) {
    return false;
  }
  return line.find_first_not_of(" \t", end) == std::string_view::npos;
}

bool ByteRangesDecoder::TakeLine() {
  switch (part_) {
    case Part::kPreamble:
      if (IsDelimiter(false)) {
        part_ = Part::kHeaders;
        headerBytes_ = 0;
      }
      return true;
    case Part::kHeaders: {
      if (line_.empty()) {
        if (!partOffset_) return false;
        offset_ = *partOffset_;
        partOffset_.reset();
        part_ = Part::kData;
        headerBytes_ = 0;
        return true;
      }
      const std::size_t colon = line_.find(':');
      if (colon == std::string::npos) return false;
      if (!EqualsIgnoreCase(TrimBlanks(std::string_view(line_).substr(0, colon)),
                            "Content-Range")) {
        return true;
      }
      const std::optional<ContentRange> range =
          ParseContentRange(TrimBlanks(std::string_view(line_).substr(colon + 1)));
      if (partOffset_ || !range || range->last >= fileSize_ ||
          (range->complete >= 0 && range->complete != fileSize_)) {
        return false;
      }
      partOffset_ = range->first;
      left_ = range->last - range->first + 1;
      return true;
    }
    case Part::kDataEnd:
      part_ = Part::kDelimiter;
      return line_.empty();
    case Part::kDelimiter:
      if (IsDelimiter(true)) {
        state_ = State::kDone;
        return true;
      }
      part_ = Part::kHeaders;
      headerBytes_ = 0;
      return IsDelimiter(false);
    case Part::kData:
      break;
  }
  return false;
}

bool ByteRangesDecoder::Decode(const char* bytes, std::size_t size, const Sink& sink) {
  for (std::size_t at = 0; at < size && state_ == State::kBody;) {
    if (part_ == Part::kData) {
      const auto take = static_cast<std::size_t>(
          std::min<std::int64_t>(left_, static_cast<std::int64_t>(size - at)));
      if (!sink(offset_, bytes + at, take)) return false;
      offset_ += static_cast<std::int64_t>(take);
      left_ -= static_cast<std::int64_t>(take);
      at += take;
      if (left_ > 0) continue;
      // A body of one part ends with its data; a part of many, with the
      // line break before the next delimiter.
      if (delimiter_.empty()) {
        state_ = State::kDone;
      } else {
        part_ = Part::kDataEnd;
      }
      continue;
    }
    const char c = bytes[at++];
    if (c != '\n') {
      line_ += c;
      if (++headerBytes_ > kMaxPartHeaderBytes) state_ = State::kMalformed;
      continue;
    }
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (!TakeLine()) state_ = State::kMalformed;
    line_.clear();
  }
  return true;
}

}  // namespace http
