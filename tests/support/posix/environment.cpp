#include "support/environment.h"

#include <stdlib.h>
#include <time.h>

namespace testsupport {
namespace {

void AfterChange(const std::string& name) {
  if (name == "TZ") tzset();
}

}  // namespace

void SetEnvVar(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
  AfterChange(name);
}

void UnsetEnvVar(const std::string& name) {
  unsetenv(name.c_str());
  AfterChange(name);
}

}  // namespace testsupport
