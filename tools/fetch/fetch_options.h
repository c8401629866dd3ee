// The command line of updater-fetch: options first, then the URL and the
// file. Every value is checked here, so a bad one ends the run before any
// traffic with a one-line reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fetch {

struct FetchOptions {
  bool help = false;
  bool head = false;
  bool force = false;
  bool quiet = false;
  bool verbose = false;
  // In place of the user's proxy settings, as curl's options go: a proxy URL
  // ("" for none), the hosts reached directly, the proxy's credentials.
  std::optional<std::string> proxy;
  std::optional<std::string> noProxy;
  std::optional<std::pair<std::string, std::string>> proxyCredentials;
  std::optional<std::pair<std::string, std::string>> credentials;
  std::optional<std::string> referer;
  std::optional<std::string> userAgent;
  std::optional<std::int32_t> connectTimeout;
  std::optional<std::int32_t> receiveTimeout;
  std::optional<std::int32_t> sendTimeout;
  std::optional<int> retryMode;  // an http::RetryMode
  std::int32_t maxRetries = 0;
  std::optional<std::int32_t> retryDelay;
  std::optional<std::int32_t> speedLimit;  // bytes per second, as curl's --speed-limit
  std::optional<std::int32_t> speedTime;   // seconds, as curl's --speed-time
  std::optional<std::string> publicKey;    // a minisign public key's base64 line
  std::string caCertificates;              // PEM text of --cacert FILE; empty: the system's
  std::string url;
  std::string file;
};

// False with `error` set when the command line is not usable.
bool ParseFetchOptions(const std::vector<std::string>& arguments, FetchOptions& options,
                       std::string& error);

extern const char kUsage[];

}  // namespace fetch
