#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
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

// A look-up that answers only when the test lets it.
class StuckLookUp : public nettest::ObservedSystemCalls {
 public:
  std::uint32_t LookUpHost(const char*) override {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return released_; });
    finished_ = true;
    changed_.notify_all();
    return Loopback();
  }
  // Lets the look-up answer and waits until it has.
  void Release() {
    std::unique_lock<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return finished_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool released_ = false;
  bool finished_ = false;
};

TEST(ResolveHost, ALookUpThatDoesNotAnswerIsAbandonedAtItsTimeOutOrAStop) {
  struct Case {
    std::uint32_t timeoutMs;
    int stop;
  };
  for (const Case c : {Case{100, 0}, Case{net::kResolveWithoutLimit, 1}}) {
    StuckLookUp calls;
    net::ScopedSocketCalls scope(calls);
    const std::atomic<int> stop{c.stop};
    const net::ScopedStopFlag stopScope(stop);
    EXPECT_EQ(net::ResolveHost("localhost", 1, c.timeoutMs), net::kInaddrNone) << c.timeoutMs;
    calls.Release();
  }
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
