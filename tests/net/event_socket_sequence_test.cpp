// The order of platform calls behind each timed operation, on a scripted
// platform: what is selected, how long each wait is, when the operation
// pauses, and which code is stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/event_socket.h"
#include "net/socket_library.h"
#include "support/scripted_socket_calls.h"

namespace {

using platform::NetworkEvents;
using platform::WaitOutcome;
using testsupport::ScriptedSocketCalls;
using Log = std::vector<std::string>;

constexpr std::int32_t kUntouched = 4242;
constexpr std::int32_t kSocketError = 77;

NetworkEvents Recorded(std::uint32_t bits) {
  NetworkEvents events;
  events.recorded = bits;
  return events;
}

class EventSocketSequence : public ::testing::Test {
 protected:
  void SetUp() override {
    net::SetSocketLastError(kUntouched);
    calls.socketError = kSocketError;
  }
  int Receive(std::uint32_t timeoutMs = 500) {
    char buffer[64];
    return net::SocketRecvTimed(ScriptedSocketCalls::kSocket, buffer, sizeof buffer, timeoutMs);
  }
  int Send(std::uint32_t timeoutMs = 500) {
    return net::SocketSendTimed(ScriptedSocketCalls::kSocket, "0123456789", 10, timeoutMs);
  }

  ScriptedSocketCalls calls;
  net::ScopedSocketCalls scope{calls};
  const int wouldBlock = -net::ErrWouldBlock();
};

TEST_F(EventSocketSequence, ReceiveAfterWouldBlockPausesAndWaitsAgainWithTheFullTimeOut) {
  calls.recorded = {Recorded(platform::kNetRead), Recorded(platform::kNetRead)};
  calls.receives = {wouldBlock, 7};
  EXPECT_EQ(Receive(500), 7);
  EXPECT_EQ(calls.log, (Log{"create event", "select 33", "wait 500", "enumerate", "select 0",
                            "receive 64", "pause 100", "select 33", "wait 500", "enumerate",
                            "select 0", "receive 64", "close event"}));
  EXPECT_EQ(net::SocketLastError(), kUntouched);
}

TEST_F(EventSocketSequence, ReceiveJudgesWhatTheWaitRecorded) {
  struct Case {
    const char* what;
    NetworkEvents events;
    int result;
  };
  NetworkEvents readWithError = Recorded(platform::kNetRead);
  readWithError.readError = 5;
  NetworkEvents bothWithErrors = Recorded(platform::kNetRead | platform::kNetClose);
  bothWithErrors.readError = 5;
  bothWithErrors.closeError = 6;
  NetworkEvents closeWithError = Recorded(platform::kNetClose);
  closeWithError.closeError = 6;
  const Case cases[] = {
      {"data", Recorded(platform::kNetRead), 3},
      {"only a close", Recorded(platform::kNetClose), -1},
      {"only a close, with its error", closeWithError, -1},
      {"data with an error", readWithError, -1},
      {"data and close together", Recorded(platform::kNetRead | platform::kNetClose), 3},
      {"data and close, both with errors", bothWithErrors, 3},
      {"nothing recorded", Recorded(0), 3},
  };
  for (const Case& c : cases) {
    calls.log.clear();
    calls.recorded = {c.events};
    calls.receives = {3};
    net::SetSocketLastError(kUntouched);
    EXPECT_EQ(Receive(), c.result) << c.what;
    EXPECT_EQ(net::SocketLastError(), c.result < 0 ? kSocketError : kUntouched) << c.what;
    EXPECT_EQ(calls.log.back(), "close event") << c.what;
  }
}

TEST_F(EventSocketSequence, WaitThatTimesOutStoresTimedOut) {
  calls.waits = {WaitOutcome::kTimedOut};
  EXPECT_EQ(Receive(0), -1);
  EXPECT_EQ(net::SocketLastError(), net::ErrTimedOut());
  EXPECT_EQ(calls.log, (Log{"create event", "select 33", "wait 0", "select 0", "close event"}));
}

TEST_F(EventSocketSequence, FailedWaitStoresTheLastSocketError) {
  calls.waits = {WaitOutcome::kFailed};
  EXPECT_EQ(Receive(), -1);
  EXPECT_EQ(net::SocketLastError(), kSocketError);
}

TEST_F(EventSocketSequence, FailedEnumerationStoresTheLastSocketError) {
  calls.enumerateResult = -1;
  EXPECT_EQ(Receive(), -1);
  EXPECT_EQ(net::SocketLastError(), kSocketError);
  EXPECT_EQ(calls.log,
            (Log{"create event", "select 33", "wait 500", "enumerate", "select 0", "close event"}));
}

TEST_F(EventSocketSequence, FailedSelectStoresTheLastSocketErrorAndNeedsNoDeselect) {
  calls.selects = {-1};
  EXPECT_EQ(Receive(), -1);
  EXPECT_EQ(net::SocketLastError(), kSocketError);
  EXPECT_EQ(calls.log, (Log{"create event", "select 33", "close event"}));
}

TEST_F(EventSocketSequence, EventThatCannotBeCreatedStoresTheSystemError) {
  calls.eventAvailable = false;
  calls.systemError = 8;
  EXPECT_EQ(Receive(), -1);
  EXPECT_EQ(net::SocketLastError(), 8);
  EXPECT_EQ(Send(), -1);
  EXPECT_EQ(net::SocketConnectTimed(ScriptedSocketCalls::kSocket, "", 16, 100), -1);
  EXPECT_EQ(calls.log, (Log{"create event", "create event", "create event"}));
}

TEST_F(EventSocketSequence, ReceiveErrorIsStored) {
  calls.receives = {-104};
  EXPECT_EQ(Receive(), -1);
  EXPECT_EQ(net::SocketLastError(), 104);
}

TEST_F(EventSocketSequence, SendGoesOutWithoutWaitingFirst) {
  calls.sends = {4};
  EXPECT_EQ(Send(), 4);
  EXPECT_EQ(calls.log, (Log{"create event", "send 10", "close event"}));
}

TEST_F(EventSocketSequence, SendAfterWouldBlockPausesThenWaitsForRoom) {
  calls.sends = {wouldBlock, wouldBlock, 10};
  calls.recorded = {Recorded(platform::kNetWrite), Recorded(platform::kNetWrite)};
  EXPECT_EQ(Send(300), 10);
  EXPECT_EQ(calls.log, (Log{"create event", "send 10", "pause 100", "select 34", "wait 300",
                            "enumerate", "select 0", "send 10", "pause 100", "select 34",
                            "wait 300", "enumerate", "select 0", "send 10", "close event"}));
}

TEST_F(EventSocketSequence, SendJudgesWhatTheWaitRecorded) {
  struct Case {
    const char* what;
    NetworkEvents events;
    int result;
  };
  NetworkEvents writeWithError = Recorded(platform::kNetWrite);
  writeWithError.writeError = 5;
  const Case cases[] = {
      {"room", Recorded(platform::kNetWrite), 10},
      {"only a close", Recorded(platform::kNetClose), -1},
      {"room with an error", writeWithError, -1},
      {"room and close together", Recorded(platform::kNetWrite | platform::kNetClose), 10},
      {"nothing recorded", Recorded(0), 10},
  };
  for (const Case& c : cases) {
    calls.sends = {wouldBlock, 10};
    calls.recorded = {c.events};
    net::SetSocketLastError(kUntouched);
    EXPECT_EQ(Send(), c.result) << c.what;
    EXPECT_EQ(net::SocketLastError(), c.result < 0 ? kSocketError : kUntouched) << c.what;
  }
}

TEST_F(EventSocketSequence, SendThatTimesOutStoresTimedOut) {
  calls.sends = {wouldBlock};
  calls.waits = {WaitOutcome::kTimedOut};
  EXPECT_EQ(Send(), -1);
  EXPECT_EQ(net::SocketLastError(), net::ErrTimedOut());
}

TEST_F(EventSocketSequence, SendAllStopsAtTheFirstFailedSend) {
  calls.sends = {3, 2, -32, 5};
  EXPECT_EQ(net::SocketSendAll(ScriptedSocketCalls::kSocket, "0123456789", 10, 100), 5);
  EXPECT_EQ(net::SocketLastError(), 32);
  EXPECT_EQ(calls.log, (Log{"create event", "send 10", "close event", "create event", "send 7",
                            "close event", "create event", "send 5", "close event"}));
}

TEST_F(EventSocketSequence, ConnectSelectsBeforeConnectingAndTakesTheRecordedError) {
  NetworkEvents refused;  // the bits themselves are not looked at
  refused.connectError = 111;
  calls.connects = {wouldBlock};
  calls.recorded = {refused};
  EXPECT_EQ(net::SocketConnectTimed(ScriptedSocketCalls::kSocket, "", 16, 900), -1);
  EXPECT_EQ(net::SocketLastError(), 111);
  EXPECT_EQ(calls.log, (Log{"create event", "select 16", "connect", "wait 900", "enumerate",
                            "select 0", "close event"}));

  calls.connects = {wouldBlock};
  calls.recorded = {Recorded(0)};
  EXPECT_EQ(net::SocketConnectTimed(ScriptedSocketCalls::kSocket, "", 16, 900), 0);
}

TEST_F(EventSocketSequence, ConnectThatSucceedsAtOnceOrFailsAtOnceDoesNotWait) {
  calls.connects = {0};
  EXPECT_EQ(net::SocketConnectTimed(ScriptedSocketCalls::kSocket, "", 16, 900), 0);
  calls.connects = {-111};
  EXPECT_EQ(net::SocketConnectTimed(ScriptedSocketCalls::kSocket, "", 16, 900), -1);
  EXPECT_EQ(net::SocketLastError(), 111);
  for (const std::string& entry : calls.log) EXPECT_NE(entry.rfind("wait", 0), 0u) << entry;
}

TEST_F(EventSocketSequence, GracefulCloseDrainsPassesOf256BytesWaiting4000MsEach) {
  calls.receives = {256, 100, 0};
  calls.waits = {WaitOutcome::kSignalled, WaitOutcome::kTimedOut, WaitOutcome::kFailed};
  EXPECT_EQ(net::SocketClose(ScriptedSocketCalls::kSocket, 0), 0);
  EXPECT_EQ(calls.log,
            (Log{"shutdown 1", "create event", "select 33", "wait 4000", "select 0", "receive 256",
                 "select 33", "wait 4000", "select 0", "receive 256", "select 33", "wait 4000",
                 "select 0", "receive 256", "close event", "shutdown 2", "close"}));
  EXPECT_EQ(net::SocketLastError(), kUntouched);
}

TEST_F(EventSocketSequence, GracefulCloseWithoutAnEventReceivesWithoutWaiting) {
  calls.eventAvailable = false;
  calls.receives = {-11};
  EXPECT_EQ(net::SocketClose(ScriptedSocketCalls::kSocket, 0), 0);
  EXPECT_EQ(calls.log, (Log{"shutdown 1", "create event", "receive 256", "shutdown 2", "close"}));
}

TEST_F(EventSocketSequence, GracefulCloseSkipsTheWaitWhenTheSocketCannotBeSelected) {
  calls.selects = {-1};
  calls.receives = {-9};
  EXPECT_EQ(net::SocketClose(ScriptedSocketCalls::kSocket, 0), 0);
  EXPECT_EQ(calls.log, (Log{"shutdown 1", "create event", "select 33", "receive 256", "close event",
                            "shutdown 2", "close"}));
  EXPECT_EQ(net::SocketLastError(), kUntouched);
}

TEST_F(EventSocketSequence, GracefulCloseOfASocketThatCannotStopSendingClosesAtOnce) {
  calls.shutdownResult = -1;  // not connected: its connect failed or is still under way
  EXPECT_EQ(net::SocketClose(ScriptedSocketCalls::kSocket, 0), 0);
  EXPECT_EQ(calls.log, (Log{"shutdown 1", "close"}));
  EXPECT_EQ(net::SocketLastError(), kUntouched);
}

TEST_F(EventSocketSequence, ImmediateCloseOnlyCloses) {
  EXPECT_EQ(net::SocketClose(ScriptedSocketCalls::kSocket, 1), 0);
  EXPECT_EQ(calls.log, (Log{"close"}));
}

TEST_F(EventSocketSequence, CreateClosesTheSocketAgainWhenReuseCannotBeSet) {
  calls.reuseResult = -1;
  EXPECT_EQ(net::SocketCreate(2, 1, 0), net::kInvalidSocket);
  EXPECT_EQ(net::SocketLastError(), kSocketError);
  EXPECT_EQ(calls.log, (Log{"open", "reuse", "close"}));
}

TEST_F(EventSocketSequence, NameThatDoesNotResolveStoresTheLastSocketError) {
  EXPECT_EQ(net::SocketConnectHost(ScriptedSocketCalls::kSocket, "nowhere.invalid", 80, 100, 1),
            -1);
  EXPECT_EQ(net::SocketLastError(), kSocketError);
  EXPECT_EQ(calls.log, Log{});
}

}  // namespace
