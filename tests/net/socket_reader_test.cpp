// The ring-buffered reader over real loopback connections. The peer sends its
// bytes and closes before the reads, so every read has a known outcome.
#include "net/socket_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "net/socket_library.h"

namespace {

using nettest::Connection;
using testsupport::TcpListener;

constexpr std::uint32_t kTimeoutMs = 2000;

class SocketReaderTest : public ::testing::Test {
 protected:
  // Connects, lets the peer send `bytes` (and close, if asked), and makes a
  // reader of `capacity` bytes once the bytes (or else the close) have arrived.
  // A close after bytes may still be on its way: later fills wait for it.
  void Start(const std::string& bytes, std::int32_t capacity, bool thenClose = true) {
    connection = nettest::Connect(listener);
    ASSERT_TRUE(connection.peer.valid());
    if (!bytes.empty()) {
      ASSERT_TRUE(connection.peer.SendAll(bytes));
    }
    if (thenClose) connection.peer.Close();
    if (!bytes.empty()) {
      ASSERT_TRUE(testsupport::WaitReadable(connection.socket.get(), 5000));
    } else if (thenClose) {
      ASSERT_TRUE(testsupport::WaitPeerClosed(connection.socket.get(), 5000));
    }
    reader = net::ReaderCreate(connection.socket.get(), capacity);
    ASSERT_TRUE(reader);
  }
  // Sends more bytes and waits until they are there to be received.
  void Arrive(const std::string& bytes) {
    ASSERT_TRUE(connection.peer.SendAll(bytes));
    ASSERT_TRUE(testsupport::WaitReadable(connection.socket.get(), 5000));
  }
  std::string Read(int wanted) {
    std::vector<char> bytes(static_cast<std::size_t>(wanted) + 1, '#');
    const int n = net::ReaderRead(*reader, bytes.data(), wanted, kTimeoutMs);
    return std::string(bytes.data(), static_cast<std::size_t>(n > 0 ? n : 0));
  }

