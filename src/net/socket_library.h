// Start-up and release of the platform's socket library, and the per-thread
// error number that every transport operation leaves behind when it fails.
#pragma once

#include <cstdint>

#include "platform/socket_calls.h"

namespace net {

// The platform error numbers that callers look at, under names of our own:
// Winsock's 10060, 10035 and 10092 on Windows, errno values on POSIX.
inline std::int32_t ErrTimedOut() { return platform::SocketErrorTimedOut(); }
inline std::int32_t ErrWouldBlock() { return platform::SocketErrorWouldBlock(); }
inline std::int32_t ErrVersionNotSupported() { return platform::SocketErrorVersionNotSupported(); }

// 0; -1 on failure with the code stored.
int SocketStartup();
// The platform's result of releasing the library; nothing stored.
int SocketCleanup();
// The calling thread's last stored error (0 in a new thread).
std::int32_t SocketLastError();
// Stores `code` as the calling thread's error.
void SetSocketLastError(std::int32_t code);

}  // namespace net
