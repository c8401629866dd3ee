// The ring-buffered reader over real loopback connections: our end is made
// with the transport's own calls, the far end (`peer`) is a plain blocking
// connection of support/loopback_tcp.h. The peer sends its bytes before the
// reads, so every read has a known outcome.
#include "net/socket_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "net/event_socket.h"
#include "net/socket_library.h"
#include "support/loopback_tcp.h"

namespace {

constexpr std::uint32_t kTimeoutMs = 2000;

class SocketReaderTest : public ::testing::Test {
 protected:
  // Connects, lets the peer send `bytes`, and makes a reader of 64 bytes.
  bool Start(const std::string& bytes) {
    socket = net::UniqueSocket(net::SocketCreate(2, 1, 0));
    if (net::SocketConnectHost(socket.get(), "127.0.0.1", listener.port(), 5000, 0) != 0) {
      return false;
    }
    peer = listener.Accept();
    reader = net::ReaderCreate(socket.get(), 64);
    return peer.valid() && peer.SendAll(bytes) && reader;
  }
  std::string Read(int wanted) {
    std::vector<char> bytes(static_cast<std::size_t>(wanted) + 1, '#');
    const int n = net::ReaderRead(*reader, bytes.data(), wanted, kTimeoutMs);
    return std::string(bytes.data(), static_cast<std::size_t>(n > 0 ? n : 0));
  }

  testsupport::TcpListener listener;
  net::UniqueSocket socket;
  testsupport::TcpConnection peer;
  std::unique_ptr<net::SocketReader> reader;
};

TEST_F(SocketReaderTest, ReleaseKeepsTheSocketOpenUnlessAskedToClose) {
  ASSERT_TRUE(Start(""));
  EXPECT_EQ(net::ReaderRelease(std::move(reader), 0), socket.get());
  EXPECT_EQ(net::SocketSendAll(socket.get(), "still", 5, kTimeoutMs), 5);
  EXPECT_EQ(peer.Receive(5), "still");

  // Closing gracefully: the peer sees the end, closes too, and the close completes.
  std::string peerGot = "unread";
  std::thread closer([this, &peerGot] {
    peerGot = peer.Receive(1);
    peer.Close();
  });
  reader = net::ReaderCreate(socket.get(), 64);
  EXPECT_EQ(net::ReaderRelease(std::move(reader), 1), net::kInvalidSocket);
  socket.release();  // closed by the reader
  closer.join();
  EXPECT_EQ(peerGot, "");
}

// No reader without a socket and room for a byte.
TEST_F(SocketReaderTest, CreateNeedsASocketAndReadGivesZeroAtTheEndAndOnATimeOut) {
  ASSERT_TRUE(Start("xy"));
  EXPECT_FALSE(net::ReaderCreate(net::kInvalidSocket, 64));
  EXPECT_FALSE(net::ReaderCreate(socket.get(), 0));
  EXPECT_EQ(Read(0), "");
  EXPECT_EQ(Read(10), "xy");
  net::SetSocketLastError(0);
  char byte;
  EXPECT_EQ(net::ReaderRead(*reader, &byte, 1, 0), 0);
  EXPECT_EQ(net::SocketLastError(), net::ErrTimedOut());
  EXPECT_EQ(net::ReaderGetByte(*reader, 0), net::READER_NO_BYTE);
  peer.Close();
  EXPECT_EQ(Read(10), "");
}

// A peer that resets the connection: the read ends with no bytes, a receive
// gets nothing, and a send after it fails with the system's code stored.
TEST_F(SocketReaderTest, AResetFailsTheReadAndTheNextSend) {
  ASSERT_TRUE(Start(""));
  peer.Abort();
  EXPECT_EQ(Read(10), "");
  char byte;  // Linux reports the reset; wine reports the end of the connection
  EXPECT_LE(net::SocketRecv(socket.get(), &byte, 1), 0);
  net::SetSocketLastError(0);
  EXPECT_EQ(net::SocketSendAll(socket.get(), "x", 1, kTimeoutMs), 0);
  EXPECT_NE(net::SocketLastError(), 0);
}

}  // namespace
