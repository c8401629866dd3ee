// Environment variables of the test process, as the C runtime's getenv and the
// programs that the process starts see them.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace testsupport {

// Sets `name` to `value` (a non-empty text), or removes it when no value is
// given. A change of TZ takes effect at once for the C runtime's local-time
// calls on POSIX (tzset); on Windows the time zone of the system is not the
// process's to change.
void SetEnvVar(const std::string& name, const std::optional<std::string>& value);
// The variable's value; nothing when it is not set.
inline std::optional<std::string> GetEnvVar(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

// Sets a variable, or removes it when no value is given, while it lives; the
// previous value, or the variable's absence, returns afterwards.
class ScopedEnvVar {
 public:
  ScopedEnvVar(std::string name, const std::optional<std::string>& value)
      : name_(std::move(name)), previous_(GetEnvVar(name_)) {
    SetEnvVar(name_, value);
  }
  ~ScopedEnvVar() { SetEnvVar(name_, previous_); }
  ScopedEnvVar(const ScopedEnvVar&) = delete;
  ScopedEnvVar& operator=(const ScopedEnvVar&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

}  // namespace testsupport
