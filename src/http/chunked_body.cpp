#include "http/chunked_body.h"

#include <algorithm>
#include <cstring>

#include "http/response_header.h"

namespace http {
namespace {

// Fifteen hex digits already exceed any file; more could overflow the count.
constexpr int kMaxSizeDigits = 15;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ChunkedDecoder::TakeLineByte(char c) {
  switch (part_) {
    case Part::kSize:
      if (const int digit = HexValue(c); digit >= 0) {
        if (++sizeDigits_ > kMaxSizeDigits) return false;
        chunkLeft_ = chunkLeft_ * 16 + static_cast<std::uint64_t>(digit);
        return true;
      }
      if (sizeDigits_ == 0) return false;
      if (c == ';' || c == ' ' || c == '\t') {
        part_ = Part::kExtension;
        return true;
      }
      if (c != '\r' && c != '\n') return false;
      [[fallthrough]];
    case Part::kExtension:
      if (c == '\r') {
        part_ = Part::kSizeEnd;
        return true;
      }
      if (c != '\n') return ++lineBytes_ <= kMaxChunkLineBytes;
      [[fallthrough]];
    case Part::kSizeEnd:
      if (c != '\n') return false;
      lastChunk_ = chunkLeft_ == 0;
      part_ = lastChunk_ ? Part::kTrailer : Part::kData;
      lineBytes_ = 0;
      return true;
    case Part::kDataEnd:
      if (c == '\r' && !sawCr_) {
        sawCr_ = true;
        return true;
      }
      if (c != '\n') return false;
      part_ = Part::kSize;
      sizeDigits_ = 0;
      sawCr_ = false;
      return true;
    case Part::kTrailer:
      if (c == '\n') {
        if (lineBytes_ == 0) state_ = State::kDone;
        lineBytes_ = 0;
        return true;
      }
      if (c == '\r') return true;
      ++lineBytes_;
      return lineBytes_ <= kMaxChunkLineBytes && ++trailerBytes_ <= kMaxHeaderBytes;
    case Part::kData:
      break;
  }
  return false;
}

std::size_t ChunkedDecoder::Decode(char* bytes, std::size_t size) {
  std::size_t out = 0;
  for (std::size_t in = 0; in < size && state_ == State::kBody;) {
    if (part_ == Part::kData) {
      const std::size_t take = static_cast<std::size_t>(
          std::min<std::uint64_t>(chunkLeft_, static_cast<std::uint64_t>(size - in)));
      std::memmove(bytes + out, bytes + in, take);
      out += take;
      in += take;
      chunkLeft_ -= take;
      if (chunkLeft_ == 0) part_ = Part::kDataEnd;
      continue;
    }
    if (!TakeLineByte(bytes[in++])) state_ = State::kMalformed;
  }
  return out;
}

}  // namespace http
