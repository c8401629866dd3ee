#include "platform/path.h"

namespace platform {

char PathSeparator() { return '\\'; }
// Windows accepts both; archive names may hold either.
std::string_view PathSeparators() { return "\\/"; }

}  // namespace platform
