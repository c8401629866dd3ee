// The operating system's socket calls that the transport (src/net) is built
// on. The transport's logic - when to wait, what a recorded event means, what
// is stored as the error - lives in src/net once for every system; an
// implementation here only makes the calls. The shape follows Windows Sockets
// 2 with event selection (WSAEventSelect, WSAWaitForMultipleEvents,
// WSAEnumNetworkEvents), so that a Winsock implementation maps call for call;
// the POSIX one emulates the recorded network events with poll(2).
//
// Conventions for every call below:
// - "the last socket error" is what LastSocketError() returns right after the
//   call on the same thread (WSAGetLastError(); errno on POSIX);
// - results that carry an error negate it: -code;
// - a pending operation on a non-blocking socket reports SocketErrorWouldBlock()
//   (on POSIX both EAGAIN and EINPROGRESS are reported as that number).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform {

// A platform socket (a Winsock SOCKET, or a POSIX descriptor).
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~static_cast<SocketHandle>(0);

// A waitable event that records one socket's network events (a WSAEVENT).
using SocketEventHandle = std::uintptr_t;
inline constexpr SocketEventHandle kNoSocketEvent = 0;

// Network event bits, with Winsock's FD_* values.
inline constexpr std::uint32_t kNetRead = 1;      // FD_READ
inline constexpr std::uint32_t kNetWrite = 2;     // FD_WRITE
inline constexpr std::uint32_t kNetConnect = 16;  // FD_CONNECT
inline constexpr std::uint32_t kNetClose = 32;    // FD_CLOSE

// What EnumerateSocketEvents found: the recorded bits and, per event, its
// error code (WSANETWORKEVENTS.iErrorCode[FD_*_BIT]); 0 for no error.
struct NetworkEvents {
  std::uint32_t recorded = 0;
  std::int32_t readError = 0;
  std::int32_t writeError = 0;
  std::int32_t connectError = 0;
  std::int32_t closeError = 0;
};

enum class WaitOutcome {
  kSignalled,  // a selected network event was recorded (WSA_WAIT_EVENT_0)
  kTimedOut,   // the time-out passed first (WSA_WAIT_TIMEOUT); sets no error
  kFailed,     // any other return; the last socket error holds the cause
};

// WSA_MAXIMUM_WAIT_EVENTS: the most events one wait takes.
inline constexpr std::size_t kMostWaitedEvents = 64;

// How ShutdownSocket stops the connection (SD_SEND, SD_BOTH).
inline constexpr int kShutdownSend = 1;
inline constexpr int kShutdownBoth = 2;

// An IPv4 socket address in the layout of sockaddr_in (16 bytes):
// family in host order, port and address in network byte order.
struct Ipv4SocketAddress {
  std::uint16_t family;
  std::uint8_t port[2];
  std::uint8_t address[4];
  std::uint8_t zero[8];
};
static_assert(sizeof(Ipv4SocketAddress) == 16);
inline constexpr std::uint16_t kAddressFamilyInet = 2;        // AF_INET
inline constexpr int kSocketTypeStream = 1;                   // SOCK_STREAM
inline constexpr std::uint32_t kNoIpv4Address = 0xFFFFFFFFu;  // INADDR_NONE

// An IPv6 socket address in the layout of sockaddr_in6 (28 bytes), the same
// on every system but for the family's number (AddressFamilyInet6()).
struct Ipv6SocketAddress {
  std::uint16_t family;
  std::uint8_t port[2];
  std::uint8_t flowInfo[4];
  std::uint8_t address[16];
  std::uint32_t scopeId;
};
static_assert(sizeof(Ipv6SocketAddress) == 28);
// AF_INET6: 10 on Linux, 23 on Windows.
std::uint16_t AddressFamilyInet6();

// An address as a look-up gives it, in network byte order: IPv4 in the first
// four bytes, or IPv6.
struct IpAddress {
  bool v6 = false;
  std::array<std::uint8_t, 16> bytes{};
};

// "192.0.2.1:80", or "[2001:db8::1]:443" for an IPv6 address, with the
// longest run of zero groups written "::".
std::string SocketAddressText(const IpAddress& address, std::uint16_t port);
// The same for a sockaddr_in or sockaddr_in6 of `length` bytes; empty for
// another family.
std::string SocketAddressText(const void* socketAddress, std::size_t length);

// The system's numbers for the errors that callers of the transport look at:
// WSAETIMEDOUT 10060, WSAEWOULDBLOCK 10035, WSAVERNOTSUPPORTED 10092 on Windows.
std::int32_t SocketErrorTimedOut();
std::int32_t SocketErrorWouldBlock();
std::int32_t SocketErrorVersionNotSupported();
std::int32_t SocketErrorConnectionAborted();  // a TLS session that failed

class SocketCalls {
 public:
  virtual ~SocketCalls() = default;

  // --- Library (WSAStartup / WSACleanup) ---
  // 0 with the version granted in `grantedVersion` (low byte major), or the
  // error code that WSAStartup returned. POSIX grants what is asked.
  virtual std::int32_t StartLibrary(std::uint16_t requestedVersion,
                                    std::uint16_t& grantedVersion) = 0;
  // 0, or -1 (also when the library was never started).
  virtual int StopLibrary() = 0;

