// Start-up and release of the platform's socket library, the per-thread error
// number that every transport operation leaves behind when it fails, and the
// platform calls that the transport runs on.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "platform/socket_calls.h"

namespace net {

// The platform error numbers that callers look at, under names of our own:
// Winsock's 10060, 10035 and 10092 on Windows, errno values on POSIX.
inline std::int32_t ErrTimedOut() { return platform::SocketErrorTimedOut(); }
inline std::int32_t ErrWouldBlock() { return platform::SocketErrorWouldBlock(); }
inline std::int32_t ErrVersionNotSupported() { return platform::SocketErrorVersionNotSupported(); }
inline std::int32_t ErrConnectionAborted() { return platform::SocketErrorConnectionAborted(); }

// Asks for version 2.2: 0; -1 on failure with the code stored. A library
// that grants another version is released again and "version not supported"
// is stored.
int SocketStartup();
// The platform's result of releasing the library; nothing stored.
int SocketCleanup();
// The calling thread's last stored error (0 in a new thread). Only failing
// transport operations write it; success never clears it.
std::int32_t SocketLastError();
// Stores `code` as the calling thread's error.
void SetSocketLastError(std::int32_t code);

// The platform calls of the transport: the system's, unless a
// ScopedSocketCalls has put others in place.
platform::SocketCalls& CurrentSocketCalls();

// Replaces the transport's platform calls for its lifetime (tests: a
// scripted platform, or the system's calls with one of them changed). Put it
// in place before the transport is used and while no other thread uses it.
// How often a wait looks at the calling thread's stop flag.
inline constexpr std::uint32_t kStopPollMs = 50;

// While one is in place, every wait of the transport on the calling thread
// (socket events, a name look-up) looks at `flag` at least every kStopPollMs
// and, once it is nonzero, gives up as a time-out would. Another thread sets
// the flag; the waits need not run out their time-outs first. Flags nest: an
// inner one (an operation's own) does not hide an outer one (the run's), so
// whoever owns the thread can stop it whatever the inner flag says.
class ScopedStopFlag {
 public:
  explicit ScopedStopFlag(const std::atomic<int>& flag);
  ~ScopedStopFlag();
  ScopedStopFlag(const ScopedStopFlag&) = delete;
  ScopedStopFlag& operator=(const ScopedStopFlag&) = delete;

 private:
  friend bool StopRequested();
  const std::atomic<int>& flag_;
  const ScopedStopFlag* outer_;
};

// Whether the calling thread has a stop flag in place, and whether any of
// its flags is set.
bool StopFlagInPlace();
bool StopRequested();

// Waits for any of `events` as the platform's WaitForSocketEvents does; while
// a stop flag is in place, in slices of kStopPollMs, and once a stop is asked
// for it gives up as a time-out would, long before the time-out itself.
platform::WaitOutcome WaitForSocketEvents(std::span<const platform::SocketEventHandle> events,
                                          std::uint32_t timeoutMs);

class ScopedSocketCalls {
 public:
  explicit ScopedSocketCalls(platform::SocketCalls& calls);
  ~ScopedSocketCalls();
  ScopedSocketCalls(const ScopedSocketCalls&) = delete;
  ScopedSocketCalls& operator=(const ScopedSocketCalls&) = delete;

 private:
  platform::SocketCalls* previous_;
};

}  // namespace net
