// Name resolution over a table of names (no query leaves the machine), and
// by the system for a name of the hosts file.
#include "net/socket_library.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <utility>

#include "net/event_socket.h"
#include "support/table_names.h"

namespace {

// A look-up that answers only when the test lets it: the caller must give it
// up at its time-out or at a stop, not wait for it.
struct StuckLookUp : testsupport::TableNames {
  StuckLookUp() : TableNames({}) {}
  std::vector<platform::IpAddress> LookUpAddresses(const char*) override {
    released.get_future().wait();
    finished.set_value();
    return {testsupport::Ipv4Address(127, 0, 0, 1)};
  }
  std::promise<void> released, finished;
};

TEST(ResolveHost, ALookUpThatDoesNotAnswerIsAbandonedAtItsTimeOutOrAStop) {
  const std::pair<std::uint32_t, int> cases[] = {{100, 0}, {net::kResolveWithoutLimit, 1}};
  for (const auto& [timeoutMs, stopped] : cases) {
    StuckLookUp calls;
    net::ScopedSocketCalls scope(calls);
    const std::atomic<int> stop{stopped};
    const net::ScopedStopFlag stopScope(stop);
    EXPECT_EQ(net::ResolveHost("localhost", 1, timeoutMs), net::kInaddrNone) << timeoutMs;
    calls.released.set_value();  // and the look-up's thread ends before `calls` does
    calls.finished.get_future().wait();
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
