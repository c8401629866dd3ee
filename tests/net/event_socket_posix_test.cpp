// What the sockets look like to the POSIX system itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <string>

#include "loopback.h"
#include "net/event_socket.h"

namespace {

int Fd(net::SocketHandle s) { return static_cast<int>(static_cast<std::intptr_t>(s)); }
int Flags(net::SocketHandle s, int which) { return ::fcntl(Fd(s), which); }

TEST(PosixSocket, CreatedBlockingAndNotInheritedByStartedPrograms) {
  net::UniqueSocket s(net::SocketCreate(2, 1, 0));
  ASSERT_NE(s.get(), net::kInvalidSocket);
  EXPECT_NE(Flags(s.get(), F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(Flags(s.get(), F_GETFL) & O_NONBLOCK, 0);
}

// Non-blocking from the first wait on. Winsock records the close only once
// the data are read; the emulation over poll(2) records both when both are
// there, and the data must get through.
TEST(PosixSocket, NonBlockingFromTheFirstWaitOnAndDataRecordedWithTheCloseGetThrough) {
  testsupport::TcpListener listener;
  nettest::Connection c = nettest::Connect(listener);  // a timed connect: the first wait
  ASSERT_TRUE(c.peer.valid());
  EXPECT_NE(Flags(c.socket.get(), F_GETFL) & O_NONBLOCK, 0);
  ASSERT_TRUE(c.peer.SendAll("hello"));
  c.peer.Close();
  pollfd peerClosed{Fd(c.socket.get()), POLLRDHUP, 0};
  ASSERT_EQ(::poll(&peerClosed, 1, 5000), 1);
  char buffer[16] = {};
  ASSERT_EQ(net::SocketRecvTimed(c.socket.get(), buffer, sizeof buffer, 2000), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_NE(Flags(c.socket.get(), F_GETFL) & O_NONBLOCK, 0);  // deselecting keeps it so
  EXPECT_EQ(net::SocketRecvTimed(c.socket.get(), buffer, sizeof buffer, 2000), -1);
}

}  // namespace
