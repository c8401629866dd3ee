#include <unistd.h>

#include "platform/files.h"

namespace platform {

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace platform
