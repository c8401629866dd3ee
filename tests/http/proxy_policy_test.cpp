// The routes of a request from the user's settings (proxy_choices.rows): proxy
// URLs and lists as they are written, the hosts that go direct, and the order
// of the environment, the Windows setting and updater-fetch's overrides.
#include "http/proxy_policy.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "http/http_downloader.h"
#include "support/table_rows.h"

namespace {

class ScriptAnswer : public platform::ProxyScript {
 public:
  explicit ScriptAnswer(std::string answer) : answer_(std::move(answer)) {}
  std::optional<std::string> ProxiesFor(const std::string&) override {
    return answer_ == "-" ? std::nullopt : std::optional<std::string>(answer_);
  }

 private:
  std::string answer_;
};

std::string Describe(const std::vector<http::ProxyRoute>& routes) {
  std::string text;
  for (const http::ProxyRoute& r : routes) {
    text += text.empty() ? "" : " ";
    if (r.kind == http::PROXY_NONE) {
      text += "direct";
      continue;
    }
    text += std::string(http::ProxyScheme(r.kind)) + "://" +
            (r.auth != 0 ? r.user + ":" + r.password + "@" : "") + r.host + ":" +
            std::to_string(r.port);
  }
  return text;
}

TEST(ProxyPolicy, ChoosesTheRoutesOfEachRequestFromTheSettings) {
  for (const testsupport::Row& row : testsupport::TableRows(
#include "proxy_choices.rows"
           )) {
    ASSERT_EQ(row.size(), 4u) << row[0];
    SCOPED_TRACE(row[0] + " | " + row[1]);
    platform::ProxyConfiguration settings;
    std::unique_ptr<platform::ProxyScript> script;
    const std::map<std::string, std::optional<std::string>*> variables = {
        {"http_proxy", &settings.httpProxy},
        {"https_proxy", &settings.httpsProxy},
        {"all_proxy", &settings.allProxy},
        {"no_proxy", &settings.noProxy}};
    const auto assignments = testsupport::Assignments(row[1]);
    for (auto [name, value] : assignments) {
      if (!value.empty() && value[0] == '"') value = testsupport::Bytes(value);
      if (variables.count(name) != 0) *variables.at(name) = value;
      if (name == "manual") settings.manualProxy = value;
      if (name == "bypass") settings.bypassList = value;
      if (name == "script") script = std::make_unique<ScriptAnswer>(value);
    }
    http::ProxyPolicy policy(settings, std::move(script));
    for (const auto& [name, value] : assignments) {
      if (name == "proxy" && !policy.OverrideProxy(value)) ADD_FAILURE() << value;
      if (name == "noproxy") policy.OverrideNoProxy(value);
      if (name == "proxy_user") {
        policy.OverrideCredentials(value.substr(0, value.find(':')),
                                   value.substr(value.find(':') + 1));
      }
    }
    // SCHEME://HOST[:PORT]/, HOST an IPv6 address in brackets.
    const std::size_t start = row[2].find("://") + 3, end = row[2].find('/', start);
    const std::string authority = row[2].substr(start, end - start);
    const std::size_t colon = authority.rfind(':');
    const bool tls = row[2].rfind("https", 0) == 0;
    const bool withPort = colon != std::string::npos && authority.back() != ']';
    const std::string host = withPort ? authority.substr(0, colon) : authority;
    const int port = withPort ? std::stoi(authority.substr(colon + 1)) : tls ? 443 : 80;
    EXPECT_EQ(Describe(policy.RoutesFor(row[2], host, static_cast<std::uint16_t>(port), tls)),
              row[3]);
  }
  EXPECT_FALSE(http::ProxyPolicy(platform::ProxyConfiguration()).OverrideProxy("https://p:1"));
}

}  // namespace
