#include "platform/path.h"

namespace platform {

char PathSeparator() { return '/'; }
std::string_view PathSeparators() { return "/"; }

bool FitsPathLimit(std::string_view path) { return path.size() < 260; }

}  // namespace platform
