#include "platform/running_programs.h"

#include <cstdlib>

namespace platform {

unsigned ProgramWaitMs(unsigned normalMs) {
  const char* text = std::getenv("UPDATER_TEST_PROGRAM_WAIT_MS");
  return text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : normalMs;
}

}  // namespace platform
