// ReaderReadLine over a ring of any size, with lines cut into any pieces.
// Input: two bytes that give the line buffer's size (0 to 1099), one that
// gives the ring's capacity (1 to 128, or the engine's 10240), then the bytes
// the connection receives. Checks, call by call, against the bytes the call
// took from the connection:
// - a complete line is those bytes without the final LF, and without a CR
//   directly before it; a partial one is exactly size - 1 bytes without LF;
// - a failed call has used up the connection;
// - a size of 1 or less reads nothing and gives an empty partial text.
// NUL bytes in the stream are sent as 0x01: the text's end is its NUL.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "feed_socket_calls.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int lineSize = (data[0] | data[1] << 8) % 1100;
  const std::int32_t capacity = data[2] < 128 ? 1 + data[2] : 10240;
  std::string stream(fuzz::AsText(data + 3, size - 3));
  for (char& c : stream) {
    if (c == '\0') c = '\x01';
  }
  fuzz::FedReader fed(stream, fuzz::HashOf(fuzz::AsText(data, size)), capacity);
  // One byte more than the reader may use, to see that it stays inside.
  std::vector<char> buffer(static_cast<std::size_t>(lineSize) + 1);
  if (lineSize <= 1) {
    buffer.assign(buffer.size(), 'x');
    net::LineStatus status = net::LINE_FAILED;
    FUZZ_CHECK(net::ReaderReadLine(*fed.reader, buffer.data(), lineSize, status, 1000) == 0);
    FUZZ_CHECK(status == net::LINE_PARTIAL && fed.calls.Remaining() == stream.size());
    FUZZ_CHECK(lineSize == 0 || buffer[0] == '\0');
    return 0;
  }

  std::size_t at = 0;  // bytes of the stream accounted for
  for (;;) {
    buffer.assign(buffer.size(), '\0');
    buffer.back() = '\x7f';
    net::LineStatus status = net::LINE_COMPLETE;
    const int result = net::ReaderReadLine(*fed.reader, buffer.data(), lineSize, status, 1000);
    FUZZ_CHECK(buffer.back() == '\x7f');
    const std::size_t now = fed.Consumed();
    FUZZ_CHECK(now >= at);
    const std::string_view taken = std::string_view(stream).substr(at, now - at);
    if (status == net::LINE_FAILED) {
      FUZZ_CHECK(result == -1 && now == stream.size());
      break;
    }
    FUZZ_CHECK(result == 0);
    const std::string_view text(buffer.data(), std::strlen(buffer.data()));
    if (status == net::LINE_COMPLETE) {
      FUZZ_CHECK(!taken.empty() && taken.back() == '\n');
      std::string_view expected = taken.substr(0, taken.size() - 1);
      if (!expected.empty() && expected.back() == '\r') expected.remove_suffix(1);
      FUZZ_CHECK(text == expected);
    } else {
      FUZZ_CHECK(status == net::LINE_PARTIAL && taken.find('\n') == std::string_view::npos);
      FUZZ_CHECK(text.size() == static_cast<std::size_t>(lineSize - 1) && text == taken);
    }
    at = now;
  }
  return 0;
}
