// What the transport's sockets look like to Windows itself.
#include <gtest/gtest.h>

#include "net/event_socket.h"
#include "net/socket_library.h"
#include "platform/win32/windows_api.h"

namespace {

TEST(WinsockSocket, IsNotInheritedByStartedPrograms) {
  ASSERT_EQ(net::SocketStartup(), 0);
  {
    net::UniqueSocket s(net::SocketCreate(2, 1, 0));
    ASSERT_NE(s.get(), net::kInvalidSocket);
    DWORD flags = HANDLE_FLAG_INHERIT;
    ASSERT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(s.get()), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
  }
  net::SocketCleanup();
}

}  // namespace
