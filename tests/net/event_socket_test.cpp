// The timed socket operations on real loopback connections.
#include "net/event_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "net/socket_library.h"

namespace {

using Clock = std::chrono::steady_clock;
using nettest::Connection;
using testsupport::TcpListener;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(SocketCreate, FailureGivesInvalidSocketWithTheCodeStored) {
  net::SetSocketLastError(0);
  EXPECT_EQ(net::SocketCreate(-5, 1, 0), net::kInvalidSocket);
  EXPECT_NE(net::SocketLastError(), 0);
}

TEST(SocketRecvTimed, OnlyACloseFailsTheReceive) {
  TcpListener listener;
  Connection c = nettest::Connect(listener);
  ASSERT_TRUE(c.peer.valid());
  c.peer.Close();
  ASSERT_TRUE(testsupport::WaitPeerClosed(c.socket.get(), 5000));
  char buffer[16];
  EXPECT_EQ(net::SocketRecvTimed(c.socket.get(), buffer, sizeof buffer, 2000), -1);
}

TEST(SocketRecvTimed, DataBeforeTheCloseComeOutFirst) {
  TcpListener listener;
  Connection c = nettest::Connect(listener);
  ASSERT_TRUE(c.peer.SendAll("hello"));
  c.peer.Close();
  ASSERT_TRUE(testsupport::WaitReadable(c.socket.get(), 5000));
  char buffer[16] = {};
  ASSERT_EQ(net::SocketRecvTimed(c.socket.get(), buffer, sizeof buffer, 2000), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  // Now only the close is left: a timed receive fails, a plain one sees the end.
  EXPECT_EQ(net::SocketRecvTimed(c.socket.get(), buffer, sizeof buffer, 2000), -1);
  EXPECT_EQ(net::SocketRecv(c.socket.get(), buffer, sizeof buffer), 0);
}

TEST(SocketRecvTimed, DataBeforeTheCloseComesOutInPieces) {
  TcpListener listener;
  Connection c = nettest::Connect(listener);
  ASSERT_TRUE(c.peer.SendAll("abcdef"));
  c.peer.Close();
  ASSERT_TRUE(testsupport::WaitReadable(c.socket.get(), 5000));
  char buffer[4] = {};
  EXPECT_EQ(net::SocketRecvTimed(c.socket.get(), buffer, 4, 2000), 4);
  EXPECT_EQ(net::SocketRecvTimed(c.socket.get(), buffer, 4, 2000), 2);
  EXPECT_EQ(std::string(buffer, 2), "ef");
}

TEST(SocketRecvTimed, TimeOutZeroWithoutDataFailsAtOnceWithTimedOut) {
  TcpListener listener;
  Connection c = nettest::Connect(listener);
  net::SetSocketLastError(0);
  char buffer[16];
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(net::SocketRecvTimed(c.socket.get(), buffer, sizeof buffer, 0), -1);
  EXPECT_LT(MillisecondsSince(start), 1000);  // returns at once, not after a wait
  EXPECT_EQ(net::SocketLastError(), net::ErrTimedOut());
}

TEST(SocketRecvTimed, TimeOutZeroWithDataAlreadyThereReceives) {
  TcpListener listener;
  Connection c = nettest::Connect(listener);
  ASSERT_TRUE(c.peer.SendAll("xyz"));
  ASSERT_TRUE(testsupport::WaitReadable(c.socket.get(), 5000));
  char buffer[16];
  EXPECT_EQ(net::SocketRecvTimed(c.socket.get(), buffer, sizeof buffer, 0), 3);
}

TEST(SocketRecvTimed, WaitsForDataThatArrivesLater) {
  TcpListener listener;
  Connection c = nettest::Connect(listener);
  std::thread sender([&c] { c.peer.SendAll("late"); });
  char buffer[16];
  EXPECT_EQ(net::SocketRecvTimed(c.socket.get(), buffer, sizeof buffer, 5000), 4);
  sender.join();
}

TEST(SocketSendTimed, SendsToAReadingPeer) {
  TcpListener listener;
  Connection c = nettest::Connect(listener);
  EXPECT_EQ(net::SocketSendAll(c.socket.get(), "request", 7, 2000), 7);
  EXPECT_EQ(c.peer.Receive(7), "request");
}

TEST(SocketSendAll, StopsAtTheFirstFailedSendWhenThePeerStopsReading) {
  TcpListener listener;
  Connection c = nettest::Connect(listener);
  c.peer.SetReceiveBuffer(4096);
  testsupport::SetSendBuffer(c.socket.get(), 4096);
  const std::vector<char> data(4 * 1024 * 1024, 'd');
  net::SetSocketLastError(0);
  const Clock::time_point start = Clock::now();
  const int sent =
      net::SocketSendAll(c.socket.get(), data.data(), static_cast<int>(data.size()), 200);
  EXPECT_GE(MillisecondsSince(start), 300);  // a 100 ms pause, then a wait of 200 ms
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, static_cast<int>(data.size()));
  EXPECT_EQ(net::SocketLastError(), net::ErrTimedOut());
  // Exactly the bytes counted as sent reach the peer.
  c.socket.reset();
  EXPECT_EQ(c.peer.DrainToEnd(), static_cast<std::size_t>(sent));
}

TEST(SocketSendTimed, FailsWithTheErrorOfTheSendAfterThePeerReset) {
  TcpListener listener;
  Connection c = nettest::Connect(listener);
  c.peer.Close();
  ASSERT_TRUE(testsupport::WaitPeerClosed(c.socket.get(), 5000));
  // The first send draws a reset from the closed peer; a later one then fails.
  int result = 0;
  for (int i = 0; i < 50 && result >= 0; ++i) {
    result = net::SocketSendTimed(c.socket.get(), "x", 1, 1000);
    if (result >= 0) testsupport::WaitReadable(c.socket.get(), 100);
  }
  EXPECT_EQ(result, -1);
  EXPECT_NE(net::SocketLastError(), 0);
}

TEST(SocketConnectTimed, ClosedPortFailsWithTheAttemptsOwnError) {
  net::UniqueSocket s(net::SocketCreate(2, 1, 0));
  char address[16];
  testsupport::LoopbackAddress(testsupport::ClosedPort(), address);
  net::SetSocketLastError(0);
  EXPECT_EQ(net::SocketConnectTimed(s.get(), address, 16, 2000), -1);
  EXPECT_EQ(net::SocketLastError(), testsupport::ConnectionRefusedCode());
  // The socket can still be closed gracefully, at once.
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(net::SocketClose(s.release(), 0), 0);
  EXPECT_LT(MillisecondsSince(start), 3000);  // well below a 4000 ms drain wait
}

TEST(SocketConnectTimed, ListenerThatNeverAcceptsTimesOut) {
  TcpListener listener(0);
  char address[16];
  testsupport::LoopbackAddress(listener.port(), address);
  // Fill the listener's queue; the first connect that is not answered times out.
  std::vector<net::UniqueSocket> queued;
  int result = 0;
  Clock::time_point start;
  while (result == 0 && queued.size() < 64) {
    queued.emplace_back(net::SocketCreate(2, 1, 0));
    start = Clock::now();
    net::SetSocketLastError(0);
    result = net::SocketConnectTimed(queued.back().get(), address, 16, 300);
  }
  ASSERT_EQ(result, -1);
  EXPECT_GE(MillisecondsSince(start), 290);
  EXPECT_EQ(net::SocketLastError(), net::ErrTimedOut());
  // A graceful close of the socket whose connect timed out returns promptly.
  start = Clock::now();
  EXPECT_EQ(net::SocketClose(queued.back().release(), 0), 0);
  EXPECT_LT(MillisecondsSince(start), 3000);  // well below a 4000 ms drain wait
}

TEST(SocketConnectHost, ConnectsToADottedAddressAndAName) {
  TcpListener listener;
  for (const char* host : {"127.0.0.1", "localhost"}) {
    net::UniqueSocket s(net::SocketCreate(2, 1, 0));
    EXPECT_EQ(net::SocketConnectHost(s.get(), host, listener.port(), 2000, 1), 0) << host;
    EXPECT_TRUE(listener.Accept().valid()) << host;
  }
}

TEST(SocketConnectHost, NameThatDoesNotResolveFails) {
  net::UniqueSocket s(net::SocketCreate(2, 1, 0));
  EXPECT_EQ(net::SocketConnectHost(s.get(), "no-such-host.invalid", 80, 2000, 1), -1);
}

TEST(SocketClose, GracefulCloseDrainsAPeerThatKeepsSending) {
  TcpListener listener;
  Connection c = nettest::Connect(listener);
  const std::string chunk(64 * 1024, 's');
  bool allSent = true;
  std::thread sender([&] {
    for (int i = 0; i < 16 && allSent; ++i) allSent = c.peer.SendAll(chunk);
    c.peer.ShutdownSend();
  });
  // Let the first bytes arrive, so the close meets a peer in mid-send.
  ASSERT_TRUE(testsupport::WaitReadable(c.socket.get(), 5000));
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(net::SocketClose(c.socket.release(), 0), 0);
  sender.join();
  EXPECT_TRUE(allSent);  // every byte was read and discarded, none reset the peer
  EXPECT_LT(MillisecondsSince(start), 4000);
  EXPECT_EQ(c.peer.DrainToEnd(), 0u);  // our side stopped sending first
}

TEST(SocketClose, ImmediateAndGracefulCloseOfAnUnconnectedSocket) {
  EXPECT_EQ(net::SocketClose(net::SocketCreate(2, 1, 0), 1), 0);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(net::SocketClose(net::SocketCreate(2, 1, 0), 0), 0);
  EXPECT_LT(MillisecondsSince(start), 3000);  // well below a 4000 ms drain wait
}

TEST(SocketClose, InvalidSocketGivesMinusOneAndStoresNothing) {
  net::SetSocketLastError(12);
  EXPECT_EQ(net::SocketClose(net::kInvalidSocket, 1), -1);
  EXPECT_EQ(net::SocketClose(net::kInvalidSocket, 0), -1);
  EXPECT_EQ(net::SocketLastError(), 12);
}

}  // namespace
