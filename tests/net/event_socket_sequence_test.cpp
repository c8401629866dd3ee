// The order of platform calls behind each timed operation, on a scripted
// platform: what is selected, how long each wait is, when the operation
// pauses, which result comes back and which code is stored.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "net/event_socket.h"
#include "net/host_connection.h"
#include "net/socket_library.h"
#include "support/scripted_socket_calls.h"
#include "support/table_names.h"
#include "support/table_rows.h"

namespace {

using Wait = platform::WaitOutcome;

constexpr std::int32_t kUntouched = 4242;
constexpr platform::SocketHandle kSocket = testsupport::ScriptedSocketCalls::kSocket;
char buffer[64];

// The numbers of a field; "block", "timed-out" and "not-supported" are the
// system's codes.
std::vector<int> Numbers(const std::string &field) {
  std::vector<int> values;
  std::istringstream words(field);
  for (std::string w; words >> w;) {
    values.push_back(w == "block"           ? -net::ErrWouldBlock()
                     : w == "timed-out"     ? net::ErrTimedOut()
                     : w == "not-supported" ? net::ErrVersionNotSupported()
                                            : std::stoi(w));
  }
  return values;
}

// event_socket_calls.rows: one operation per row and every platform call it
// makes.
TEST(EventSocketSequence, CallsOfEachOperation) {
  const std::map<std::string, int (*)()> operations = {
      {"receive", [] { return net::SocketRecvTimed(kSocket, buffer, sizeof buffer, 500); }},
      {"send", [] { return net::SocketSendTimed(kSocket, "0123456789", 10, 500); }},
      {"send-all", [] { return net::SocketSendAll(kSocket, "0123456789", 10, 500); }},
      {"connect", [] { return net::SocketConnectTimed(kSocket, "", 16, 900); }},
      {"connect-host",
       [] { return net::SocketConnectHost(kSocket, "nowhere.invalid", 80, 100, 1); }},
      {"race",
       [] {
         const net::SocketHandle s = net::SocketConnectAddresses("three.test", 80, 900, 1);
         return s == net::kInvalidSocket ? -1 : 0;
       }},
      {"close", [] { return net::SocketClose(kSocket, 0); }},
      {"close-at-once", [] { return net::SocketClose(kSocket, 1); }},
      {"create", [] { return net::SocketCreate(2, 1, 0) == net::kInvalidSocket ? -1 : 0; }},
      {"startup", [] { return net::SocketStartup(); }},
      {"cleanup", [] { return net::SocketCleanup(); }}};
  const std::map<std::string, Wait> waits = {
      {"signalled", Wait::kSignalled}, {"timed-out", Wait::kTimedOut}, {"failed", Wait::kFailed}};
  for (const testsupport::Row &row : testsupport::TableRows(
#include "event_socket_calls.rows"
           )) {
    ASSERT_EQ(row.size(), 9u) << row[0];
    SCOPED_TRACE(row[0]);
    testsupport::ScriptedSocketCalls calls;
    calls.socketError = 77;
    const std::vector<int> results = Numbers(row[2]);
    calls.receives.assign(results.begin(), results.end());
    calls.sends = calls.connects = calls.receives;
    if (row[1] == "startup") {
      calls.startResult = results.at(0);
      calls.grantVersion = static_cast<std::uint16_t>(results.at(1));
    }
    // Each wait's enumerations, one group per socket, split by ",".
    calls.recorded.clear();
    for (std::size_t at = 0; at != std::string::npos;) {
      const std::size_t comma = row[3].find(',', at);
      std::vector<int> e = Numbers(row[3].substr(at, comma - at));
      e.resize(5);
      calls.recorded.push_back({static_cast<std::uint32_t>(e[0]), e[1], e[2], e[3], e[4]});
      at = comma == std::string::npos ? comma : comma + 1;
    }
    if (row[1] == "race" && row[5] != "no-names") {
      calls.addresses = {testsupport::Ipv6Loopback(), testsupport::Ipv4Address(127, 0, 0, 2),
                         testsupport::Ipv4Address(127, 0, 0, 1)};
    }
    std::istringstream outcomes(row[4]);
    for (std::string w; outcomes >> w;) calls.waits.push_back(waits.at(w));
    const std::string &fault = row[5];
    calls.eventAvailable = fault != "no-event";
    calls.systemError = fault == "no-event" ? 8 : 0;
    calls.enumerateResult = fault == "enumerate" ? -1 : 0;
    if (fault == "select") calls.selects = {-1};
    calls.shutdownResult = fault == "shutdown" ? -1 : 0;
    calls.reuseResult = fault == "reuse" ? -1 : 0;
    const net::ScopedSocketCalls scope(calls);
    const std::atomic<int> stop{1};
    std::optional<net::ScopedStopFlag> stopped;
    if (fault == "stopped") stopped.emplace(stop);
    net::SetSocketLastError(kUntouched);
    EXPECT_EQ(operations.at(row[1])(), std::stoi(row[6]));
    EXPECT_EQ(net::SocketLastError(), row[7] == "-" ? kUntouched : Numbers(row[7])[0]);
    EXPECT_EQ(calls.log, testsupport::Bytes(row[8]));
  }
}

}  // namespace
