// The socket library is started once for the whole test program, as the
// updater starts it once for its run.
#include <gtest/gtest.h>

#include <memory>

#include "net/socket_library.h"

namespace {

class SocketLibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(net::SocketStartup(), 0); }
  void TearDown() override { net::SocketCleanup(); }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(std::make_unique<SocketLibraryEnvironment>().release());

}  // namespace
