#include "support/environment.h"

#include <stdlib.h>
#include <time.h>

namespace testsupport {

void SetEnvVar(const std::string& name, const std::optional<std::string>& value) {
  value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  if (name == "TZ") tzset();
}

}  // namespace testsupport
