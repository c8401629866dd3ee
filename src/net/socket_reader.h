// A ring buffer of received bytes over one socket, read a byte, a line or a
// block at a time, so bytes that arrive with a reply stay for what comes next.
#pragma once

#include <cstdint>
#include <memory>

#include "net/event_socket.h"

namespace net {

enum LineStatus { LINE_COMPLETE = 0, LINE_PARTIAL = 1, LINE_FAILED = -1 };
inline constexpr int READER_NO_BYTE = 256;

struct SocketReader {
  SocketHandle socket = kInvalidSocket;
  std::int32_t capacity = 0;
  std::unique_ptr<unsigned char[]> buffer;
  std::int32_t count = 0;
  std::int32_t readPos = 0;
  std::int32_t writePos = 0;
};

// Null for kInvalidSocket or a capacity below 1.
std::unique_ptr<SocketReader> ReaderCreate(SocketHandle socket, std::int32_t capacity);
// Frees the reader; with `closeSocket` the socket is closed gracefully and the
// result is -1, else the result is the still open socket.
SocketHandle ReaderRelease(std::unique_ptr<SocketReader> reader, int closeSocket);
// One receive into the free space when the ring is empty: the receive's result.
int ReaderFill(SocketReader& reader, std::uint32_t timeoutMs);
int ReaderGetByte(SocketReader& reader, std::uint32_t timeoutMs);
int ReaderReadLine(SocketReader& reader, char* buffer, int size, LineStatus& status,
                   std::uint32_t timeoutMs);
int ReaderRead(SocketReader& reader, void* destination, int wanted, std::uint32_t timeoutMs);

}  // namespace net
