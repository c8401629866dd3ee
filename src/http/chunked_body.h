// The chunked transfer coding of a response body, undone as the bytes
// arrive: bytes in, the chunks' data and a verdict out. Chunk extensions
// and trailer fields are read and dropped; a size that is no hex number or
// does not fit, a chunk not followed by its line break, and lines or
// trailers past their bounds make the body malformed. The body is whole only
// once its terminating chunk and the empty line after the trailers came.
#pragma once

#include <cstddef>
#include <cstdint>

namespace http {

// A size line (the size, its extensions) or a trailer line longer than this
// is refused; the trailers together may take kMaxHeaderBytes.
inline constexpr std::size_t kMaxChunkLineBytes = 4096;

class ChunkedDecoder {
 public:
  enum class State { kBody, kDone, kMalformed };

  // Decodes the next `size` received bytes in place: the chunk data among
  // them is moved to the front of `bytes`, and its length returned. Bytes
  // after the end of the body are ignored.
  std::size_t Decode(char* bytes, std::size_t size);
  State state() const { return state_; }

 private:
  enum class Part { kSize, kExtension, kSizeEnd, kData, kDataEnd, kTrailer };
  // One byte of a line; false when the body turned malformed.
  bool TakeLineByte(char c);

  State state_ = State::kBody;
  Part part_ = Part::kSize;
  std::uint64_t chunkLeft_ = 0;  // data bytes of the current chunk still to come
  int sizeDigits_ = 0;
  bool lastChunk_ = false;
  bool sawCr_ = false;
  std::size_t lineBytes_ = 0;     // of the current size or trailer line
  std::size_t trailerBytes_ = 0;  // of all trailer lines
};

}  // namespace http
