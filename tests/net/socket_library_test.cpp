#include "net/socket_library.h"

#include <gtest/gtest.h>

#include <thread>

#include "stand_in_socket_calls.h"

namespace {

TEST(SocketStartup, StartsAndReleasesTheSystemLibrary) {
  EXPECT_EQ(net::SocketStartup(), 0);
  EXPECT_EQ(net::SocketCleanup(), 0);
}

TEST(SocketStartup, LibraryGrantingOnly1Point1IsReleasedAgain) {
  nettest::ObservedSystemCalls calls;
  calls.grantVersion = 0x0101;
  net::ScopedSocketCalls scope(calls);
  net::SetSocketLastError(0);
  EXPECT_EQ(net::SocketStartup(), -1);
  EXPECT_EQ(net::SocketLastError(), net::ErrVersionNotSupported());
  EXPECT_EQ(calls.stops, 1);
}

TEST(SocketStartup, AsksForVersion2Point2) {
  nettest::ScriptedSocketCalls calls;
  net::ScopedSocketCalls scope(calls);
  EXPECT_EQ(net::SocketStartup(), 0);
  EXPECT_EQ(calls.log, std::vector<std::string>{"start 514"});
}

TEST(SocketLastError, IsZeroOnAFreshThreadAndKeptPerThread) {
  net::SetSocketLastError(99);
  std::int32_t seen = -1;
  std::thread fresh([&seen] {
    seen = net::SocketLastError();
    net::SetSocketLastError(5);
  });
  fresh.join();
  EXPECT_EQ(seen, 0);
  EXPECT_EQ(net::SocketLastError(), 99);
}

TEST(SocketErrorNumbers, AreTheSystemsOwnAndDistinct) {
  EXPECT_NE(net::ErrTimedOut(), 0);
  EXPECT_NE(net::ErrWouldBlock(), 0);
  EXPECT_NE(net::ErrVersionNotSupported(), 0);
  EXPECT_NE(net::ErrTimedOut(), net::ErrWouldBlock());
  EXPECT_NE(net::ErrTimedOut(), net::ErrVersionNotSupported());
  EXPECT_NE(net::ErrWouldBlock(), net::ErrVersionNotSupported());
}

}  // namespace
