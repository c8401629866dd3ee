#include <io.h>

#include <cstdio>

#include "platform/files.h"

namespace platform {

bool StandardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

}  // namespace platform
