#include "net/socks_client.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace net {
namespace {

std::size_t TextLength(const char* text) { return text != nullptr ? std::strlen(text) : 0; }

// Writes a message front to back; multi-byte numbers go big-endian.
class MessageWriter {
 public:
  explicit MessageWriter(void* destination) : next_(static_cast<std::uint8_t*>(destination)) {}
  void Byte(std::uint8_t value) { *next_++ = value; }
  void Bytes(const void* bytes, std::size_t length) {
    if (bytes != nullptr) {
      std::memcpy(next_, bytes, length);
    } else {
      std::memset(next_, 0, length);
    }
    next_ += length;
  }
  void Port(std::uint16_t port) {
    Byte(static_cast<std::uint8_t>(port >> 8));
    Byte(static_cast<std::uint8_t>(port & 0xFF));
  }
  // The text without its NUL, after its length byte when `counted`.
  void Text(const char* text, bool counted) {
    const std::size_t length = TextLength(text);
    if (counted) Byte(static_cast<std::uint8_t>(length));
    Bytes(text, length);
  }

 private:
  std::uint8_t* next_;
};

std::size_t Socks5AddressLength(const SocksRequest& request) {
  switch (request.addressType) {
    case SOCKS5_ADDRESS_IPV4:
      return 4;
    case SOCKS5_ADDRESS_NAME:
      return 1 + TextLength(request.hostName);
    case SOCKS5_ADDRESS_IPV6:
      return 16;
    default:
      return 0;
  }
}

// Length as a size; 0 where the message cannot be sent.
std::size_t MessageLength(const SocksRequest& request, SocksRequestKind kind) {
  switch (kind) {
    case SOCKS4_REQUEST:
      return 9 + TextLength(request.userId);
    case SOCKS4A_REQUEST:
      return 10 + TextLength(request.userId) + TextLength(request.hostName);
    case SOCKS5_GREETING:
      return 2 + std::size_t{request.methodCount};
    case SOCKS5_LOGIN: {
      const std::size_t name = TextLength(request.userName);
      const std::size_t password = TextLength(request.password);
      if (name > SOCKS_MAX_COUNTED_TEXT || password > SOCKS_MAX_COUNTED_TEXT) return 0;
      return 3 + name + password;
    }
    case SOCKS5_REQUEST:
      if (request.addressType == SOCKS5_ADDRESS_NAME &&
          TextLength(request.hostName) > SOCKS_MAX_COUNTED_TEXT) {
        return 0;
      }
      return 6 + Socks5AddressLength(request);
  }
  return 0;
}

// Takes the reply's bytes one at a time from the reader.
class ReplyBytes {
 public:
  ReplyBytes(SocketReader& reader, std::uint32_t timeoutMs)
      : reader_(reader), timeoutMs_(timeoutMs) {}
  bool Next(std::uint8_t& byte) {
    const int value = ReaderGetByte(reader_, timeoutMs_);
    if (value == READER_NO_BYTE) return false;
    byte = static_cast<std::uint8_t>(value);
    return true;
  }
  bool Next(std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      if (!Next(bytes[i])) return false;
    }
    return true;
  }
  bool Port(std::uint16_t& port) {
    std::uint8_t bytes[2];
    if (!Next(bytes, 2)) return false;
    port = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
    return true;
  }

 private:
  SocketReader& reader_;
  std::uint32_t timeoutMs_;
};

int ReadSocks5Reply(ReplyBytes& in, SocksReply& reply) {
  if (!in.Next(reply.version) || !in.Next(reply.code) || !in.Next(reply.reserved) ||
      !in.Next(reply.addressType)) {
    return -1;
  }
  if (reply.code != 0) return 0;
  std::uint8_t address[SOCKS_MAX_COUNTED_TEXT];
  std::size_t length = 0;
  switch (reply.addressType) {
    case SOCKS5_ADDRESS_IPV4:
      length = 4;
      break;
    case SOCKS5_ADDRESS_NAME: {
      std::uint8_t nameLength = 0;
      if (!in.Next(nameLength)) return -1;
      length = nameLength;
      break;
    }
    case SOCKS5_ADDRESS_IPV6:
      length = 16;
      break;
    default:
      break;
  }
  if (!in.Next(address, length) || !in.Port(reply.boundPort)) return -1;
  try {
    reply.boundAddress.assign(reinterpret_cast<const char*>(address), length);
  } catch (const std::bad_alloc&) {
    reply.boundPort = 0;
    return -1;
  }
  return 0;
}

}  // namespace

std::int32_t SocksRequestLength(const SocksRequest& request, SocksRequestKind kind) {
  const std::size_t length = MessageLength(request, kind);
  return length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())
             ? 0
             : static_cast<std::int32_t>(length);
}

