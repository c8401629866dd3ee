// Socket library start-up on the scripted platform,
// and name resolution over a table of names (no query leaves the machine).
#include "net/socket_library.h"

#include <gtest/gtest.h>

#include <atomic>
#include <semaphore>
#include <string>
#include <utility>

#include "net/event_socket.h"
#include "support/scripted_socket_calls.h"
#include "support/table_names.h"

namespace {

TEST(SocketStartup, AsksForVersion2Point2AndReleasesAnyOther) {
  const struct {
    std::int32_t startCode;
    std::uint16_t granted;
    int result;
    std::int32_t error;  // stored by the start-up; 5 when untouched
    std::string log;
  } cases[] = {
      {0, 0x0202, 0, 5, "start 514"},
      {0, 0x0101, -1, net::ErrVersionNotSupported(), "start 514|stop"},
      {0, 0x0203, -1, net::ErrVersionNotSupported(), "start 514|stop"},
      {10091, 0x0202, -1, 10091, "start 514"},  // the library is not there to release
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.granted);
    testsupport::ScriptedSocketCalls calls;
    calls.startResult = c.startCode;
    calls.grantVersion = c.granted;
    net::ScopedSocketCalls scope(calls);
    net::SetSocketLastError(5);
    EXPECT_EQ(net::SocketStartup(), c.result);
    EXPECT_EQ(net::SocketLastError(), c.error);
    EXPECT_EQ(calls.log, c.log);
    EXPECT_EQ(net::SocketCleanup(), 0);
    EXPECT_EQ(calls.log, c.log + "|stop");
  }
}

// A look-up that answers only when the test lets it: the caller must give it
// up at its time-out or at a stop, not wait for it.
class StuckLookUp : public testsupport::TableNames {
 public:
  StuckLookUp() : TableNames({}) {}
  std::uint32_t LookUpHost(const char*) override {
    released.acquire();
    finished.release();
    return testsupport::Ipv4(127, 0, 0, 1);
  }
  std::binary_semaphore released{0}, finished{0};
};

TEST(ResolveHost, ALookUpThatDoesNotAnswerIsAbandonedAtItsTimeOutOrAStop) {
  const std::pair<std::uint32_t, int> cases[] = {{100, 0}, {net::kResolveWithoutLimit, 1}};
  for (const auto& [timeoutMs, stopped] : cases) {
    StuckLookUp calls;
    net::ScopedSocketCalls scope(calls);
    const std::atomic<int> stop{stopped};
    const net::ScopedStopFlag stopScope(stop);
    EXPECT_EQ(net::ResolveHost("localhost", 1, timeoutMs), net::kInaddrNone) << timeoutMs;
    calls.released.release();  // and the look-up's thread ends before `calls` does
    calls.finished.acquire();
  }
}

// The system's own calls, for a name of the hosts file only (on a resolver
// thread and on the calling one), and a socket of a family that does not exist.
TEST(ResolveHost, AsksTheSystemForLocalhost) {
  EXPECT_EQ(net::ResolveHost("localhost", 1), testsupport::Ipv4(127, 0, 0, 1));
  EXPECT_EQ(net::ResolveHost("localhost", 0), testsupport::Ipv4(127, 0, 0, 1));
  EXPECT_EQ(net::ResolveHost(nullptr, 1), net::kInaddrNone);
  net::SetSocketLastError(0);
  EXPECT_EQ(net::SocketCreate(-1, 1, 0), net::kInvalidSocket);
  EXPECT_NE(net::SocketLastError(), 0);
}

}  // namespace
