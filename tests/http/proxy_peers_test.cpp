// The proxy of each download chosen from the user's settings, as a run reads
// them (peer_proxies.rows), through the real proxies that with-peers.sh
// starts: the environment, the Windows setting and its configuration script,
// and a proxy that asks for NTLM.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "http/http_downloader.h"
#include "http/proxy_policy.h"
#include "recording_downloader.h"
#include "support/environment.h"
#include "support/internet_settings.h"
#include "support/loopback_peers.h"
#include "support/scratch_dir.h"
#include "support/table_rows.h"
#include "tls_peer_support.h"

namespace {

using httptest::PeerTest;
using testsupport::PeerVariable;

// {NAME} as the rows write with-peers.sh's values.
std::string Expand(std::string text) {
  for (std::size_t at; (at = text.find('{')) != std::string::npos;) {
    const std::size_t end = text.find('}', at);
    text.replace(at, end + 1 - at, PeerVariable(text.substr(at + 1, end - at - 1)));
  }
  return text;
}

TEST_F(PeerTest, ProxiesFromTheSettingsCarryTheDownload) {
  UPDATER_REQUIRE_PEERS(peers);
  const std::string served = testsupport::ReadFileBytes(peers.docroot + "/files/small.txt");
  // Whether this system answers a proxy's NTLM (Windows, through SSPI).
  const bool ntlm = platform::StartAuthExchange("NTLM", "proxy.test", "", "") != nullptr;
  for (const testsupport::Row& row : testsupport::TableRows(
#include "peer_proxies.rows"
           )) {
    ASSERT_EQ(row.size(), 5u) << row[0];
    SCOPED_TRACE(row[0]);
    if (row[1].find("{SQUID_NTLM_PORT}") != std::string::npos &&
        PeerVariable("SQUID_NTLM_PORT").empty()) {
      continue;  // squid asks for NTLM only where Samba's ntlm_auth is installed
    }
    std::vector<std::unique_ptr<testsupport::ScopedEnvVar>> variables;
    std::unique_ptr<testsupport::InternetSettings> windows;
    for (const auto& [name, text] : testsupport::Assignments(row[1])) {
      std::istringstream value(Expand(text));
      if (name != "windows") {
        variables.push_back(std::make_unique<testsupport::ScopedEnvVar>(name, value.str()));
        continue;
      }
      std::string f[4];
      ASSERT_TRUE(value >> f[0] >> f[1] >> f[2] >> f[3]);
      for (std::string& word : f) word = word == "-" ? "" : word;
      windows = std::make_unique<testsupport::InternetSettings>(std::stoul(f[0]), f[1], f[2], f[3]);
      ASSERT_TRUE(windows->written() || !testsupport::InternetSettings::Supported());
    }
    if (windows && !windows->written()) continue;  // a Windows setting, elsewhere
    // The proxy's log, and how often it named the request before.
    const std::size_t colon = row[4].find(": ");
    const std::string log = row[4] == "-" ? "" : PeerVariable(row[4].substr(0, colon));
    const std::string line = Expand(row[4].substr(colon + 2));
    const int before = log.empty() ? 0 : testsupport::CountLogLines(log, line, 0);
    testsupport::ScratchDir dir;
    httptest::RecordingDownloader d;
    d.caCertificates = testsupport::ReadFileBytes(peers.tlsCaFile);
    d.proxyPolicy = http::SystemProxyPolicy();
    const bool downloaded =
        d.Download(Expand(row[2]), dir.Join("small.txt"), 0) == http::DOWNLOAD_OK;
    EXPECT_EQ(downloaded, row[3] == "yes" || (row[3] == "windows" && ntlm));
    EXPECT_EQ(testsupport::ReadFileBytes(dir.Join("small.txt")) == served, downloaded);
    if (!log.empty() && downloaded) {
      EXPECT_EQ(testsupport::CountLogLines(log, line, before + 1), before + 1) << log;
    }
  }
}

}  // namespace
