#include "platform/proxy_configuration.h"

#include <cstdlib>

namespace platform {

std::optional<std::string> ExactEnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

// The environment is all there is.
void ReadUserProxySettings(ProxyConfiguration&) {}

std::unique_ptr<ProxyScript> OpenProxyScript(const ProxyConfiguration&) { return nullptr; }

}  // namespace platform
