#include "fetch_options.h"

#include <fstream>
#include <limits>
#include <sstream>

#include "http/http_downloader.h"
#include "http/proxy_policy.h"
#include "signing/signature_text.h"

namespace fetch {
namespace {

bool ParseMilliseconds(const std::string& name, const std::string& text, std::int32_t& value,
                       std::string& error, const char* unit = "milliseconds") {
  std::int64_t n = 0;
  if (text.empty() || text.size() > 10) {
    error = name + " needs a number of " + unit + ", not '" + text + "'";
    return false;
  }
  for (char c : text) {
    if (c < '0' || c > '9') {
      error = name + " needs a number of " + unit + ", not '" + text + "'";
      return false;
    }
    n = n * 10 + (c - '0');
  }
  if (n > std::numeric_limits<std::int32_t>::max()) {
    error = name + " is too large: " + text;
    return false;
  }
  value = static_cast<std::int32_t>(n);
  return true;
}

bool SplitCredentials(const std::string& text, std::string& user, std::string& password) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  user = text.substr(0, colon);
  password = text.substr(colon + 1);
  return true;
}

// The PEM text of FILE, which must hold at least one certificate.
bool ReadCaCertificates(const std::string& path, std::string& pem, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  pem = text.str();
  if (!file || pem.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    error = "--cacert needs a file of PEM certificates, not '" + path + "'";
    return false;
  }
  return true;
}

}  // namespace

const char kUsage[] =
    "usage: updater-fetch [options] URL FILE\n"
    "       updater-fetch --head [options] URL\n"
    "Downloads URL into FILE, resuming FILE.down and skipping a FILE that is current.\n"
    "  --head                    ask for the length and Last-Modified time only\n"
    "  --force                   download whole, without resume or up-to-date test\n"
    "  --proxy [KIND://][USER:PASS@]HOST[:PORT]   KIND: http (the default), socks4,\n"
    "                            socks4a, socks5, socks5h; \"\" for none. Without it the\n"
    "                            user's settings apply: http_proxy, https_proxy,\n"
    "                            all_proxy, no_proxy (and Windows' Internet settings)\n"
    "  --noproxy LIST            hosts reached directly, as no_proxy lists them\n"
    "  --proxy-user USER:PASS    credentials for the proxy\n"
    "  --user USER:PASS          Basic credentials, sent only to the URL's host and port\n"
    "  --referer URL             Referer header\n"
    "  --user-agent TEXT         User-Agent header\n"
    "  --connect-timeout MS, --receive-timeout MS, --send-timeout MS\n"
    "  --retry none|N|forever    what a transient failure does (default none):\n"
    "                            N allows N retries after the first attempt\n"
    "  --retry-delay MS          pause before each retry (without it: 1 s, doubling\n"
    "                            up to 30 s, with jitter); a server's Retry-After\n"
    "                            (up to 60 s) is honoured either way\n"
    "  --speed-limit BYTES, --speed-time SECONDS   as curl's: a transfer slower\n"
    "                            than BYTES/s for SECONDS is broken and retried\n"
    "                            (default: fewer than 1024 bytes in 60 s)\n"
    "  --quiet                   no progress\n"
    "  --verbose                 name the proxy (or \"direct\") of each connection\n"
    "  --public-key KEY          fetch URL.minisig too and keep FILE only when it verifies\n"
    "                            under KEY (the base64 line of a minisign public key)\n"
    "  --cacert FILE             trust the CA certificates in FILE (PEM) for https,\n"
    "                            instead of the system's\n"
    "--head prints Last-Modified only when the server sent a valid one.\n"
    "Ctrl-C stops and keeps FILE.down for a resume; a second Ctrl-C exits at once.\n"
    "Exit status: 0 downloaded, 1 up to date, 2 stopped, 3 failed or not verified,\n"
    "64 bad usage.\n";

