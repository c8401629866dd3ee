// A stand-in for the platform's socket calls that plays one connection: what
// it receives is a fixed byte string, handed out in pieces whose sizes follow
// from a seed (one byte, a few, a packet's worth, everything at once), and
// after the last byte the connection either closes in order or times out.
// Put in place with net::ScopedSocketCalls; nothing of the system is reached.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/socket_calls.h"
#include "support/scripted_socket_calls.h"

namespace fuzz {

class FeedSocketCalls : public testsupport::ScriptedSocketCalls {
 public:
  enum class End { kClosed, kTimedOut };

  FeedSocketCalls() {
    keepLog = false;
    socketError = platform::SocketErrorTimedOut();
  }
  void Reset(std::string_view bytes, std::uint32_t seed, End end) {
    bytes_ = bytes;
    pos_ = 0;
    state_ = seed;
    end_ = end;
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
  platform::WaitOutcome WaitForSocketEvent(platform::SocketEventHandle, std::uint32_t) override {
    if (Remaining() == 0 && end_ == End::kTimedOut) return platform::WaitOutcome::kTimedOut;
    return platform::WaitOutcome::kSignalled;
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
    switch (r % 4) {
      case 0:
        return 1;
      case 1:
        return 1 + (r >> 2) % 16;
      case 2:
        return 1 + (r >> 2) % 512;
      default:
        return bytes_.size();
    }
  }

  std::string_view bytes_;
  std::size_t pos_ = 0;
  std::uint32_t state_ = 0;
  End end_ = End::kClosed;
};

}  // namespace fuzz
