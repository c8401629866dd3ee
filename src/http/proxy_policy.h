// The proxy of each request: chosen from the user's settings, which the
// platform layer reads once per run, for the address of the request at hand,
// so that a redirect to another host gets its own choice.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "http/proxy_address.h"
#include "platform/proxy_configuration.h"

namespace http {

class ProxyPolicy {
 public:
  explicit ProxyPolicy(platform::ProxyConfiguration configuration,
                       std::unique_ptr<platform::ProxyScript> script = nullptr);

  // Overrides, as curl's options override its environment: one proxy URL for
  // every request ("" for none) in place of every configured one (false when
  // it is no proxy URL this engine speaks); the hosts reached directly, in
  // no_proxy's form; the credentials for whichever proxy is used.
  bool OverrideProxy(const std::string& text);
  void OverrideNoProxy(const std::string& list);
  void OverrideCredentials(const std::string& user, const std::string& password);

  // The routes to try in order for a request to `url`, whose host and port
  // are given, over TLS when `tls`. A host that no_proxy names goes direct;
  // otherwise the proxy URL of the environment for the scheme (http_proxy or
  // https_proxy, else all_proxy) counts first, then the system's
  // auto-detection or script, then its manual proxy unless the bypass list
  // names the host; nothing of these: direct. Empty when the proxy URL that
  // applies is not understood: the request must fail rather than go around
  // the proxy the user chose.
  std::vector<ProxyRoute> RoutesFor(const std::string& url, const std::string& host,
                                    std::uint16_t port, bool tls);

 private:
  std::vector<ProxyRoute> Choose(const std::string& url, const std::string& host,
                                 std::uint16_t port, bool tls);

  platform::ProxyConfiguration configuration_;
  std::unique_ptr<platform::ProxyScript> script_;
  std::optional<std::string> proxy_;
  std::optional<std::pair<std::string, std::string>> credentials_;
};

// The policy of this run: the system's settings as they are now.
std::shared_ptr<ProxyPolicy> SystemProxyPolicy();

}  // namespace http