bool ParseFetchOptions(const std::vector<std::string>& arguments, FetchOptions& options,
                       std::string& error) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string arg = arguments[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      positional.insert(positional.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                        arguments.end());
      break;
    }
    std::optional<std::string> inlineValue;
    if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    const auto value = [&](std::string& out) {
      if (inlineValue) {
        out = *inlineValue;
        return true;
      }
      if (i + 1 >= arguments.size()) {
        error = arg + " needs a value";
        return false;
      }
      out = arguments[++i];
      return true;
    };
    const auto flag = [&](bool& out) {
      if (inlineValue) {
        error = arg + " takes no value";
        return false;
      }
      out = true;
      return true;
    };
    std::string v;
    std::int32_t ms = 0;
    if (arg == "--help") {
      if (!flag(options.help)) return false;
    } else if (arg == "--head") {
      if (!flag(options.head)) return false;
    } else if (arg == "--force") {
      if (!flag(options.force)) return false;
    } else if (arg == "--quiet") {
      if (!flag(options.quiet)) return false;
    } else if (arg == "--verbose") {
      if (!flag(options.verbose)) return false;
    } else if (arg == "--proxy") {
      if (!value(v)) return false;
      if (!http::ProxyPolicy(platform::ProxyConfiguration()).OverrideProxy(v)) {
        error =
            "--proxy needs [KIND://][USER:PASS@]HOST[:PORT] with KIND http, socks4, socks4a, "
            "socks5 or socks5h, not '" +
            v + "'";
        return false;
      }
      options.proxy = v;
    } else if (arg == "--noproxy") {
      if (!value(v)) return false;
      options.noProxy = v;
    } else if (arg == "--user" || arg == "--proxy-user") {
      std::pair<std::string, std::string> credentials;
      if (!value(v)) return false;
      if (!SplitCredentials(v, credentials.first, credentials.second)) {
        error = arg + " needs USER:PASS";
        return false;
      }
      (arg == "--user" ? options.credentials : options.proxyCredentials) = credentials;
    } else if (arg == "--public-key") {
      signing::PublicKey key;
      if (!value(v)) return false;
      if (!signing::ParsePublicKey(v, key)) {
        error = "--public-key needs the base64 line of a minisign public key";
        return false;
      }
      options.publicKey = v;
    } else if (arg == "--cacert") {
      std::string pem;
      if (!value(v) || !ReadCaCertificates(v, pem, error)) return false;
      options.caCertificates = pem;
    } else if (arg == "--referer") {
      if (!value(v)) return false;
      options.referer = v;
    } else if (arg == "--user-agent") {
      if (!value(v)) return false;
      options.userAgent = v;
    } else if (arg == "--connect-timeout" || arg == "--receive-timeout" ||
               arg == "--send-timeout" || arg == "--retry-delay") {
      if (!value(v) || !ParseMilliseconds(arg, v, ms, error)) return false;
      if (arg == "--connect-timeout") options.connectTimeout = ms;
      if (arg == "--receive-timeout") options.receiveTimeout = ms;
      if (arg == "--send-timeout") options.sendTimeout = ms;
      if (arg == "--retry-delay") options.retryDelay = ms;
    } else if (arg == "--speed-limit" || arg == "--speed-time") {
      const bool limit = arg == "--speed-limit";
      if (!value(v) || !ParseMilliseconds(arg, v, ms, error, limit ? "bytes" : "seconds")) {
        return false;
      }
      (limit ? options.speedLimit : options.speedTime) = ms;
    } else if (arg == "--retry") {
      if (!value(v)) return false;
      if (v == "none") {
        options.retryMode = http::RETRY_NONE;
      } else if (v == "forever") {
        options.retryMode = http::RETRY_FOREVER;
      } else if (ParseMilliseconds(arg, v, ms, error)) {
        // N retries after the first attempt; the engine's limit allows one
        // retry more than maxRetries.
        options.retryMode = ms == 0 ? http::RETRY_NONE : http::RETRY_LIMITED;
        options.maxRetries = ms == 0 ? 0 : ms - 1;
      } else {
        error = "--retry needs none, a count or forever, not '" + v + "'";
        return false;
      }
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  if (options.help) return true;
  const std::size_t wanted = options.head ? 1 : 2;
  if (positional.size() != wanted) {
    error = options.head ? "--head needs exactly one URL" : "needs a URL and a FILE";
    return false;
  }
  options.url = positional[0];
  if (!options.head) options.file = positional[1];
  return true;
}

}  // namespace fetch
