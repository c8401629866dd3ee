// What the transport's sockets look like to Windows itself.
#include <gtest/gtest.h>

#include "net/event_socket.h"
#include "net/socket_library.h"
#include "platform/socket_calls.h"
#include "platform/win32/windows_api.h"

namespace {

// The version the library grants is the one asked for (wVersion), not the
// highest it could offer (wHighVersion): only so can start-up refuse 1.1.
TEST(WinsockLibrary, ReportsTheVersionGranted) {
  platform::SocketCalls& calls = platform::SystemSocketCalls();
  for (std::uint16_t asked : {std::uint16_t{0x0202}, std::uint16_t{0x0101}}) {
    std::uint16_t granted = 0;
    ASSERT_EQ(calls.StartLibrary(asked, granted), 0);
    EXPECT_EQ(granted, asked);
    EXPECT_EQ(calls.StopLibrary(), 0);
  }
}

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
