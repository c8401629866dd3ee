// The separators of the system's file paths.
#pragma once

#include <string_view>

namespace platform {

// The separator the system writes ("\\" on Windows, "/" on POSIX).
char PathSeparator();
// Every byte that separates path components on this system.
std::string_view PathSeparators();

// Whether the system's file calls take `path`, a text in the active code
// page, whole. Windows counts a path in UTF-16 units, fewer than MAX_PATH
// (260) with its NUL, after converting it: a Chinese path of far more than
// 260 bytes fits. POSIX keeps the same bound in bytes, the size of an archive
// item's name record.
bool FitsPathLimit(std::string_view path);

}  // namespace platform
