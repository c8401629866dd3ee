// The order of platform calls behind each timed operation, on a scripted
// platform: what is selected, how long each wait is, when the operation
// pauses, which result comes back and which code is stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/event_socket.h"
#include "net/socket_library.h"
#include "support/scripted_socket_calls.h"

namespace {

using platform::kNetClose;
using platform::kNetRead;
using platform::kNetWrite;
using platform::NetworkEvents;
using Calls = testsupport::ScriptedSocketCalls;
using Wait = platform::WaitOutcome;

constexpr std::int32_t kUntouched = 4242;
constexpr std::int32_t kSocketError = 77;
constexpr platform::SocketHandle kSocket = Calls::kSocket;
char buffer[64];

int Receive() { return net::SocketRecvTimed(kSocket, buffer, sizeof buffer, 500); }
int Send() { return net::SocketSendTimed(kSocket, "0123456789", 10, 500); }
int SendAll() { return net::SocketSendAll(kSocket, "0123456789", 10, 500); }
int Connect() { return net::SocketConnectTimed(kSocket, "", 16, 900); }
int ConnectHost() { return net::SocketConnectHost(kSocket, "nowhere.invalid", 80, 100, 1); }
int Close() { return net::SocketClose(kSocket, 0); }
int CloseAtOnce() { return net::SocketClose(kSocket, 1); }
int Create() { return net::SocketCreate(2, 1, 0) == net::kInvalidSocket ? -1 : 0; }

// Each row scripts the platform - the results of the operation's own call
// (receives, sends or connects), what the first wait records, the wait
// outcomes, anything else - runs one operation and names its result, the code
// stored (kUntouched: none) and every platform call in order.
TEST(EventSocketSequence, CallsOfEachOperation) {
  struct Case {
    const char* name;
    int (*operation)();
    std::vector<int> results;
    NetworkEvents recorded;
    std::vector<Wait> waits;
    void (*script)(Calls&);
    int result;
    std::int32_t error;
    std::string log;
  };
  const int block = -net::ErrWouldBlock();
  const auto noEvent = [](Calls& c) { c.eventAvailable = false, c.systemError = 8; };
  // One wait for a receive (mask 33) or a send (34): selected, awaited, fetched, deselected.
  const std::string r = "select 33|wait 500|enumerate|select 0|";
  const std::string s = "select 34|wait 500|enumerate|select 0|";
  const std::string recvOk = "create event|" + r + "receive 64|close event";
  const std::string recvFailed = "create event|" + r + "close event";
  const std::string sendOk = "create event|send 10|pause 100|" + s + "send 10|close event";
  const std::string sendFailed = "create event|send 10|pause 100|" + s + "close event";
  const std::string connect = "create event|select 16|connect|";
  const std::string drain = "select 33|wait 4000|select 0|receive 256|";
  // clang-format off
  const Case cases[] = {
      // What a receive's wait recorded: only a close, or data with an error of its own, fail.
      {"receive: data", Receive, {3}, {kNetRead}, {}, nullptr, 3, kUntouched, recvOk},
      {"receive: close", Receive, {3}, {kNetClose}, {}, nullptr, -1, kSocketError, recvFailed},
      {"receive: close with its error", Receive, {3}, {kNetClose, 0, 0, 0, 6}, {}, nullptr, -1,
       kSocketError, recvFailed},
      {"receive: data, error", Receive, {3}, {kNetRead, 5}, {}, nullptr, -1, kSocketError,
       recvFailed},
      {"receive: data, close", Receive, {3}, {kNetRead | kNetClose}, {}, nullptr, 3, kUntouched,
       recvOk},
      {"receive: data, close, both with errors", Receive, {3}, {kNetRead | kNetClose, 5, 0, 0, 6},
       {}, nullptr, 3, kUntouched, recvOk},
      {"receive: nothing recorded", Receive, {3}, {}, {}, nullptr, 3, kUntouched, recvOk},
      // After a would-block the receive pauses and waits again with the full time-out.
      {"receive: would block", Receive, {block, 7}, {}, {}, nullptr, 7, kUntouched,
       "create event|" + r + "receive 64|pause 100|" + r + "receive 64|close event"},
      {"receive: error", Receive, {-104}, {}, {}, nullptr, -1, 104, recvOk},
      {"receive: times out", Receive, {}, {}, {Wait::kTimedOut}, nullptr, -1, net::ErrTimedOut(),
       "create event|select 33|wait 500|select 0|close event"},
      {"receive: wait fails", Receive, {}, {}, {Wait::kFailed}, nullptr, -1, kSocketError,
       "create event|select 33|wait 500|select 0|close event"},
      {"receive: enumeration fails", Receive, {}, {}, {}, [](Calls& c) { c.enumerateResult = -1; },
       -1, kSocketError, recvFailed},
      // A select that failed needs no deselect.
      {"receive: select fails", Receive, {}, {}, {}, [](Calls& c) { c.selects = {-1}; }, -1,
       kSocketError, "create event|select 33|close event"},
      // Without its event an operation stores the system's error and calls nothing else.
      {"receive: no event", Receive, {}, {}, {}, noEvent, -1, 8, "create event"},
      {"send: no event", Send, {}, {}, {}, noEvent, -1, 8, "create event"},
      {"connect: no event", Connect, {}, {}, {}, noEvent, -1, 8, "create event"},
      // A send goes out without waiting first; it waits for room only after a would-block.
      {"send: at once", Send, {4}, {}, {}, nullptr, 4, kUntouched,
       "create event|send 10|close event"},
      {"send: room", Send, {block, 10}, {kNetWrite}, {}, nullptr, 10, kUntouched, sendOk},
      {"send: close", Send, {block, 10}, {kNetClose}, {}, nullptr, -1, kSocketError, sendFailed},
      {"send: room, error", Send, {block, 10}, {kNetWrite, 0, 5}, {}, nullptr, -1, kSocketError,
       sendFailed},
      {"send: room, close", Send, {block, 10}, {kNetWrite | kNetClose}, {}, nullptr, 10, kUntouched,
       sendOk},
      {"send: nothing recorded", Send, {block, 10}, {}, {}, nullptr, 10, kUntouched, sendOk},
      {"send: would block twice", Send, {block, block, 10}, {}, {}, nullptr, 10, kUntouched,
       "create event|send 10|pause 100|" + s + "send 10|pause 100|" + s + "send 10|close event"},
      {"send: times out", Send, {block}, {}, {Wait::kTimedOut}, nullptr, -1, net::ErrTimedOut(),
       "create event|send 10|pause 100|select 34|wait 500|select 0|close event"},
      // SendAll sends the rest until one send fails: the total so far, that send's code.
      {"send all: third send fails", SendAll, {3, 2, -32, 5}, {}, {}, nullptr, 5, 32,
       "create event|send 10|close event|create event|send 7|close event|"
       "create event|send 5|close event"},
      // A connect selects before connecting and takes the error the wait recorded.
      {"connect: refused after a wait", Connect, {block}, {0, 0, 0, 111}, {}, nullptr, -1, 111,
       connect + "wait 900|enumerate|select 0|close event"},
      {"connect: after a wait", Connect, {block}, {}, {}, nullptr, 0, kUntouched,
       connect + "wait 900|enumerate|select 0|close event"},
      {"connect: at once", Connect, {0}, {}, {}, nullptr, 0, kUntouched,
       connect + "select 0|close event"},
      {"connect: fails at once", Connect, {-111}, {}, {}, nullptr, -1, 111,
       connect + "select 0|close event"},
      {"connect: name does not resolve", ConnectHost, {}, {}, {}, nullptr, -1, kSocketError, ""},
      // A graceful close drains passes of 256 bytes waiting 4000 ms each until one gets nothing.
      {"close: drains", Close, {256, 100, 0}, {},
       {Wait::kSignalled, Wait::kTimedOut, Wait::kFailed}, nullptr, 0, kUntouched,
       "shutdown 1|create event|" + drain + drain + drain + "close event|shutdown 2|close"},
      {"close: no event", Close, {-11}, {}, {}, [](Calls& c) { c.eventAvailable = false; }, 0,
       kUntouched, "shutdown 1|create event|receive 256|shutdown 2|close"},
      {"close: select fails", Close, {-9}, {}, {}, [](Calls& c) { c.selects = {-1}; }, 0,
       kUntouched, "shutdown 1|create event|select 33|receive 256|close event|shutdown 2|close"},
      // Not connected (its connect failed or is under way): nothing to drain.
      {"close: cannot stop sending", Close, {}, {}, {}, [](Calls& c) { c.shutdownResult = -1; }, 0,
       kUntouched, "shutdown 1|close"},
      {"close at once", CloseAtOnce, {}, {}, {}, nullptr, 0, kUntouched, "close"},
      {"create: reuse cannot be set", Create, {}, {}, {}, [](Calls& c) { c.reuseResult = -1; }, -1,
       kSocketError, "open|reuse|close"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Calls calls;
    calls.socketError = kSocketError;
    calls.receives.assign(c.results.begin(), c.results.end());
    calls.sends = calls.connects = calls.receives;
    calls.recorded = {c.recorded};
    calls.waits.assign(c.waits.begin(), c.waits.end());
    if (c.script) c.script(calls);
    const net::ScopedSocketCalls scope(calls);
    net::SetSocketLastError(kUntouched);
    EXPECT_EQ(c.operation(), c.result);
    EXPECT_EQ(net::SocketLastError(), c.error);
    EXPECT_EQ(calls.log, c.log);
  }
}

}  // namespace
