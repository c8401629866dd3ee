// Name resolution: a dotted IPv4 text is taken as it is; a name is looked up,
// where the system allows on a resolver thread. The caller waits for that
// thread at most its time-out, and not at all once a stop is asked for: a
// look-up that never answers is abandoned, and the thread ends on its own.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "net/event_socket.h"
#include "net/socket_library.h"

namespace net {
namespace {

// Shared by the caller and the resolver thread, so whichever goes last frees it.
struct LookUp {
  std::string host;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::uint32_t address = kInaddrNone;
};

std::uint32_t AwaitLookUp(LookUp& lookUp, std::uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const bool forever = timeoutMs == kResolveWithoutLimit;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(lookUp.mutex);
  while (!lookUp.done) {
    const Clock::time_point now = Clock::now();
    if (StopRequested() || (!forever && now >= deadline)) return kInaddrNone;
    Clock::time_point until = now + std::chrono::milliseconds(kStopPollMs);
    if (!forever && deadline < until) until = deadline;
    lookUp.finished.wait_until(lock, until);
  }
  return lookUp.address;
}

}  // namespace

std::uint32_t ResolveHost(const char* host, int useResolverThread, std::uint32_t timeoutMs) {
  if (host == nullptr) return kInaddrNone;
  platform::SocketCalls& calls = CurrentSocketCalls();
  const std::uint32_t dotted = calls.ParseIpv4(host);
  if (dotted != kInaddrNone) return dotted;
  if (useResolverThread != 0 && calls.ResolverThreadAvailable()) {
    auto lookUp = std::make_shared<LookUp>();
    lookUp->host = host;
    try {
      std::thread([lookUp, &calls] {
        const std::uint32_t address = calls.LookUpHost(lookUp->host.c_str());
        const std::lock_guard<std::mutex> lock(lookUp->mutex);
        lookUp->address = address;
        lookUp->done = true;
        lookUp->finished.notify_all();
      }).detach();
      return AwaitLookUp(*lookUp, timeoutMs);
    } catch (const std::system_error&) {
      // No thread to be had: look the name up here instead.
    }
  }
  return calls.LookUpHost(host);
}

}  // namespace net
