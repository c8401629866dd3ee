// A ring buffer of received bytes over one socket, read a byte, a line or a
// block at a time, so bytes that arrive with a reply stay for what comes next.
// Every receive it makes is one SocketRecvTimed with the caller's time-out,
// or one TlsRecvTimed once the connection carries TLS.
#pragma once

#include <cstdint>
#include <memory>

#include "net/event_socket.h"
#include "net/tls_channel.h"

namespace net {

enum LineStatus { LINE_COMPLETE = 0, LINE_PARTIAL = 1, LINE_FAILED = -1 };
inline constexpr int READER_NO_BYTE = 256;

// Invariant: writePos == (readPos + count) % capacity, 0 <= count <= capacity.
struct SocketReader {
  SocketHandle socket = kInvalidSocket;
  std::int32_t capacity = 0;
  std::unique_ptr<unsigned char[]> buffer;  // `capacity` bytes
  std::int32_t count = 0;                   // received, not yet handed out
  std::int32_t readPos = 0;                 // next byte to hand out
  std::int32_t writePos = 0;                // where the next received byte goes
  TlsChannel* tls = nullptr;                // not owned; set once the handshake is done
};

// A reader with a zero-filled ring of `capacity` bytes; null for
// kInvalidSocket, a capacity below 1, or no memory.
std::unique_ptr<SocketReader> ReaderCreate(SocketHandle socket, std::int32_t capacity);
// Frees the reader (bytes still held are lost); with `closeSocket` the socket
// is closed gracefully and the result is kInvalidSocket, else the result is
// the still open socket.
SocketHandle ReaderRelease(std::unique_ptr<SocketReader> reader, int closeSocket);
// One receive of at most the free space, stored from writePos on around the
// end of the ring: the receive's result (n > 0 stored; 0 peer closed; -1
// failure or time-out, and -1 without a receive when no temporary block can
// be had). A full ring receives nothing and gives 0. The reader itself fills
// only when it holds no bytes.
int ReaderFill(SocketReader& reader, std::uint32_t timeoutMs);
// The next byte (0 to 255), filling first when empty; READER_NO_BYTE when a
// fill gives nothing.
int ReaderGetByte(SocketReader& reader, std::uint32_t timeoutMs);
// Reads up to an LF into `buffer` (at most size - 1 bytes and a NUL). The LF
// is consumed and not stored, with a CR directly before it in the same call.
// 0 with LINE_COMPLETE at the LF; 0 with LINE_PARTIAL when the buffer is
// full (the rest stays for the next call) or for a size of 1 or less (nothing
// read); -1 with LINE_FAILED when no byte could be had (the bytes stored so
// far are in the buffer without a NUL).
int ReaderReadLine(SocketReader& reader, char* buffer, int size, LineStatus& status,
                   std::uint32_t timeoutMs);
// Copies up to `wanted` bytes: what is buffered, or else what one fill brings.
// Never receives while bytes are buffered. The count copied; 0 when none
// could be had (or `wanted` is below 1).
int ReaderRead(SocketReader& reader, void* destination, int wanted, std::uint32_t timeoutMs);

}  // namespace net