  // --- Error numbers of the calling thread ---
  virtual std::int32_t LastSocketError() = 0;  // WSAGetLastError(); errno
  virtual std::int32_t LastSystemError() = 0;  // GetLastError(); errno

  // --- Sockets ---
  // WSASocketA(family, type, protocol, NULL, 0, WSA_FLAG_OVERLAPPED); on POSIX
  // socket() with SOCK_CLOEXEC, so that started programs do not inherit it.
  // The socket is blocking. kInvalidSocket on failure (last socket error set).
  virtual SocketHandle OpenSocket(int family, int type, int protocol) = 0;
  // setsockopt SO_REUSEADDR to the 32-bit value 1: 0, or -1 (last socket error set).
  virtual int SetReuseAddress(SocketHandle s) = 0;
  // closesocket: 0, or -1. Safe on any handle, also kInvalidSocket.
  virtual int CloseSocket(SocketHandle s) = 0;
  // shutdown with kShutdownSend or kShutdownBoth: 0, or -1 (the transport
  // ignores the result).
  virtual int ShutdownSocket(SocketHandle s, int how) = 0;
  // One WSARecv / WSASend with one buffer and flags 0, no overlapped record:
  // bytes moved (0 from Receive: the peer closed in order), or -error. A send
  // to a closed connection fails with an error; it never raises a signal.
  virtual int Receive(SocketHandle s, char* buffer, int length) = 0;
  virtual int Send(SocketHandle s, const char* buffer, int length) = 0;
  // WSAConnect without caller or callee data and quality of service: 0 when
  // connected at once, -SocketErrorWouldBlock() when the attempt is under way
  // on a non-blocking socket (its outcome is then recorded as kNetConnect with
  // connectError), or -error.
  virtual int Connect(SocketHandle s, const void* address, int addressLength) = 0;
  // getpeername: the address a connected socket reaches, as SocketAddressText
  // writes it; empty when it has none (also for a scripted socket).
  virtual std::string PeerAddress(SocketHandle) { return {}; }

  // --- Network events ---
  // CreateEventA(NULL, FALSE, FALSE, NULL): an auto-reset event, not
  // signalled. kNoSocketEvent on failure (last system error set).
  virtual SocketEventHandle CreateSocketEvent() = 0;
  // CloseHandle.
  virtual void CloseSocketEvent(SocketEventHandle event) = 0;
  // WSAEventSelect(s, event, mask): 0, or -1 (last socket error set). Clears
  // what was recorded for the socket before. A mask other than 0 makes the
  // socket non-blocking, and it stays so after a later mask 0 (deselect).
  // Events whose condition already holds are recorded at once: kNetRead while
  // bytes are waiting, kNetWrite while a send can go, kNetClose once the peer
  // has closed.
  virtual int SelectSocketEvents(SocketHandle s, SocketEventHandle event, std::uint32_t mask) = 0;
  // WSAWaitForMultipleEvents(n, events, FALSE, timeoutMs, TRUE) for selected
  // events, each of its own socket, at most kMostWaitedEvents: kSignalled once
  // any of them is. 0xFFFFFFFF waits without limit.
  virtual WaitOutcome WaitForSocketEvents(std::span<const SocketEventHandle> events,
                                          std::uint32_t timeoutMs) = 0;
  // WSAEnumNetworkEvents(s, event, &events): fetches and resets the events
  // recorded since the select, limited to the selected mask. 0, or -1 (last
  // socket error set, e.g. for a socket that was closed).
  // The POSIX emulation after poll(2): kNetRead when bytes are readable
  // (FIONREAD > 0); kNetClose on hang-up, error or end of stream (readable with
  // no bytes); kNetWrite when writable; kNetConnect when a pending connect has
  // ended, with SO_ERROR as connectError. It reports readError, writeError and
  // closeError as 0: the error surfaces in the receive or send that follows.
  virtual int EnumerateSocketEvents(SocketHandle s, SocketEventHandle event,
                                    NetworkEvents& events) = 0;

  // --- Time ---
  virtual void Pause(std::uint32_t ms) = 0;  // Sleep
  // Milliseconds of a clock that only goes forward (GetTickCount), for the
  // time left of an operation; it wraps around, so only differences count.
  virtual std::uint32_t NowMs() = 0;

  // --- Names ---
  // inet_addr: the IPv4 address of a dotted text in network byte order,
  // kNoIpv4Address for anything else (so also for "255.255.255.255").
  virtual std::uint32_t ParseIpv4(const char* text) = 0;
  // getaddrinfo (Windows: GetAddrInfoW) for a stream socket of either family:
  // every address of the name, in the order the system gives; empty when it
  // has none. Must be callable from any thread.
  virtual std::vector<IpAddress> LookUpAddresses(const char* name) = 0;
  // Whether a look-up may run on a thread of its own (Windows: an NT-family
  // system, GetVersionExA platform id 2; POSIX: always).
  virtual bool ResolverThreadAvailable() = 0;
};

// The running system's calls; one object for the whole process.
SocketCalls& SystemSocketCalls();

}  // namespace platform
