#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "net/event_socket.h"
#include "net/socket_library.h"
#include "stand_in_socket_calls.h"

namespace {

// 127.0.0.1 in network byte order, as its bytes in memory.
std::uint32_t Loopback() {
  const unsigned char bytes[4] = {127, 0, 0, 1};
  std::uint32_t address;
  std::memcpy(&address, bytes, 4);
  return address;
}

TEST(ResolveHost, DottedTextNeedsNoLookUp) {
  nettest::ObservedSystemCalls calls;
  net::ScopedSocketCalls scope(calls);
  EXPECT_EQ(net::ResolveHost("127.0.0.1", 1), Loopback());
  EXPECT_TRUE(calls.LookUpThreads().empty());
}

TEST(ResolveHost, NameIsLookedUpOnAResolverThread) {
  nettest::ObservedSystemCalls calls;
  net::ScopedSocketCalls scope(calls);
  EXPECT_EQ(net::ResolveHost("localhost", 1), Loopback());
  const auto threads = calls.LookUpThreads();
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_NE(threads[0], std::this_thread::get_id());
}

TEST(ResolveHost, NameIsLookedUpOnTheCallingThreadWithoutTheFlag) {
  nettest::ObservedSystemCalls calls;
  net::ScopedSocketCalls scope(calls);
  EXPECT_EQ(net::ResolveHost("localhost", 0), Loopback());
  const auto threads = calls.LookUpThreads();
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_EQ(threads[0], std::this_thread::get_id());
}

TEST(ResolveHost, CallingThreadLooksUpWhereTheSystemOffersNoResolverThread) {
  nettest::ObservedSystemCalls calls;
  calls.offerResolverThread = false;
  net::ScopedSocketCalls scope(calls);
  EXPECT_EQ(net::ResolveHost("localhost", 1), Loopback());
  const auto threads = calls.LookUpThreads();
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_EQ(threads[0], std::this_thread::get_id());
}

TEST(ResolveHost, WhatDoesNotResolveGivesInaddrNone) {
  struct Case {
    const char* host;
    int useResolverThread;
  };
  const Case cases[] = {
      {"255.255.255.255", 1},  // its value is INADDR_NONE itself
      {"255.255.255.255", 0},      {"no-such-host.invalid", 1},
      {"no-such-host.invalid", 0}, {nullptr, 1},
  };
  net::SetSocketLastError(31);
  for (const Case& c : cases) {
    EXPECT_EQ(net::ResolveHost(c.host, c.useResolverThread), net::kInaddrNone)
        << (c.host ? c.host : "(null)") << " " << c.useResolverThread;
  }
  EXPECT_EQ(net::SocketLastError(), 31);  // resolution stores nothing
}

}  // namespace
