// The ring-buffered reader over real loopback connections. The peer sends its
// bytes before the reads, so every read has a known outcome.
#include "net/socket_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "net/socket_library.h"

namespace {

constexpr std::uint32_t kTimeoutMs = 2000;

class SocketReaderTest : public ::testing::Test {
 protected:
  // Connects, lets the peer send `bytes`, and makes a reader of 64 bytes.
  void Start(const std::string& bytes) {
    connection = nettest::Connect(listener);
    ASSERT_TRUE(connection.peer.valid());
    ASSERT_TRUE(connection.peer.SendAll(bytes));
    reader = net::ReaderCreate(connection.socket.get(), 64);
    ASSERT_TRUE(reader);
  }
  std::string Read(int wanted) {
    std::vector<char> bytes(static_cast<std::size_t>(wanted) + 1, '#');
    const int n = net::ReaderRead(*reader, bytes.data(), wanted, kTimeoutMs);
    return std::string(bytes.data(), static_cast<std::size_t>(n > 0 ? n : 0));
  }

  testsupport::TcpListener listener;
  nettest::Connection connection;
  std::unique_ptr<net::SocketReader> reader;
};

TEST_F(SocketReaderTest, ReleaseKeepsTheSocketOpenUnlessAskedToClose) {
  Start("");
  if (HasFatalFailure()) return;
  EXPECT_EQ(net::ReaderRelease(std::move(reader), 0), connection.socket.get());
  EXPECT_EQ(net::SocketSendAll(connection.socket.get(), "still", 5, kTimeoutMs), 5);
  EXPECT_EQ(connection.peer.Receive(5), "still");

  // Closing gracefully: the peer sees the end, closes too, and the close completes.
  std::string peerGot = "unread";
  std::thread peer([this, &peerGot] {
    peerGot = connection.peer.Receive(1);
    connection.peer.Close();
  });
  reader = net::ReaderCreate(connection.socket.get(), 64);
  EXPECT_EQ(net::ReaderRelease(std::move(reader), 1), net::kInvalidSocket);
  connection.socket.release();  // closed by the reader
  peer.join();
  EXPECT_EQ(peerGot, "");
}

// No reader without a socket and room for a byte.
TEST_F(SocketReaderTest, CreateNeedsASocketAndReadGivesZeroAtTheEndAndOnATimeOut) {
  Start("xy");
  if (HasFatalFailure()) return;
  EXPECT_FALSE(net::ReaderCreate(net::kInvalidSocket, 64));
  EXPECT_FALSE(net::ReaderCreate(connection.socket.get(), 0));
  EXPECT_EQ(Read(0), "");
  EXPECT_EQ(Read(10), "xy");
  net::SetSocketLastError(0);
  char byte;
  EXPECT_EQ(net::ReaderRead(*reader, &byte, 1, 0), 0);
  EXPECT_EQ(net::SocketLastError(), net::ErrTimedOut());
  EXPECT_EQ(net::ReaderGetByte(*reader, 0), net::READER_NO_BYTE);
  connection.peer.Close();
  EXPECT_EQ(Read(10), "");
}

// A peer that resets the connection: the read ends with no bytes, a receive
// gets nothing, and a send after it fails with the system's code stored.
TEST_F(SocketReaderTest, AResetFailsTheReadAndTheNextSend) {
  Start("");
  if (HasFatalFailure()) return;
  connection.peer.Abort();
  EXPECT_EQ(Read(10), "");
  char byte;  // Linux reports the reset; wine reports the end of the connection
  EXPECT_LE(net::SocketRecv(connection.socket.get(), &byte, 1), 0);
  net::SetSocketLastError(0);
  EXPECT_EQ(net::SocketSendAll(connection.socket.get(), "x", 1, kTimeoutMs), 0);
  EXPECT_NE(net::SocketLastError(), 0);
}

}  // namespace
