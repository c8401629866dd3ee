// TLS over one of the transport's event sockets: the platform's session does
// the cryptography, every byte travels through SocketSendAll and
// SocketRecvTimed, so their time-outs and the stop flag hold unchanged, and
// the socket may already lead through a proxy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/event_socket.h"
#include "platform/tls_session.h"

namespace net {

enum TlsConnectResult {
  TLS_CONNECTED = 0,
  TLS_BROKEN = 1,     // the socket failed, timed out or was stopped, or the peer closed
  TLS_UNTRUSTED = 2,  // the server's certificate did not verify for the host
  TLS_REFUSED = 3,    // no TLS came back (garbage, an alert, an old version) or no session
};

struct TlsChannel {
  SocketHandle socket = kInvalidSocket;  // not owned
  std::unique_ptr<platform::TlsSession> session;
};

// Runs the handshake for `hostName` over the connected socket `s`: with
// TLS_CONNECTED, `channel` carries the session from here on. TLS_BROKEN
// leaves the socket's code stored (ErrTimedOut() for a wait that ran out or
// was stopped); the other results store ErrConnectionAborted().
TlsConnectResult TlsConnect(SocketHandle s, const std::string& hostName,
                            const platform::TlsTrust& trust, std::uint32_t sendTimeoutMs,
                            std::uint32_t receiveTimeoutMs, std::unique_ptr<TlsChannel>& channel);

// As SocketRecvTimed, in plaintext: the count (0: the peer closed the
// session or the connection); -1 on failure or time-out (code stored).
int TlsRecvTimed(TlsChannel& channel, char* buffer, int length, std::uint32_t timeoutMs);

// As SocketSendAll, in plaintext: `length` once all of it is sent; less on
// failure (code stored).
int TlsSendAll(TlsChannel& channel, const char* buffer, int length, std::uint32_t timeoutMs);

}  // namespace net
