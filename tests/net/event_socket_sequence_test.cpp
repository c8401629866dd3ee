// The order of platform calls behind each timed operation, on a scripted
// platform: what is selected, how long each wait is, when the operation
// pauses, and which code is stored.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "net/event_socket.h"
#include "net/socket_library.h"
#include "stand_in_socket_calls.h"

namespace {

using nettest::ScriptedSocketCalls;
using platform::NetworkEvents;
using platform::WaitOutcome;
using Log = std::vector<std::string>;

constexpr std::int32_t kUntouched = 4242;
constexpr std::int32_t kSocketError = 77;

NetworkEvents Recorded(std::uint32_t bits) {
  NetworkEvents events;
  events.recorded = bits;
  return events;
}

// Each case scripts the platform, runs one operation and compares its
// result, the stored error (kUntouched: none) and the calls in order.
TEST(EventSocketSequence, EachOperationCallsThePlatformInOrderAndStoresItsError) {
  enum Operation { kReceive, kSend, kSendAll, kConnect, kCloseGracefully, kCloseAtOnce, kCreate };
  struct Case {
    const char* name;
    std::function<void(ScriptedSocketCalls&)> script;
    Operation operation;
    int result;
    std::int32_t error;
    Log log;  // empty: not compared
  };
  const int wouldBlock = -net::ErrWouldBlock();
  NetworkEvents readWithError = Recorded(platform::kNetRead);
  readWithError.readError = 5;
  NetworkEvents bothWithErrors = Recorded(platform::kNetRead | platform::kNetClose);
  bothWithErrors.readError = 5;
  bothWithErrors.closeError = 6;
  NetworkEvents closeWithError = Recorded(platform::kNetClose);
  closeWithError.closeError = 6;
  NetworkEvents writeWithError = Recorded(platform::kNetWrite);
  writeWithError.writeError = 5;
  NetworkEvents refused;  // the bits themselves are not looked at
  refused.connectError = 111;
  const auto received = [](NetworkEvents events) {
    return [events](ScriptedSocketCalls& c) {
      c.recorded = {events};
      c.receives = {3};
    };
  };
  const auto roomAfterWouldBlock = [wouldBlock](NetworkEvents events) {
    return [events, wouldBlock](ScriptedSocketCalls& c) {
      c.sends = {wouldBlock, 10};
      c.recorded = {events};
    };
  };
  const Log receiveOnce = {"create event", "select 33",  "wait 500",   "enumerate",
                           "select 0",     "receive 64", "close event"};
  const Case cases[] = {
      {"receive after would-block pauses and waits again with the full time-out",
       [=](ScriptedSocketCalls& c) {
         c.recorded = {Recorded(platform::kNetRead), Recorded(platform::kNetRead)};
         c.receives = {wouldBlock, 7};
       },
       kReceive,
       7,
       kUntouched,
       {"create event", "select 33", "wait 500", "enumerate", "select 0", "receive 64", "pause 100",
        "select 33", "wait 500", "enumerate", "select 0", "receive 64", "close event"}},
      {"receive: data", received(Recorded(platform::kNetRead)), kReceive, 3, kUntouched,
       receiveOnce},
      {"receive: only a close",
       received(Recorded(platform::kNetClose)),
       kReceive,
       -1,
       kSocketError,
       {}},
      {"receive: only a close, with its error",
       received(closeWithError),
       kReceive,
       -1,
       kSocketError,
       {}},
      {"receive: data with an error", received(readWithError), kReceive, -1, kSocketError, {}},
      {"receive: data and close together",
       received(Recorded(platform::kNetRead | platform::kNetClose)),
       kReceive,
       3,
       kUntouched,
       {}},
      {"receive: data and close, both with errors",
       received(bothWithErrors),
       kReceive,
       3,
       kUntouched,
       {}},
      {"receive: nothing recorded", received(Recorded(0)), kReceive, 3, kUntouched, {}},
      {"receive: the wait times out",
       [](ScriptedSocketCalls& c) { c.waits = {WaitOutcome::kTimedOut}; },
       kReceive,
       -1,
       net::ErrTimedOut(),
       {"create event", "select 33", "wait 500", "select 0", "close event"}},
      {"receive: the wait fails",
       [](ScriptedSocketCalls& c) { c.waits = {WaitOutcome::kFailed}; },
       kReceive,
       -1,
       kSocketError,
       {}},
      {"receive: the enumeration fails",
       [](ScriptedSocketCalls& c) { c.enumerateResult = -1; },
       kReceive,
       -1,
       kSocketError,
       {"create event", "select 33", "wait 500", "enumerate", "select 0", "close event"}},
      {"receive: the select fails, no deselect",
       [](ScriptedSocketCalls& c) { c.selects = {-1}; },
       kReceive,
       -1,
       kSocketError,
       {"create event", "select 33", "close event"}},
      {"receive: no event",
       [](ScriptedSocketCalls& c) { c.eventAvailable = false; },
       kReceive,
       -1,
       8,
       {"create event"}},
      {"send: no event",
       [](ScriptedSocketCalls& c) { c.eventAvailable = false; },
       kSend,
       -1,
       8,
       {"create event"}},
      {"connect: no event",
       [](ScriptedSocketCalls& c) { c.eventAvailable = false; },
       kConnect,
       -1,
       8,
       {"create event"}},
      {"receive: its error is stored",
       [](ScriptedSocketCalls& c) { c.receives = {-104}; },
       kReceive,
       -1,
       104,
       {}},
      {"send goes out without waiting first",
       [](ScriptedSocketCalls& c) { c.sends = {4}; },
       kSend,
       4,
       kUntouched,
       {"create event", "send 10", "close event"}},
      {"send after would-block pauses, then waits for room",
       [=](ScriptedSocketCalls& c) {
         c.sends = {wouldBlock, wouldBlock, 10};
         c.recorded = {Recorded(platform::kNetWrite), Recorded(platform::kNetWrite)};
       },
       kSend,
       10,
       kUntouched,
       {"create event", "send 10", "pause 100", "select 34", "wait 500", "enumerate", "select 0",
        "send 10", "pause 100", "select 34", "wait 500", "enumerate", "select 0", "send 10",
        "close event"}},
      {"send: room", roomAfterWouldBlock(Recorded(platform::kNetWrite)), kSend, 10, kUntouched, {}},
      {"send: only a close",
       roomAfterWouldBlock(Recorded(platform::kNetClose)),
       kSend,
       -1,
       kSocketError,
       {}},
      {"send: room with an error",
       roomAfterWouldBlock(writeWithError),
       kSend,
       -1,
       kSocketError,
       {}},
      {"send: room and close together",
       roomAfterWouldBlock(Recorded(platform::kNetWrite | platform::kNetClose)),
       kSend,
       10,
       kUntouched,
       {}},
      {"send: nothing recorded", roomAfterWouldBlock(Recorded(0)), kSend, 10, kUntouched, {}},
      {"send: the wait times out",
       [=](ScriptedSocketCalls& c) {
         c.sends = {wouldBlock};
         c.waits = {WaitOutcome::kTimedOut};
       },
       kSend,
       -1,
       net::ErrTimedOut(),
       {}},
      {"send-all stops at the first failed send",
       [](ScriptedSocketCalls& c) {
         c.sends = {3, 2, -32, 5};
       },
       kSendAll,
       5,
       32,
       {"create event", "send 10", "close event", "create event", "send 7", "close event",
        "create event", "send 5", "close event"}},
      {"connect selects first and takes the recorded error",
       [=](ScriptedSocketCalls& c) {
         c.connects = {wouldBlock};
         c.recorded = {refused};
       },
       kConnect,
       -1,
       111,
       {"create event", "select 16", "connect", "wait 500", "enumerate", "select 0",
        "close event"}},
      {"connect: nothing recorded after would-block",
       [=](ScriptedSocketCalls& c) { c.connects = {wouldBlock}; },
       kConnect,
       0,
       kUntouched,
       {}},
      {"connect succeeds at once",
       [](ScriptedSocketCalls& c) { c.connects = {0}; },
       kConnect,
       0,
       kUntouched,
       {"create event", "select 16", "connect", "select 0", "close event"}},
      {"connect fails at once",
       [](ScriptedSocketCalls& c) { c.connects = {-111}; },
       kConnect,
       -1,
       111,
       {"create event", "select 16", "connect", "select 0", "close event"}},
      {"graceful close drains passes of 256 bytes waiting 4000 ms each",
       [](ScriptedSocketCalls& c) {
         c.receives = {256, 100, 0};
         c.waits = {WaitOutcome::kSignalled, WaitOutcome::kTimedOut, WaitOutcome::kFailed};
       },
       kCloseGracefully,
       0,
       kUntouched,
       {"shutdown 1", "create event", "select 33", "wait 4000", "select 0", "receive 256",
        "select 33", "wait 4000", "select 0", "receive 256", "select 33", "wait 4000", "select 0",
        "receive 256", "close event", "shutdown 2", "close"}},
      {"graceful close without an event receives without waiting",
       [](ScriptedSocketCalls& c) {
         c.eventAvailable = false;
         c.receives = {-11};
       },
       kCloseGracefully,
       0,
       kUntouched,
       {"shutdown 1", "create event", "receive 256", "shutdown 2", "close"}},
      {"graceful close skips the wait when the socket cannot be selected",
       [](ScriptedSocketCalls& c) {
         c.selects = {-1};
         c.receives = {-9};
       },
       kCloseGracefully,
       0,
       kUntouched,
       {"shutdown 1", "create event", "select 33", "receive 256", "close event", "shutdown 2",
        "close"}},
      // Not connected: its connect failed or is still under way.
      {"graceful close of a socket that cannot stop sending closes at once",
       [](ScriptedSocketCalls& c) { c.shutdownResult = -1; },
       kCloseGracefully,
       0,
       kUntouched,
       {"shutdown 1", "close"}},
      {"immediate close only closes",
       [](ScriptedSocketCalls&) {},
       kCloseAtOnce,
       0,
       kUntouched,
       {"close"}},
      {"create closes the socket again when reuse cannot be set",
       [](ScriptedSocketCalls& c) { c.reuseResult = -1; },
       kCreate,
       -1,
       kSocketError,
       {"open", "reuse", "close"}},
  };
  for (const Case& c : cases) {
    ScriptedSocketCalls calls;
    calls.socketError = kSocketError;
    calls.systemError = 8;
    c.script(calls);
    const net::ScopedSocketCalls scope(calls);
    net::SetSocketLastError(kUntouched);
    const net::SocketHandle s = ScriptedSocketCalls::kSocket;
    char buffer[64];
    int result = 0;
    switch (c.operation) {
      case kReceive:
        result = net::SocketRecvTimed(s, buffer, sizeof buffer, 500);
        break;
      case kSend:
        result = net::SocketSendTimed(s, "0123456789", 10, 500);
        break;
      case kSendAll:
        result = net::SocketSendAll(s, "0123456789", 10, 500);
        break;
      case kConnect:
        result = net::SocketConnectTimed(s, "", 16, 500);
        break;
      case kCloseGracefully:
      case kCloseAtOnce:
        result = net::SocketClose(s, c.operation == kCloseAtOnce ? 1 : 0);
        break;
      case kCreate:
        result = net::SocketCreate(2, 1, 0) == net::kInvalidSocket ? -1 : 0;
        break;
    }
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(net::SocketLastError(), c.error) << c.name;
    if (!c.log.empty()) {
      EXPECT_EQ(calls.log, c.log) << c.name;
    }
  }
}

TEST(EventSocketSequence, NameThatDoesNotResolveStoresTheLastSocketError) {
  ScriptedSocketCalls calls;
  calls.socketError = kSocketError;
  const net::ScopedSocketCalls scope(calls);
  EXPECT_EQ(net::SocketConnectHost(ScriptedSocketCalls::kSocket, "nowhere.invalid", 80, 100, 1),
            -1);
  EXPECT_EQ(net::SocketLastError(), kSocketError);
  EXPECT_EQ(calls.log, Log{});
}

}  // namespace
