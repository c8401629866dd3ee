// Real connections on 127.0.0.1 for the transport's tests: our end is made
// with the transport's own calls, the far end (`peer`) is a connection of
// support/loopback_tcp.h, driven with plain blocking system calls. Waits
// there are waits with a limit, never sleeps.
#pragma once

#include "net/event_socket.h"
#include "support/loopback_tcp.h"

namespace nettest {

// Our end, connected with SocketCreate and SocketConnectHost, and its peer.
struct Connection {
  net::UniqueSocket socket;
  testsupport::TcpConnection peer;
};

inline Connection Connect(testsupport::TcpListener& listener) {
  Connection connection;
  connection.socket.reset(net::SocketCreate(2, 1, 0));
  if (net::SocketConnectHost(connection.socket.get(), "127.0.0.1", listener.port(), 5000, 0) == 0) {
    connection.peer = listener.Accept();
  }
  return connection;
}

}  // namespace nettest
