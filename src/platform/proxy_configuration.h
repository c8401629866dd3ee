// The user's proxy settings as the system keeps them, read once per run. The
// decision for each request is the HTTP engine's (http/proxy_policy.h); only
// the look-up of a configuration script, which the system evaluates per
// address, stays here.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace platform {

struct ProxyConfiguration {
  // The environment as curl reads it; nothing where a variable is unset (set
  // but empty is a value). http_proxy is read in lower case only: a CGI
  // program gets HTTP_PROXY from a request header. Each of the others is read
  // in lower case first, then in capitals (https_proxy, all_proxy, no_proxy).
  std::optional<std::string> httpProxy;
  std::optional<std::string> httpsProxy;
  std::optional<std::string> allProxy;
  std::optional<std::string> noProxy;
  // The current user's Internet settings (Windows; empty elsewhere): the
  // manual proxy, "host:port" or a list such as "http=h:p;https=h:p;socks=h:p",
  // its bypass list ("<local>;*.example.test"), and whether the proxy is found
  // by auto-detection or by a configuration script at an address.
  std::string manualProxy;
  std::string bypassList;
  bool autoDetect = false;
  std::string autoConfigUrl;
};

ProxyConfiguration ReadProxyConfiguration();

// Auto-detection and configuration scripts, which the system fetches and
// evaluates (Windows: WinHTTP). One object serves one thread.
class ProxyScript {
 public:
  virtual ~ProxyScript() = default;
  // The proxies for `url` as the system lists them ("host:port;host:port",
  // "DIRECT" for a direct connection); nothing when no script was found or it
  // gave no answer.
  virtual std::optional<std::string> ProxiesFor(const std::string& url) = 0;
};

// Null when `configuration` asks for neither auto-detection nor a script, or
// when this system evaluates none.
std::unique_ptr<ProxyScript> OpenProxyScript(const ProxyConfiguration& configuration);

// The environment variable `name` spelt exactly so (Windows otherwise
// matches names in any case); nothing when it is unset.
std::optional<std::string> ExactEnvironmentVariable(const char* name);

// The Internet settings part of ReadProxyConfiguration.
void ReadUserProxySettings(ProxyConfiguration& configuration);

}  // namespace platform
