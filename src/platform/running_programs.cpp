#include "platform/running_programs.h"

#include <cstdlib>

namespace platform {

unsigned ProgramWaitMs(unsigned normalMs) {
  const char* text = std::getenv("UPDATER_TEST_PROGRAM_WAIT_MS");
  if (text == nullptr || *text == '\0') return normalMs;
  char* end = nullptr;
  const unsigned long ms = std::strtoul(text, &end, 10);
  return *end == '\0' && ms <= normalMs ? static_cast<unsigned>(ms) : normalMs;
}

}  // namespace platform
