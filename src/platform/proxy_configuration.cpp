#include "platform/proxy_configuration.h"

namespace platform {
namespace {

std::optional<std::string> LowerThenUpper(const char* lower, const char* upper) {
  std::optional<std::string> value = ExactEnvironmentVariable(lower);
  return value ? value : ExactEnvironmentVariable(upper);
}

}  // namespace

ProxyConfiguration ReadProxyConfiguration() {
  ProxyConfiguration configuration;
  configuration.httpProxy = ExactEnvironmentVariable("http_proxy");
  configuration.httpsProxy = LowerThenUpper("https_proxy", "HTTPS_PROXY");
  configuration.allProxy = LowerThenUpper("all_proxy", "ALL_PROXY");
  configuration.noProxy = LowerThenUpper("no_proxy", "NO_PROXY");
  ReadUserProxySettings(configuration);
  return configuration;
}

}  // namespace platform
