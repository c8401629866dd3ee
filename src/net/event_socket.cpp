// The timed socket operations: each owns one event for its waits, selects the
// network events it needs, and judges what the platform recorded. The
// platform calls come from CurrentSocketCalls(), so this sequence is the same
// on every system.
#include "net/event_socket.h"

#include <cstring>

#include "net/operation_event.h"
#include "net/socket_library.h"

namespace net {
namespace {

using platform::NetworkEvents;
using platform::SocketCalls;
using platform::WaitOutcome;

constexpr std::uint32_t kWouldBlockPauseMs = 100;
constexpr std::uint32_t kCloseDrainWaitMs = 4000;
constexpr int kCloseDrainBytes = 256;

int Fail(std::int32_t code) {
  SetSocketLastError(code);
  return -1;
}

// Only the peer's close, or the awaited event alone with an error of its own.
bool RecordsFailure(const NetworkEvents& events, std::uint32_t awaited, std::int32_t awaitedError) {
  return events.recorded == platform::kNetClose ||
         (events.recorded == awaited && awaitedError != 0);
}

}  // namespace

SocketHandle SocketCreate(int family, int type, int protocol) {
  SocketCalls& calls = CurrentSocketCalls();
  const SocketHandle s = calls.OpenSocket(family, type, protocol);
  if (s == kInvalidSocket) {
    SetSocketLastError(calls.LastSocketError());
    return kInvalidSocket;
  }
  if (calls.SetReuseAddress(s) != 0) {
    SetSocketLastError(calls.LastSocketError());
    SocketClose(s, 1);
    return kInvalidSocket;
  }
  return s;
}

int SocketClose(SocketHandle s, int immediate) {
  SocketCalls& calls = CurrentSocketCalls();
  if (immediate != 0) return calls.CloseSocket(s);
  // A socket that cannot stop sending has no connection (its connect failed or
  // never ended): nothing will arrive to drain, and a wait would only take the
  // full 4000 ms.
  if (calls.ShutdownSocket(s, platform::kShutdownSend) != 0) return calls.CloseSocket(s);
  {
    OperationEvent event(calls, s);
    char scratch[kCloseDrainBytes];
    int received = 0;
    do {
      if (event.created() && event.Select(platform::kNetRead | platform::kNetClose)) {
        event.Wait(kCloseDrainWaitMs);
        event.Deselect();
      }
      std::memset(scratch, 0, sizeof scratch);
      received = calls.Receive(s, scratch, kCloseDrainBytes);
    } while (received > 0);
  }
  calls.ShutdownSocket(s, platform::kShutdownBoth);
  return calls.CloseSocket(s);
}

int SocketRecv(SocketHandle s, char* buffer, int length) {
  return CurrentSocketCalls().Receive(s, buffer, length);
}

int SocketSend(SocketHandle s, const char* buffer, int length) {
  return CurrentSocketCalls().Send(s, buffer, length);
}

namespace {

// `closeIsEnd`: a peer's orderly close alone is received (0), not failed.
int ReceiveTimed(SocketHandle s, char* buffer, int length, std::uint32_t timeoutMs,
                 bool closeIsEnd) {
  SocketCalls& calls = CurrentSocketCalls();
  OperationEvent event(calls, s);
  if (!event.created()) return Fail(calls.LastSystemError());
  for (;;) {
    if (!event.Select(platform::kNetRead | platform::kNetClose)) {
      return Fail(calls.LastSocketError());
    }
    NetworkEvents recorded;
    if (const std::int32_t code = event.Await(timeoutMs, recorded); code != 0) return Fail(code);
    const bool orderlyClose = recorded.recorded == platform::kNetClose && recorded.closeError == 0;
    if (RecordsFailure(recorded, platform::kNetRead, recorded.readError) &&
        !(closeIsEnd && orderlyClose)) {
      return Fail(calls.LastSocketError());
    }
    event.Deselect();
    const int received = calls.Receive(s, buffer, length);
    if (received >= 0) return received;
    if (-received != ErrWouldBlock()) return Fail(-received);
    calls.Pause(kWouldBlockPauseMs);
  }
}

}  // namespace

int SocketRecvTimed(SocketHandle s, char* buffer, int length, std::uint32_t timeoutMs) {
  return ReceiveTimed(s, buffer, length, timeoutMs, false);
}

int SocketRecvToClose(SocketHandle s, char* buffer, int length, std::uint32_t timeoutMs) {
  return ReceiveTimed(s, buffer, length, timeoutMs, true);
}

int SocketSendTimed(SocketHandle s, const char* buffer, int length, std::uint32_t timeoutMs) {
  SocketCalls& calls = CurrentSocketCalls();
  OperationEvent event(calls, s);
  if (!event.created()) return Fail(calls.LastSystemError());
  for (;;) {
    const int sent = calls.Send(s, buffer, length);
    if (sent >= 0) return sent;
    if (-sent != ErrWouldBlock()) return Fail(-sent);
    calls.Pause(kWouldBlockPauseMs);
    if (!event.Select(platform::kNetWrite | platform::kNetClose)) {
      return Fail(calls.LastSocketError());
    }
    NetworkEvents recorded;
    if (const std::int32_t code = event.Await(timeoutMs, recorded); code != 0) return Fail(code);
    if (RecordsFailure(recorded, platform::kNetWrite, recorded.writeError)) {
      return Fail(calls.LastSocketError());
    }
    event.Deselect();
  }
}

int SocketSendAll(SocketHandle s, const char* buffer, int length, std::uint32_t timeoutMs) {
  int total = 0;
  while (total < length) {
    const int sent = SocketSendTimed(s, buffer + total, length - total, timeoutMs);
    if (sent < 0) break;
    total += sent;
  }
  return total;
}

int SocketConnectTimed(SocketHandle s, const void* address, int addressLength,
                       std::uint32_t timeoutMs) {
  SocketCalls& calls = CurrentSocketCalls();
  OperationEvent event(calls, s);
  if (!event.created()) return Fail(calls.LastSystemError());
  if (!event.Select(platform::kNetConnect)) return Fail(calls.LastSocketError());
  const int result = calls.Connect(s, address, addressLength);
  if (result == 0) return 0;
  if (-result != ErrWouldBlock()) return Fail(-result);
  NetworkEvents recorded;
  if (const std::int32_t code = event.Await(timeoutMs, recorded); code != 0) return Fail(code);
  if (recorded.connectError != 0) return Fail(recorded.connectError);
  return 0;
}

std::string SocketPeerAddress(SocketHandle s) { return CurrentSocketCalls().PeerAddress(s); }

}  // namespace net
