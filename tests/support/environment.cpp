#include "support/environment.h"

#include <cstdlib>
#include <utility>

namespace testsupport {

std::optional<std::string> GetEnvVar(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

ScopedEnvVar::ScopedEnvVar(std::string name, std::optional<std::string> value)
    : name_(std::move(name)), previous_(GetEnvVar(name_)) {
  if (value) {
    SetEnvVar(name_, *value);
  } else {
    UnsetEnvVar(name_);
  }
}

ScopedEnvVar::~ScopedEnvVar() {
  if (previous_) {
    SetEnvVar(name_, *previous_);
  } else {
    UnsetEnvVar(name_);
  }
}

}  // namespace testsupport
