// The event of one timed operation on one socket, inside src/net: created
// with the operation, deselected (where selected) and closed on every way out.
// It stores no error itself.
#pragma once

#include <cstdint>

#include "net/socket_library.h"
#include "platform/socket_calls.h"

namespace net {

class OperationEvent {
 public:
  OperationEvent(platform::SocketCalls& calls, platform::SocketHandle s)
      : calls_(calls), socket_(s), event_(calls.CreateSocketEvent()) {}
  ~OperationEvent() {
    Deselect();
    if (event_ != platform::kNoSocketEvent) calls_.CloseSocketEvent(event_);
  }
  OperationEvent(const OperationEvent&) = delete;
  OperationEvent& operator=(const OperationEvent&) = delete;

  bool created() const { return event_ != platform::kNoSocketEvent; }

  bool Select(std::uint32_t mask) {
    selected_ = calls_.SelectSocketEvents(socket_, event_, mask) == 0;
    return selected_;
  }

  void Deselect() {
    if (selected_) calls_.SelectSocketEvents(socket_, event_, 0);
    selected_ = false;
  }

  const platform::SocketEventHandle& handle() const { return event_; }

  platform::WaitOutcome Wait(std::uint32_t timeoutMs) {
    return WaitForSocketEvents({&event_, 1}, timeoutMs);
  }

  // Fetches (and resets) what was recorded: 0, or the code to store.
  std::int32_t Enumerate(platform::NetworkEvents& events) {
    return calls_.EnumerateSocketEvents(socket_, event_, events) == 0 ? 0
                                                                      : calls_.LastSocketError();
  }

  // Waits and fetches what was recorded: 0, or the code to store.
  std::int32_t Await(std::uint32_t timeoutMs, platform::NetworkEvents& events) {
    switch (Wait(timeoutMs)) {
      case platform::WaitOutcome::kSignalled:
        break;
      case platform::WaitOutcome::kTimedOut:
        return ErrTimedOut();
      case platform::WaitOutcome::kFailed:
        return calls_.LastSocketError();
    }
    return Enumerate(events);
  }

 private:
  platform::SocketCalls& calls_;
  platform::SocketHandle socket_;
  platform::SocketEventHandle event_;
  bool selected_ = false;
};

}  // namespace net
