#include "support/environment.h"

#include <stdlib.h>

#include "platform/win32/windows_api.h"

namespace testsupport {

// Both copies of the environment change: the C runtime's (getenv) and the
// system's (GetEnvironmentVariableA, and what started programs inherit).
void SetEnvVar(const std::string& name, const std::optional<std::string>& value) {
  _putenv((name + "=" + value.value_or("")).c_str());
  SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
}

}  // namespace testsupport