int SocksBuildRequest(void* destination, const SocksRequest& request, SocksRequestKind kind) {
  if (SocksRequestLength(request, kind) == 0) return 0;
  MessageWriter out(destination);
  switch (kind) {
    case SOCKS4_REQUEST:
      out.Byte(4);
      out.Byte(request.command);
      out.Port(request.port);
      out.Bytes(&request.address, 4);
      out.Text(request.userId, false);
      out.Byte(0);
      break;
    case SOCKS4A_REQUEST: {
      static const std::uint8_t kNameFollows[4] = {0, 0, 0, 1};
      out.Byte(4);
      out.Byte(request.command);
      out.Port(request.port);
      out.Bytes(kNameFollows, 4);
      out.Text(request.userId, false);
      out.Byte(0);
      out.Text(request.hostName, false);
      out.Byte(0);
      break;
    }
    case SOCKS5_GREETING:
      out.Byte(5);
      out.Byte(request.methodCount);
      out.Bytes(request.methods, request.methodCount);
      break;
    case SOCKS5_LOGIN:
      out.Byte(1);
      out.Text(request.userName, true);
      out.Text(request.password, true);
      break;
    case SOCKS5_REQUEST:
      out.Byte(5);
      out.Byte(request.command);
      out.Byte(0);
      out.Byte(request.addressType);
      if (request.addressType == SOCKS5_ADDRESS_NAME) {
        out.Text(request.hostName, true);
      } else {
        out.Bytes(request.addressBytes, Socks5AddressLength(request));
      }
      out.Port(request.port);
      break;
  }
  return 0;
}

int SocksSendRequest(SocketHandle s, const SocksRequest& request, SocksRequestKind kind,
                     std::uint32_t timeoutMs) {
  if (s == kInvalidSocket) return -1;
  const std::int32_t length = SocksRequestLength(request, kind);
  if (length == 0) return -1;
  std::unique_ptr<char[]> message(new (std::nothrow) char[static_cast<std::size_t>(length)]);
  if (!message) return -1;
  SocksBuildRequest(message.get(), request, kind);
  return SocketSendAll(s, message.get(), length, timeoutMs) == length ? 0 : -1;
}

int Socks4Connect(SocketHandle s, std::uint8_t command, std::uint16_t port, std::uint32_t address,
                  const char* userId, std::uint32_t timeoutMs) {
  SocksRequest request;
  request.command = command;
  request.port = port;
  request.address = address;
  request.userId = userId;
  return SocksSendRequest(s, request, SOCKS4_REQUEST, timeoutMs);
}

int Socks4aConnect(SocketHandle s, std::uint8_t command, std::uint16_t port, const char* hostName,
                   const char* userId, std::uint32_t timeoutMs) {
  SocksRequest request;
  request.command = command;
  request.port = port;
  request.userId = userId;
  request.hostName = hostName;
  return SocksSendRequest(s, request, SOCKS4A_REQUEST, timeoutMs);
}

int Socks5Greeting(SocketHandle s, std::uint8_t methodCount, const std::uint8_t* methods,
                   std::uint32_t timeoutMs) {
  SocksRequest request;
  request.methodCount = methodCount;
  request.methods = methods;
  return SocksSendRequest(s, request, SOCKS5_GREETING, timeoutMs);
}

int Socks5Login(SocketHandle s, const char* userName, const char* password,
                std::uint32_t timeoutMs) {
  SocksRequest request;
  request.userName = userName;
  request.password = password;
  return SocksSendRequest(s, request, SOCKS5_LOGIN, timeoutMs);
}

int Socks5Connect(SocketHandle s, std::uint8_t command, std::uint8_t addressType,
                  const void* address, std::uint16_t port, std::uint32_t timeoutMs) {
  SocksRequest request;
  request.command = command;
  request.addressType = addressType;
  request.port = port;
  if (addressType == SOCKS5_ADDRESS_NAME) {
    request.hostName = static_cast<const char*>(address);
  } else {
    request.addressBytes = static_cast<const std::uint8_t*>(address);
  }
  return SocksSendRequest(s, request, SOCKS5_REQUEST, timeoutMs);
}

int SocksReadReply(SocketReader& reader, SocksReply& reply, SocksReplyKind kind,
                   std::uint32_t timeoutMs) {
  reply = SocksReply{};
  ReplyBytes in(reader, timeoutMs);
  switch (kind) {
    case SOCKS4_REPLY:
    case SOCKS4A_REPLY: {
      std::uint8_t address[4];
      if (!in.Next(reply.version) || !in.Next(reply.code) || !in.Port(reply.port) ||
          !in.Next(address, 4)) {
        return -1;
      }
      std::memcpy(&reply.address, address, 4);
      return 0;
    }
    case SOCKS5_METHOD_REPLY:
    case SOCKS5_LOGIN_REPLY:
      return in.Next(reply.version) && in.Next(reply.code) ? 0 : -1;
    case SOCKS5_REPLY:
      return ReadSocks5Reply(in, reply);
  }
  return 0;
}

bool SocksReplyOk(const SocksReply& reply, SocksReplyKind kind) {
  switch (kind) {
    case SOCKS4_REPLY:
    case SOCKS4A_REPLY:
      return reply.code == 90;
    case SOCKS5_METHOD_REPLY:
      return reply.code <= 3;
    case SOCKS5_LOGIN_REPLY:
    case SOCKS5_REPLY:
      return reply.code == 0;
  }
  return false;
}

}  // namespace net
