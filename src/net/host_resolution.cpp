// Name resolution: a dotted IPv4 text is taken as it is; a name is looked up,
// where the system allows on a resolver thread that the caller waits for.
#include <system_error>
#include <thread>

#include "net/event_socket.h"
#include "net/socket_library.h"

namespace net {

std::uint32_t ResolveHost(const char* host, int useResolverThread) {
  if (host == nullptr) return kInaddrNone;
  platform::SocketCalls& calls = CurrentSocketCalls();
  const std::uint32_t dotted = calls.ParseIpv4(host);
  if (dotted != kInaddrNone) return dotted;
  if (useResolverThread != 0 && calls.ResolverThreadAvailable()) {
    std::uint32_t found = kInaddrNone;
    try {
      // The text and `found` outlive the thread: it is joined before they go.
      std::thread resolver([&calls, host, &found] { found = calls.LookUpHost(host); });
      resolver.join();
      return found;
    } catch (const std::system_error&) {
      // No thread to be had: look the name up here instead.
    }
  }
  return calls.LookUpHost(host);
}

}  // namespace net
