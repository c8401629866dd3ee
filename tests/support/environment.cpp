#include "support/environment.h"

#include <cstdlib>

namespace testsupport {

std::optional<std::string> GetEnvVar(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace testsupport
