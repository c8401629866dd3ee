#include "http/socks_setup.h"

#include <cstdint>
#include <string>
#include <vector>

#include "http/milliseconds.h"
#include "net/event_socket.h"
#include "net/host_connection.h"
#include "net/socks_client.h"

namespace http {
namespace {

constexpr std::uint8_t kMethodNoAuthentication = 0;
constexpr std::uint8_t kMethodLogin = 2;

// Whether `text` reaches the proxy whole: a NUL would end it early, and where
// one length byte counts it, it may have at most 255 bytes.
bool TravelsWhole(const std::string& text, bool counted) {
  if (text.find('\0') != std::string::npos) return false;
  return !counted || text.size() <= net::SOCKS_MAX_COUNTED_TEXT;
}

// The destination's addresses as this side resolves them.
std::vector<net::IpAddress> Resolve(const HttpDownloader& d) {
  return net::ResolveHostAddresses(d.host.c_str(), 1, Milliseconds(d.connectTimeout));
}

class SocksHandshake {
 public:
  SocksHandshake(HttpDownloader& d, const ProxyRoute& proxy)
      : d_(d),
        proxy_(proxy),
        sendTimeout_(Milliseconds(d.sendTimeout)),
        receiveTimeout_(Milliseconds(d.receiveTimeout)) {}

  // SOCKS4 to `address`, the destination already resolved here.
  RequestResult Socks4(std::uint32_t address) {
    if (!TravelsWhole(proxy_.user, false)) return REQUEST_FAILED;
    if (!ConnectToProxy()) return REQUEST_RETRY;
    if (net::Socks4Connect(d_.connection, net::SOCKS_COMMAND_CONNECT, d_.port, address,
                           proxy_.user.c_str(), sendTimeout_) != 0) {
      return REQUEST_RETRY;
    }
    return ReplyHolds(net::SOCKS4_REPLY) ? REQUEST_OK : REQUEST_RETRY;
  }

  // SOCKS4a: the proxy resolves `host`, unless it resolves here, in which
  // case a plain SOCKS4 request carries the address. `addresses` are those
  // found here.
  RequestResult Socks4a(const std::vector<net::IpAddress>& addresses) {
    const std::uint32_t address = net::FirstIpv4Address(addresses);
    if (address != net::kInaddrNone) return Socks4(address);
    // SOCKS4 has no room for an IPv6 address, and its name is for names.
    if (net::ParseIpv6Text(d_.host)) return REQUEST_FAILED;
    if (!TravelsWhole(proxy_.user, false) || !TravelsWhole(d_.host, false)) return REQUEST_FAILED;
    if (!ConnectToProxy()) return REQUEST_RETRY;
    if (net::Socks4aConnect(d_.connection, net::SOCKS_COMMAND_CONNECT, d_.port, d_.host.c_str(),
                            proxy_.user.c_str(), sendTimeout_) != 0) {
      return REQUEST_RETRY;
    }
    return ReplyHolds(net::SOCKS4A_REPLY) ? REQUEST_OK : REQUEST_RETRY;
  }

  // With `byName` the proxy gets the host name, unless it is an address
  // (which is never looked up anyway).
  RequestResult Socks5(bool byName) {
    if (!ConnectToProxy()) return REQUEST_RETRY;
    const std::uint8_t methods[2] = {kMethodNoAuthentication, kMethodLogin};
    const std::uint8_t methodCount = proxy_.auth != 0 ? 2 : 1;
    if (net::Socks5Greeting(d_.connection, methodCount, methods, sendTimeout_) != 0) {
      return REQUEST_RETRY;
    }
    net::SocksReply method;
    if (!ReplyHolds(net::SOCKS5_METHOD_REPLY, method)) return REQUEST_RETRY;
    if (method.code == kMethodLogin && proxy_.auth != 0) {
      const RequestResult login = Login();
      if (login != REQUEST_OK) return login;
    } else if (method.code != kMethodNoAuthentication) {
      // GSS-API (1), a method we never offered (3), or login we have no
      // credentials for: asking again gets the same answer.
      return REQUEST_FAILED;
    }

    // The first address found here, of either family; else the name. By
    // name, the proxy resolves it, unless it is an address already.
    const bool resolveHere = !byName || ParseIpAddress(d_.host).has_value();
    const std::vector<net::IpAddress> addresses =
        resolveHere ? Resolve(d_) : std::vector<net::IpAddress>{};
    int sent = 0;
    if (!addresses.empty()) {
      const bool v6 = addresses.front().v6;
      sent = net::Socks5Connect(d_.connection, net::SOCKS_COMMAND_CONNECT,
                                v6 ? net::SOCKS5_ADDRESS_IPV6 : net::SOCKS5_ADDRESS_IPV4,
                                addresses.front().bytes.data(), d_.port, sendTimeout_);
    } else {
      if (!TravelsWhole(d_.host, true)) return REQUEST_FAILED;
      sent = net::Socks5Connect(d_.connection, net::SOCKS_COMMAND_CONNECT, net::SOCKS5_ADDRESS_NAME,
                                d_.host.c_str(), d_.port, sendTimeout_);
    }
    if (sent != 0) return REQUEST_RETRY;
    return ReplyHolds(net::SOCKS5_REPLY) ? REQUEST_OK : REQUEST_RETRY;
  }

 private:
  RequestResult Login() {
    if (!TravelsWhole(proxy_.user, true) || !TravelsWhole(proxy_.password, true)) {
      return REQUEST_FAILED;
    }
    if (net::Socks5Login(d_.connection, proxy_.user.c_str(), proxy_.password.c_str(),
                         sendTimeout_) != 0) {
      return REQUEST_RETRY;
    }
    return ReplyHolds(net::SOCKS5_LOGIN_REPLY) ? REQUEST_OK : REQUEST_RETRY;
  }

  bool ConnectToProxy() { return d_.OpenConnection(proxy_.host, proxy_.port) != 0; }

  // Read in full and reporting success.
  bool ReplyHolds(net::SocksReplyKind kind, net::SocksReply& reply) {
    return net::SocksReadReply(*d_.socketReader, reply, kind, receiveTimeout_) == 0 &&
           net::SocksReplyOk(reply, kind);
  }
  bool ReplyHolds(net::SocksReplyKind kind) {
    net::SocksReply reply;
    return ReplyHolds(kind, reply);
  }

  HttpDownloader& d_;
  const ProxyRoute& proxy_;
  std::uint32_t sendTimeout_;
  std::uint32_t receiveTimeout_;
};

}  // namespace

RequestResult SetUpSocksConnection(HttpDownloader& d, const ProxyRoute& proxy) {
  if (proxy.host.empty()) return REQUEST_FAILED;
  SocksHandshake handshake(d, proxy);
  switch (proxy.kind) {
    case PROXY_SOCKS4: {
      // Plain SOCKS4 carries an IPv4 address only: a name that does not
      // resolve here cannot be sent, so the proxy is not even contacted; one
      // that has IPv6 addresses alone never can be.
      const std::vector<net::IpAddress> addresses = Resolve(d);
      const std::uint32_t address = net::FirstIpv4Address(addresses);
      if (address != net::kInaddrNone) return handshake.Socks4(address);
      return addresses.empty() ? REQUEST_RETRY : REQUEST_FAILED;
    }
    case PROXY_SOCKS4A:
      return handshake.Socks4a(Resolve(d));
    case PROXY_SOCKS5:
      return handshake.Socks5(false);
    case PROXY_SOCKS5_HOSTNAME:
      return handshake.Socks5(true);
    default:
      return REQUEST_FAILED;
  }
}

}  // namespace http
