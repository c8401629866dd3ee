// One connection that receives a fixed byte string, handed out in pieces
// whose sizes follow from a seed (one byte, a few, a packet's worth,
// everything at once); after the last byte it either closes in order or times
// out, as the seed says. A stand-in for the platform's socket calls plays it;
// nothing of the system is reached.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "net/socket_library.h"
#include "net/socket_reader.h"
#include "platform/socket_calls.h"
#include "support/scripted_socket_calls.h"

namespace fuzz {

class FeedSocketCalls : public testsupport::ScriptedSocketCalls {
 public:
  FeedSocketCalls(std::string_view bytes, std::uint32_t seed)
      : bytes_(bytes), state_(seed), timesOut_((seed & 0x10000) != 0) {
    keepLog = false;
    socketError = platform::SocketErrorTimedOut();
  }
  // Bytes not yet received from the stand-in.
  std::size_t Remaining() const { return bytes_.size() - pos_; }

  int Receive(platform::SocketHandle, char* buffer, int length) override {
    if (length <= 0 || Remaining() == 0) return 0;
    const std::size_t n = std::min({static_cast<std::size_t>(length), NextPiece(), Remaining()});
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return static_cast<int>(n);
  }
  int Send(platform::SocketHandle, const char*, int length) override { return length; }
  platform::WaitOutcome WaitForSocketEvents(std::span<const platform::SocketEventHandle>,
                                            std::uint32_t) override {
    return Remaining() == 0 && timesOut_ ? platform::WaitOutcome::kTimedOut
                                         : platform::WaitOutcome::kSignalled;
  }
  int EnumerateSocketEvents(platform::SocketHandle, platform::SocketEventHandle,
                            platform::NetworkEvents& events) override {
    events = platform::NetworkEvents{};
    // Data first; at the end the close comes with a readable socket, so the
    // receive that follows reports it as 0.
    events.recorded =
        Remaining() > 0 ? platform::kNetRead : platform::kNetRead | platform::kNetClose;
    return 0;
  }

 private:
  // The size of the next piece: 1 byte, up to 16, up to 512, or the rest.
  std::size_t NextPiece() {
    state_ = state_ * 1664525u + 1013904223u;
    const std::uint32_t r = state_ >> 8;
    const std::size_t sizes[] = {1, 1 + (r >> 2) % 16, 1 + (r >> 2) % 512, bytes_.size()};
    return sizes[r % 4];
  }

  std::string_view bytes_;
  std::size_t pos_ = 0;
  std::uint32_t state_;
  bool timesOut_;
};

// The stand-in put in place, and a reader with a ring of `capacity` over it.
struct FedReader {
  FedReader(std::string_view bytes, std::uint32_t seed, std::int32_t capacity)
      : calls(bytes, seed), reader(net::ReaderCreate(FeedSocketCalls::kSocket, capacity)) {
    FUZZ_CHECK(reader);
  }
  // Bytes taken from the connection that the ring no longer holds.
  std::size_t Consumed() const {
    return size - calls.Remaining() - static_cast<std::size_t>(reader->count);
  }
  // Everything the reader still yields, up to the connection's end.
  std::string ReadRest() {
    std::string rest;
    char chunk[4096];
    for (int n; (n = net::ReaderRead(*reader, chunk, sizeof chunk, 1000)) > 0;) {
      rest.append(chunk, static_cast<std::size_t>(n));
    }
    return rest;
  }

  FeedSocketCalls calls;
  const std::size_t size = calls.Remaining();
  const net::ScopedSocketCalls scoped{calls};
  std::unique_ptr<net::SocketReader> reader;
};

}  // namespace fuzz
