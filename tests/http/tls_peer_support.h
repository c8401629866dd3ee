// What the peer tests share: the TLS handshake alone over a fresh connection,
// and a fixture whose look-ups resolve "localhost" on this side.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/socket_library.h"
#include "net/tls_channel.h"
#include "support/table_names.h"

namespace httptest {

// A connected socket and the handshake over it for `host`.
inline net::TlsConnectResult Handshake(std::uint16_t port, const std::string& host,
                                       const std::string& ca,
                                       std::uint32_t receiveTimeoutMs = 5000) {
  net::UniqueSocket s(net::SocketCreate(2, 1, 0));
  if (net::SocketConnectHost(s.get(), "127.0.0.1", port, 5000, 0) != 0) return net::TLS_BROKEN;
  std::unique_ptr<net::TlsChannel> channel;
  platform::TlsTrust trust{ca};
  const net::TlsConnectResult result =
      net::TlsConnect(s.get(), host, trust, 5000, receiveTimeoutMs, channel);
  EXPECT_EQ(channel != nullptr, result == net::TLS_CONNECTED) << host << ":" << port;
  return result;
}

class PeerTest : public ::testing::Test {
 protected:
  testsupport::TableNames names_{{{"localhost", {testsupport::Ipv4Address(127, 0, 0, 1)}}}};
  net::ScopedSocketCalls scoped_{names_};
};

}  // namespace httptest
