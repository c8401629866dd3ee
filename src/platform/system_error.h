// The system's error codes as the log shows them: the code a failing call
// left behind, and the system's own words for it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The calling thread's last error (errno; GetLastError()).
std::uint32_t LastSystemError();

// "CODE (TEXT)" in the system's words ("13 (Permission denied)"); the code
// alone when the system has no words for it.
std::string SystemErrorText(std::uint32_t code);

}  // namespace platform
