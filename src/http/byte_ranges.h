// Parts of a file fetched several to a request: the Range value that asks for
// them, and the multipart/byteranges body that brings them, undone as its
// bytes arrive: bytes in, each part's place in the file and its data out, and
// a verdict. Every part must say where it lies (Content-Range) within a file
// of the expected size; its data is taken by that length, never by a search
// for the boundary, and the delimiter must follow it at once. Lines of the
// preamble and of the part headers are bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace http {

struct ByteSpan {
  std::int64_t offset = 0;
  std::int64_t length = 0;
};

// One request asks for at most this many spans, in a Range value of at most
// this many bytes (servers bound a header line: nginx at 8 KiB by default).
inline constexpr std::size_t kMaxRangesPerRequest = 100;
inline constexpr std::size_t kMaxRangeValueBytes = 4000;

// "bytes=0-99,200-299" for the first of `spans` that fit in one request;
// `taken` is set to how many.
std::string RangeValue(const std::vector<ByteSpan>& spans, std::size_t& taken);

// The boundary of a Content-Type "multipart/byteranges; boundary=..." (a
// token or a quoted string of 1 to 70 bytes); nothing for any other type.
std::optional<std::string> ByteRangesBoundary(std::string_view contentType);

// `spans` without the bytes of `arrived` (each list in the order of offsets).
std::vector<ByteSpan> SpansLeft(const std::vector<ByteSpan>& spans,
                                const std::vector<ByteSpan>& arrived);

// The preamble, and each part's header lines, may take this much.
inline constexpr std::size_t kMaxPartHeaderBytes = 4096;

class ByteRangesDecoder {
 public:
  enum class State { kBody, kDone, kMalformed };
  // Takes a run of a part's data and where it lies in the file; false when it
  // cannot be kept.
  using Sink = std::function<bool(std::int64_t offset, const char* data, std::size_t size)>;

  // A multipart/byteranges body with `boundary`, of parts of a file of
  // `fileSize` bytes.
  ByteRangesDecoder(std::string_view boundary, std::int64_t fileSize);
  // A body that is one part: `length` bytes of the file from `offset`.
  ByteRangesDecoder(std::int64_t offset, std::int64_t length);

  // Decodes the next bytes of the body; false when the sink refused data.
  // Bytes after the final delimiter are ignored.
  bool Decode(const char* bytes, std::size_t size, const Sink& sink);
  State state() const { return state_; }

 private:
  enum class Part { kPreamble, kHeaders, kData, kDataEnd, kDelimiter };
  // Judges the line just read; false when the body is malformed.
  bool TakeLine();
  // Whether the line is the delimiter, or with `close` the final one.
  bool IsDelimiter(bool close) const;

  State state_ = State::kBody;
  Part part_ = Part::kPreamble;
  std::string delimiter_;  // "--" and the boundary
  std::int64_t fileSize_ = 0;
  std::string line_;
  std::size_t headerBytes_ = 0;  // of the preamble or the current part's header
  std::optional<std::int64_t> partOffset_;
  std::int64_t offset_ = 0;  // in the file, of the next data byte
  std::int64_t left_ = 0;    // data bytes of the current part still to come
};

}  // namespace http
