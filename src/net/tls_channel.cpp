#include "net/tls_channel.h"

#include <algorithm>
#include <climits>

#include "net/socket_library.h"

namespace net {
namespace {

using platform::TlsStatus;

// Sends what the session has waiting: true when all of it went.
bool SendPending(TlsChannel& channel, std::uint32_t timeoutMs) {
  for (;;) {
    const std::span<const char> pending = channel.session->PendingOutput();
    if (pending.empty()) return true;
    const int chunk = static_cast<int>(std::min<std::size_t>(pending.size(), INT_MAX));
    const int sent = SocketSendTimed(channel.socket, pending.data(), chunk, timeoutMs);
    if (sent < 0) return false;
    channel.session->OutputSent(static_cast<std::size_t>(sent));
  }
}

// One receive into the session's input: as SocketRecvTimed.
int ReceiveInput(TlsChannel& channel, std::uint32_t timeoutMs) {
  const std::span<char> space = channel.session->InputSpace();
  const int room = static_cast<int>(std::min<std::size_t>(space.size(), INT_MAX));
  const int received = SocketRecvTimed(channel.socket, space.data(), room, timeoutMs);
  if (received > 0) channel.session->InputReceived(static_cast<std::size_t>(received));
  return received;
}

int Aborted() {
  SetSocketLastError(ErrConnectionAborted());
  return -1;
}

}  // namespace

TlsConnectResult TlsConnect(SocketHandle s, const std::string& hostName,
                            const platform::TlsTrust& trust, std::uint32_t sendTimeoutMs,
                            std::uint32_t receiveTimeoutMs, std::unique_ptr<TlsChannel>& channel) {
  channel.reset();
  auto opened = std::make_unique<TlsChannel>();
  opened->socket = s;
  opened->session = platform::CreateTlsSession(hostName, trust);
  if (!opened->session) {
    Aborted();
    return TLS_REFUSED;
  }
  for (;;) {
    const TlsStatus status = opened->session->Handshake();
    // Whatever the outcome, the peer is owed what the session wrote: the
    // next flight, or the alert that tells it why the handshake ends here.
    const bool sent = SendPending(*opened, sendTimeoutMs);
    if (!sent && (status == TlsStatus::kWantInput || status == TlsStatus::kOk)) return TLS_BROKEN;
    switch (status) {
      case TlsStatus::kOk:
        channel = std::move(opened);
        return TLS_CONNECTED;
      case TlsStatus::kWantInput:
        break;
      case TlsStatus::kUntrusted:
        Aborted();
        return TLS_UNTRUSTED;
      case TlsStatus::kClosed:
      case TlsStatus::kFailed:
        Aborted();
        return TLS_REFUSED;
    }
    const int received = ReceiveInput(*opened, receiveTimeoutMs);
    if (received == 0) Aborted();
    if (received <= 0) return TLS_BROKEN;
  }
}

int TlsRecvTimed(TlsChannel& channel, char* buffer, int length, std::uint32_t timeoutMs) {
  if (length < 1) return 0;
  for (;;) {
    TlsStatus status = TlsStatus::kOk;
    const std::size_t got =
        channel.session->Read({buffer, static_cast<std::size_t>(length)}, status);
    if (!SendPending(channel, timeoutMs)) return -1;
    if (got > 0) return static_cast<int>(got);
    switch (status) {
      case TlsStatus::kWantInput:
        break;
      case TlsStatus::kClosed:
        return 0;
      default:
        return Aborted();
    }
    const int received = ReceiveInput(channel, timeoutMs);
    if (received <= 0) return received;
  }
}

int TlsSendAll(TlsChannel& channel, const char* buffer, int length, std::uint32_t timeoutMs) {
  if (length < 1) return 0;
  if (channel.session->Write({buffer, static_cast<std::size_t>(length)}) != TlsStatus::kOk) {
    Aborted();
    return 0;
  }
  return SendPending(channel, timeoutMs) ? length : 0;
}

}  // namespace net
