// Windows has no TLS engine in this build yet: every session fails to start,
// so an https address ends as a failed download, never as a plain one.
#include "platform/tls_session.h"

namespace platform {

std::unique_ptr<TlsSession> CreateTlsSession(const std::string&, const TlsTrust&) {
  return nullptr;
}

}  // namespace platform
