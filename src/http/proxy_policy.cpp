#include "http/proxy_policy.h"

#include <utility>

#include "http/header_text.h"
#include "http/http_downloader.h"
#include "http/proxy_exemptions.h"

namespace http {
namespace {

// curl's port for a proxy URL without one, whatever its scheme.
constexpr std::uint16_t kProxyUrlPort = 1080;

}  // namespace

ProxyPolicy::ProxyPolicy(platform::ProxyConfiguration configuration,
                         std::unique_ptr<platform::ProxyScript> script)
    : configuration_(std::move(configuration)), script_(std::move(script)) {}

bool ProxyPolicy::OverrideProxy(const std::string& text) {
  if (!TrimBlanks(text).empty() && !ParseProxyUrl(text, PROXY_HTTP, kProxyUrlPort)) return false;
  proxy_ = text;
  return true;
}

void ProxyPolicy::OverrideNoProxy(const std::string& list) { configuration_.noProxy = list; }

void ProxyPolicy::OverrideCredentials(const std::string& user, const std::string& password) {
  credentials_.emplace(user, password);
}

std::vector<ProxyRoute> ProxyPolicy::RoutesFor(const std::string& url, const std::string& host,
                                               std::uint16_t port, bool tls) {
  std::vector<ProxyRoute> routes = Choose(url, host, port, tls);
  for (ProxyRoute& route : routes) {
    if (!credentials_ || route.kind == PROXY_NONE) continue;
    route.auth = 1;
    route.user = credentials_->first;
    route.password = credentials_->second;
  }
  return routes;
}

std::vector<ProxyRoute> ProxyPolicy::Choose(const std::string& url, const std::string& host,
                                            std::uint16_t port, bool tls) {
  const std::vector<ProxyRoute> direct(1);
  if (configuration_.noProxy && NoProxyMatches(*configuration_.noProxy, host, port)) return direct;
  std::optional<std::string> text = proxy_;
  if (!text) text = tls ? configuration_.httpsProxy : configuration_.httpProxy;
  if (!text) text = configuration_.allProxy;
  if (text) {
    // Set but empty: no proxy, as curl takes it.
    if (TrimBlanks(*text).empty()) return direct;
    const std::optional<ProxyRoute> route = ParseProxyUrl(*text, PROXY_HTTP, kProxyUrlPort);
    return route ? std::vector<ProxyRoute>{*route} : std::vector<ProxyRoute>{};
  }
  if (script_) {
    if (const std::optional<std::string> listed = script_->ProxiesFor(url)) {
      std::vector<ProxyRoute> routes = ProxyListRoutes(*listed, tls);
      if (!routes.empty()) return routes;
    }
  }
  if (!configuration_.manualProxy.empty() &&
      !BypassListMatches(configuration_.bypassList, host, port, tls)) {
    std::vector<ProxyRoute> routes = ProxyListRoutes(configuration_.manualProxy, tls);
    if (!routes.empty()) return routes;
  }
  return direct;
}

std::shared_ptr<ProxyPolicy> SystemProxyPolicy() {
  platform::ProxyConfiguration configuration = platform::ReadProxyConfiguration();
  std::unique_ptr<platform::ProxyScript> script = platform::OpenProxyScript(configuration);
  return std::make_shared<ProxyPolicy>(std::move(configuration), std::move(script));
}

}  // namespace http
