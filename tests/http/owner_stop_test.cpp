// A stop asked by whoever owns the thread (a stop flag put in place around the
// engine's operations): unlike the engine's own stopRequested, which every
// QueryInfo and Download clears when it starts, it holds for every operation
// that starts later, which ends as a stop, not as a failure. (A stop while a
// header is awaited is the dialog's close, in update_dialog_test.cpp.)
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "http/http_downloader.h"
#include "net/socket_library.h"
#include "support/scratch_dir.h"
#include "support/scripted_server.h"

namespace {

using testsupport::ScriptedExchange;
using testsupport::ScriptedServer;

TEST(OwnerStop, HoldsForEveryLaterOperationAndKeepsThePartialFile) {
  enum class When { kBeforeQueryInfo, kBetweenTheRequests };
  struct Case {
    const char* name;
    When when;
    int queryInfo;    // its result
    int connections;  // what the server saw
  };
  const Case cases[] = {
      {"before QueryInfo", When::kBeforeQueryInfo, 0, 0},
      {"between QueryInfo and Download", When::kBetweenTheRequests, 1, 1},
  };
  const std::string header = "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::ScratchDir dir;
    const std::string target = dir.Join("update.zip");
    ASSERT_TRUE(testsupport::WriteFileBytes(target + ".down", "partial"));
    std::atomic<int> ownerStop{0};
    ScriptedServer server([&](ScriptedExchange& e) { e.Send(header); });
    http::HttpDownloader d;
    d.receiveTimeout = 600000;
    const net::ScopedStopFlag owner(ownerStop);
    if (c.when == When::kBeforeQueryInfo) ownerStop = 1;
    std::int32_t length = 0;
    http::HttpTime modified = 0;
    EXPECT_EQ(d.QueryInfo(server.Url("/update.zip"), length, modified), c.queryInfo);
    if (c.when == When::kBetweenTheRequests) ownerStop = 1;
    EXPECT_EQ(d.Download(server.Url("/update.zip"), target, 0), http::DOWNLOAD_STOPPED);
    server.Stop();
    EXPECT_EQ(server.ConnectionCount(), c.connections);
    EXPECT_EQ(testsupport::ReadFileBytes(target + ".down"), "partial");
  }
}

}  // namespace
