#include "net/socket_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace net {
namespace {

// Copies `length` bytes out of the ring from `position` on, continuing at its
// start; the position after the last byte.
std::int32_t CopyOut(const SocketReader& reader, std::int32_t position, unsigned char* to,
                     std::int32_t length) {
  const std::int32_t first = std::min(length, reader.capacity - position);
  std::memcpy(to, reader.buffer.get() + position, static_cast<std::size_t>(first));
  std::memcpy(to + first, reader.buffer.get(), static_cast<std::size_t>(length - first));
  return (position + length) % reader.capacity;
}

// Copies `length` bytes into the ring from `position` on, continuing at its
// start; the position after the last byte.
std::int32_t CopyIn(SocketReader& reader, std::int32_t position, const unsigned char* from,
                    std::int32_t length) {
  const std::int32_t first = std::min(length, reader.capacity - position);
  std::memcpy(reader.buffer.get() + position, from, static_cast<std::size_t>(first));
  std::memcpy(reader.buffer.get(), from + first, static_cast<std::size_t>(length - first));
  return (position + length) % reader.capacity;
}

}  // namespace

std::unique_ptr<SocketReader> ReaderCreate(SocketHandle socket, std::int32_t capacity) {
  if (socket == kInvalidSocket || capacity < 1) return nullptr;
  std::unique_ptr<SocketReader> reader(new (std::nothrow) SocketReader);
  if (!reader) return nullptr;
  reader->buffer.reset(new (std::nothrow) unsigned char[static_cast<std::size_t>(capacity)]());
  if (!reader->buffer) return nullptr;
  reader->socket = socket;
  reader->capacity = capacity;
  return reader;
}

SocketHandle ReaderRelease(std::unique_ptr<SocketReader> reader, int closeSocket) {
  if (!reader) return kInvalidSocket;
  const SocketHandle socket = reader->socket;
  reader.reset();
  if (closeSocket == 0) return socket;
  SocketClose(socket, 0);
  return kInvalidSocket;
}

int ReaderFill(SocketReader& reader, std::uint32_t timeoutMs) {
  const std::int32_t space = reader.capacity - reader.count;
  if (space <= 0) return 0;
  // The free space may run across the end of the ring, so one receive goes
  // into a separate block and is copied in two pieces.
  std::unique_ptr<unsigned char[]> block(
      new (std::nothrow) unsigned char[static_cast<std::size_t>(space) + 1]);
  if (!block) return -1;
  char* const into = reinterpret_cast<char*>(block.get());
  const int received = reader.tls != nullptr
                           ? TlsRecvTimed(*reader.tls, into, space, timeoutMs)
                           : SocketRecvTimed(reader.socket, into, space, timeoutMs);
  if (received > 0) {
    reader.writePos = CopyIn(reader, reader.writePos, block.get(), received);
    reader.count += received;
  }
  return received;
}

int ReaderGetByte(SocketReader& reader, std::uint32_t timeoutMs) {
  if (reader.count == 0 && ReaderFill(reader, timeoutMs) <= 0) return READER_NO_BYTE;
  const int byte = reader.buffer[static_cast<std::size_t>(reader.readPos)];
  reader.readPos = (reader.readPos + 1) % reader.capacity;
  --reader.count;
  return byte;
}

int ReaderReadLine(SocketReader& reader, char* buffer, int size, LineStatus& status,
                   std::uint32_t timeoutMs) {
  status = LINE_PARTIAL;
  if (size <= 1) {
    if (size == 1) buffer[0] = '\0';
    return 0;
  }
  int stored = 0;
  int previous = READER_NO_BYTE;
  for (;;) {
    const int byte = ReaderGetByte(reader, timeoutMs);
    if (byte == READER_NO_BYTE) {
      status = LINE_FAILED;
      return -1;
    }
    if (byte == '\n') {
      if (previous == '\r') --stored;
      buffer[stored] = '\0';
      status = LINE_COMPLETE;
      return 0;
    }
    buffer[stored++] = static_cast<char>(byte);
    previous = byte;
    if (stored == size - 1) {
      buffer[stored] = '\0';
      return 0;
    }
  }
}

int ReaderRead(SocketReader& reader, void* destination, int wanted, std::uint32_t timeoutMs) {
  if (wanted < 1) return 0;
  if (reader.count == 0 && ReaderFill(reader, timeoutMs) <= 0) return 0;
  const std::int32_t copied = std::min(reader.count, wanted);
  reader.readPos =
      CopyOut(reader, reader.readPos, static_cast<unsigned char*>(destination), copied);
  reader.count -= copied;
  return copied;
}

}  // namespace net
