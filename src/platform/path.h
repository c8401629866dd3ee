// The separators of the system's file paths.
#pragma once

#include <string_view>

namespace platform {

// The separator the system writes ("\\" on Windows, "/" on POSIX).
char PathSeparator();
// Every byte that separates path components on this system.
std::string_view PathSeparators();

}  // namespace platform
