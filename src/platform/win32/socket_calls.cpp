// Windows Sockets 2 behind the transport's socket calls: each call is the one
// Winsock call it is named after.
#include "platform/socket_calls.h"

#include <cstddef>
#include <vector>

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace platform {

static_assert(sizeof(sockaddr_in) == sizeof(Ipv4SocketAddress));
static_assert(offsetof(sockaddr_in, sin_family) == offsetof(Ipv4SocketAddress, family));
static_assert(offsetof(sockaddr_in, sin_port) == offsetof(Ipv4SocketAddress, port));
static_assert(offsetof(sockaddr_in, sin_addr) == offsetof(Ipv4SocketAddress, address));
static_assert(AF_INET == kAddressFamilyInet && SOCK_STREAM == kSocketTypeStream);
static_assert(FD_READ == kNetRead && FD_WRITE == kNetWrite && FD_CONNECT == kNetConnect &&
              FD_CLOSE == kNetClose);
static_assert(SD_SEND == kShutdownSend && SD_BOTH == kShutdownBoth);
static_assert(INADDR_NONE == kNoIpv4Address);
static_assert(sizeof(SOCKET) == sizeof(SocketHandle) && INVALID_SOCKET == kInvalidSocket);
static_assert(sizeof(sockaddr_in6) == sizeof(Ipv6SocketAddress));
static_assert(offsetof(sockaddr_in6, sin6_port) == offsetof(Ipv6SocketAddress, port));
static_assert(offsetof(sockaddr_in6, sin6_addr) == offsetof(Ipv6SocketAddress, address));
static_assert(offsetof(sockaddr_in6, sin6_scope_id) == offsetof(Ipv6SocketAddress, scopeId));
static_assert(WSA_MAXIMUM_WAIT_EVENTS == kMostWaitedEvents);

std::uint16_t AddressFamilyInet6() { return AF_INET6; }

std::int32_t SocketErrorTimedOut() { return WSAETIMEDOUT; }
std::int32_t SocketErrorWouldBlock() { return WSAEWOULDBLOCK; }
std::int32_t SocketErrorVersionNotSupported() { return WSAVERNOTSUPPORTED; }
std::int32_t SocketErrorConnectionAborted() { return WSAECONNABORTED; }

namespace {

SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(s); }
WSAEVENT NativeEvent(SocketEventHandle event) { return reinterpret_cast<WSAEVENT>(event); }

// A transfer length as WSABUF takes it; negative lengths move nothing.
ULONG BufferLength(int length) { return length > 0 ? static_cast<ULONG>(length) : 0; }

class WinsockCalls final : public SocketCalls {
 public:
  std::int32_t StartLibrary(std::uint16_t requestedVersion,
                            std::uint16_t& grantedVersion) override {
    WSADATA data;
    const int code = WSAStartup(requestedVersion, &data);
    if (code != 0) return code;
    grantedVersion = data.wVersion;
    return 0;
  }

  int StopLibrary() override { return WSACleanup() == 0 ? 0 : -1; }

  std::int32_t LastSocketError() override { return WSAGetLastError(); }
  std::int32_t LastSystemError() override { return static_cast<std::int32_t>(GetLastError()); }

  SocketHandle OpenSocket(int family, int type, int protocol) override {
    // Overlapped-capable like every Winsock 2 socket the transport makes; it
    // is never used with an overlapped record.
    const SOCKET s = WSASocketA(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    // Socket handles are inheritable; the programs the updater starts must
    // not hold its connections open.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<SocketHandle>(s);
  }

  int SetReuseAddress(SocketHandle s) override {
    const std::int32_t on = 1;
    return setsockopt(Native(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0
               ? 0
               : -1;
  }

  int CloseSocket(SocketHandle s) override { return closesocket(Native(s)) == 0 ? 0 : -1; }

  int ShutdownSocket(SocketHandle s, int how) override {
    return shutdown(Native(s), how) == 0 ? 0 : -1;
  }

  int Receive(SocketHandle s, char* buffer, int length) override {
    WSABUF one{BufferLength(length), buffer};
    DWORD received = 0;
    DWORD flags = 0;
    if (WSARecv(Native(s), &one, 1, &received, &flags, nullptr, nullptr) != 0) {
      return -WSAGetLastError();
    }
    return static_cast<int>(received);
  }

  int Send(SocketHandle s, const char* buffer, int length) override {
    WSABUF one{BufferLength(length), const_cast<char*>(buffer)};
    DWORD sent = 0;
    if (WSASend(Native(s), &one, 1, &sent, 0, nullptr, nullptr) != 0) return -WSAGetLastError();
    return static_cast<int>(sent);
  }

  int Connect(SocketHandle s, const void* address, int addressLength) override {
    if (WSAConnect(Native(s), static_cast<const sockaddr*>(address), addressLength, nullptr,
                   nullptr, nullptr, nullptr) == 0) {
      return 0;
    }
    return -WSAGetLastError();
  }

  std::string PeerAddress(SocketHandle s) override {
    sockaddr_storage address{};
    int length = sizeof address;
    if (getpeername(Native(s), reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return SocketAddressText(&address, static_cast<std::size_t>(length));
  }

  SocketEventHandle CreateSocketEvent() override {
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event == nullptr ? kNoSocketEvent : reinterpret_cast<SocketEventHandle>(event);
  }

  void CloseSocketEvent(SocketEventHandle event) override {
    if (event != kNoSocketEvent) CloseHandle(NativeEvent(event));
  }

  int SelectSocketEvents(SocketHandle s, SocketEventHandle event, std::uint32_t mask) override {
    return WSAEventSelect(Native(s), NativeEvent(event), static_cast<long>(mask)) == 0 ? 0 : -1;
  }

  WaitOutcome WaitForSocketEvents(std::span<const SocketEventHandle> events,
                                  std::uint32_t timeoutMs) override {
    WSAEVENT handles[WSA_MAXIMUM_WAIT_EVENTS] = {};
    if (events.size() > WSA_MAXIMUM_WAIT_EVENTS) {
      WSASetLastError(WSA_INVALID_PARAMETER);
      return WaitOutcome::kFailed;
    }
    for (std::size_t i = 0; i < events.size(); ++i) handles[i] = NativeEvent(events[i]);
    const DWORD count = static_cast<DWORD>(events.size());
    // Alertable: a queued completion routine ends the wait, which then counts
    // as failed. Each auto-reset event that signals is reset by the wait that
    // reports it, or else by the enumeration of its own socket.
    const DWORD result = WSAWaitForMultipleEvents(count, handles, FALSE, timeoutMs, TRUE);
    if (result >= WSA_WAIT_EVENT_0 && result < WSA_WAIT_EVENT_0 + count) {
      return WaitOutcome::kSignalled;
    }
    if (result == WSA_WAIT_TIMEOUT) return WaitOutcome::kTimedOut;
    return WaitOutcome::kFailed;
  }

  int EnumerateSocketEvents(SocketHandle s, SocketEventHandle event,
                            NetworkEvents& events) override {
    events = NetworkEvents{};
    WSANETWORKEVENTS recorded;
    ZeroMemory(&recorded, sizeof recorded);
    if (WSAEnumNetworkEvents(Native(s), NativeEvent(event), &recorded) != 0) return -1;
    events.recorded = static_cast<std::uint32_t>(recorded.lNetworkEvents);
    events.readError = recorded.iErrorCode[FD_READ_BIT];
    events.writeError = recorded.iErrorCode[FD_WRITE_BIT];
    events.connectError = recorded.iErrorCode[FD_CONNECT_BIT];
    events.closeError = recorded.iErrorCode[FD_CLOSE_BIT];
    return 0;
  }

  void Pause(std::uint32_t ms) override { Sleep(ms); }

  std::uint32_t NowMs() override { return GetTickCount(); }

  std::uint32_t ParseIpv4(const char* text) override { return inet_addr(text); }

  std::vector<IpAddress> LookUpAddresses(const char* name) override {
    ADDRINFOW hints;
    ZeroMemory(&hints, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* found = nullptr;
    std::vector<IpAddress> addresses;
    if (GetAddrInfoW(win32::Widen(name).c_str(), nullptr, &hints, &found) != 0) return addresses;
    for (const ADDRINFOW* a = found; a != nullptr; a = a->ai_next) {
      IpAddress address;
      address.v6 = a->ai_family == AF_INET6;
      if (address.v6) {
        CopyMemory(address.bytes.data(),
                   &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr, 16);
      } else if (a->ai_family == AF_INET) {
        CopyMemory(address.bytes.data(),
                   &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr, 4);
      } else {
        continue;
      }
      addresses.push_back(address);
    }
    FreeAddrInfoW(found);
    return addresses;
  }

  bool ResolverThreadAvailable() override {
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;  // 148 bytes
    static_assert(sizeof(OSVERSIONINFOA) == 148);
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
  }
};

}  // namespace

SocketCalls& SystemSocketCalls() {
  static WinsockCalls calls;
  return calls;
}

}  // namespace platform