  TcpListener listener;
  Connection connection;
  std::unique_ptr<net::SocketReader> reader;
};

TEST_F(SocketReaderTest, CreateRefusesAnInvalidSocketAndAnEmptyRing) {
  EXPECT_FALSE(net::ReaderCreate(net::kInvalidSocket, 10240));
  net::UniqueSocket s(net::SocketCreate(2, 1, 0));
  EXPECT_FALSE(net::ReaderCreate(s.get(), 0));
  EXPECT_FALSE(net::ReaderCreate(s.get(), -1));
  const auto created = net::ReaderCreate(s.get(), 16);
  ASSERT_TRUE(created);
  EXPECT_EQ(created->socket, s.get());
  EXPECT_EQ(created->capacity, 16);
  EXPECT_EQ(created->count, 0);
  EXPECT_EQ(created->readPos, 0);
  EXPECT_EQ(created->writePos, 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(created->buffer[static_cast<std::size_t>(i)], 0) << i;
}

TEST_F(SocketReaderTest, ReleaseKeepsTheSocketOpenUnlessAskedToClose) {
  Start("", 64, false);
  if (HasFatalFailure()) return;
  EXPECT_EQ(net::ReaderRelease(std::move(reader), 0), connection.socket.get());
  EXPECT_EQ(net::SocketSendAll(connection.socket.get(), "still", 5, kTimeoutMs), 5);
  EXPECT_EQ(connection.peer.Receive(5), "still");

  // Closing gracefully: the peer sees the end, closes too, and the close completes.
  std::size_t peerGot = 99;
  std::thread peer([this, &peerGot] {
    peerGot = connection.peer.DrainToEnd();
    connection.peer.Close();
  });
  reader = net::ReaderCreate(connection.socket.get(), 64);
  EXPECT_EQ(net::ReaderRelease(std::move(reader), 1), net::kInvalidSocket);
  connection.socket.release();  // closed by the reader
  peer.join();
  EXPECT_EQ(peerGot, 0u);
}

TEST_F(SocketReaderTest, GetByteHandsOutUnsignedBytesThenNoByte) {
  Start(std::string("\xff\x00\x80", 3), 64);
  if (HasFatalFailure()) return;
  EXPECT_EQ(net::ReaderGetByte(*reader, kTimeoutMs), 255);
  EXPECT_EQ(net::ReaderGetByte(*reader, kTimeoutMs), 0);
  EXPECT_EQ(net::ReaderGetByte(*reader, kTimeoutMs), 128);
  EXPECT_EQ(net::ReaderGetByte(*reader, kTimeoutMs), net::READER_NO_BYTE);
}

TEST_F(SocketReaderTest, ReadLineCases) {
  struct Step {
    int size;
    std::string text;  // for LINE_FAILED: the bytes stored, without a NUL
    net::LineStatus status;
  };
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"CR LF", "abc\r\n", {{16, "abc", net::LINE_COMPLETE}}},
      {"bare LF", "abc\n", {{16, "abc", net::LINE_COMPLETE}}},
      {"CR inside a line", "a\rb\n", {{16, "a\rb", net::LINE_COMPLETE}}},
      {"LF first: the empty line",
       "\nx\n",
       {{16, "", net::LINE_COMPLETE}, {16, "x", net::LINE_COMPLETE}}},
      {"two lines",
       "GET\r\nHost\r\n",
       {{16, "GET", net::LINE_COMPLETE}, {16, "Host", net::LINE_COMPLETE}}},
      {"size 1 reads nothing",
       "ab\n",
       {{1, "", net::LINE_PARTIAL}, {16, "ab", net::LINE_COMPLETE}}},
      {"size 0 reads nothing",
       "ab\n",
       {{0, "", net::LINE_PARTIAL}, {16, "ab", net::LINE_COMPLETE}}},
      {"a long line in pieces",
       "abcdefg\r\n",
       {{4, "abc", net::LINE_PARTIAL},
        {4, "def", net::LINE_PARTIAL},
        {4, "g", net::LINE_COMPLETE}}},
      {"a piece that ends with the CR",
       "abc\r\nz\n",
       {{5, "abc\r", net::LINE_PARTIAL},
        {5, "", net::LINE_COMPLETE},
        {5, "z", net::LINE_COMPLETE}}},
      {"a line exactly filling the buffer",
       "abc\n",
       {{4, "abc", net::LINE_PARTIAL}, {4, "", net::LINE_COMPLETE}}},
      {"cut before its LF", "ab", {{16, "ab", net::LINE_FAILED}}},
      {"cut after its CR", "ab\r", {{16, "ab\r", net::LINE_FAILED}}},
      {"nothing at all", "", {{16, "", net::LINE_FAILED}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start(c.bytes, 64);
    if (HasFatalFailure()) return;
    for (const Step& step : c.steps) {
      std::vector<char> buffer(32, '#');
      net::LineStatus status = net::LINE_COMPLETE;
      const int result = net::ReaderReadLine(*reader, buffer.data(), step.size, status, kTimeoutMs);
      EXPECT_EQ(status, step.status);
      EXPECT_EQ(result, step.status == net::LINE_FAILED ? -1 : 0);
      if (step.status == net::LINE_FAILED) {
        EXPECT_EQ(std::string(buffer.data(), step.text.size()), step.text);
      } else if (step.size >= 1) {
        EXPECT_EQ(std::string(buffer.data()), step.text);
      } else {
        EXPECT_EQ(buffer[0], '#');  // no room even for the NUL
      }
    }
  }
}

TEST_F(SocketReaderTest, DataStoredAcrossTheEndOfTheRingComeOutInOrder) {
  struct Case {
    std::int32_t capacity;
    std::string first;   // read out whole, moving the positions on
    std::string second;  // stored from there, around the end
  };
  const Case cases[] = {
      {8, "abcde", "fghijk"},
      {8, "abcdefg", "hijklmno"},  // wraps after one byte, fills the ring
      {8, "a", "bcdefghi"},
      {3, "ab", "cde"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.second);
    Start(c.first, c.capacity, false);
    if (HasFatalFailure()) return;
    EXPECT_EQ(Read(static_cast<int>(c.first.size())), c.first);
    Arrive(c.second);
    if (HasFatalFailure()) return;
    EXPECT_EQ(net::ReaderFill(*reader, kTimeoutMs), static_cast<int>(c.second.size()));
    const auto stored = static_cast<std::int32_t>(c.first.size() + c.second.size());
    EXPECT_EQ(reader->writePos, stored % c.capacity);
    EXPECT_EQ(reader->readPos, static_cast<std::int32_t>(c.first.size()));
    EXPECT_EQ(Read(64), c.second);
    EXPECT_EQ(reader->readPos, reader->writePos);
  }
}

TEST_F(SocketReaderTest, LineAndBytesAcrossTheEndOfTheRing) {
  Start("12345", 8, false);
  if (HasFatalFailure()) return;
  EXPECT_EQ(Read(5), "12345");
  Arrive("ab\r\ncd");
  if (HasFatalFailure()) return;
  char line[16];
  net::LineStatus status;
  ASSERT_EQ(net::ReaderReadLine(*reader, line, sizeof line, status, kTimeoutMs), 0);
  EXPECT_EQ(status, net::LINE_COMPLETE);
  EXPECT_STREQ(line, "ab");
  EXPECT_EQ(net::ReaderGetByte(*reader, kTimeoutMs), 'c');
  EXPECT_EQ(net::ReaderGetByte(*reader, kTimeoutMs), 'd');
}

TEST_F(SocketReaderTest, FillTakesNoMoreThanTheRingHolds) {
  Start("0123456789", 4, false);
  if (HasFatalFailure()) return;
  EXPECT_EQ(net::ReaderFill(*reader, kTimeoutMs), 4);
  EXPECT_EQ(reader->count, 4);
  EXPECT_EQ(net::ReaderFill(*reader, kTimeoutMs), 0);  // a full ring receives nothing
  EXPECT_EQ(Read(100), "0123");
  EXPECT_EQ(Read(100), "4567");
  EXPECT_EQ(Read(100), "89");
}

TEST_F(SocketReaderTest, BufferedReadNeverReceives) {
  Start("0123456789", 64, false);
  if (HasFatalFailure()) return;
  EXPECT_EQ(Read(3), "012");  // one fill took all ten
  Arrive("ABC");
  if (HasFatalFailure()) return;
  EXPECT_EQ(Read(100), "3456789");  // all that is held, and nothing of what waits
  EXPECT_EQ(Read(2), "AB");
  EXPECT_EQ(Read(1), "C");
}

TEST_F(SocketReaderTest, ReadGivesZeroAtTheEndAndOnATimeOut) {
  Start("xy", 64, false);
  if (HasFatalFailure()) return;
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

}  // namespace
