#include "platform/path.h"

namespace platform {

char PathSeparator() { return '\\'; }
std::string_view PathSeparators() { return "\\/"; }

}  // namespace platform
