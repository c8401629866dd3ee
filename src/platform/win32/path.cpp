#include "platform/path.h"

#include "platform/win32/wide_text.h"

namespace platform {

char PathSeparator() { return '\\'; }
// Windows accepts both; archive names may hold either.
std::string_view PathSeparators() { return "\\/"; }

bool FitsPathLimit(std::string_view path) { return win32::Widen(path).size() < MAX_PATH; }

}  // namespace platform
