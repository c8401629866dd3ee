// What the sockets look like to the POSIX system itself.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "net/event_socket.h"

namespace {

int Flags(net::SocketHandle s, int which) {
  return ::fcntl(static_cast<int>(static_cast<std::intptr_t>(s)), which);
}

TEST(PosixSocket, CreatedBlockingAndNotInheritedByStartedPrograms) {
  net::UniqueSocket s(net::SocketCreate(2, 1, 0));
  ASSERT_NE(s.get(), net::kInvalidSocket);
  EXPECT_NE(Flags(s.get(), F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(Flags(s.get(), F_GETFL) & O_NONBLOCK, 0);
}

}  // namespace
