// Answering a proxy that asks for NTLM or Negotiate with the system's own
// security packages (Windows: SSPI), as one side of a token exchange. Tokens
// travel as the base64 text that the HTTP header lines carry.
#pragma once

#include <memory>
#include <string>

namespace platform {

enum class AuthStep {
  kContinue,  // send the token; the proxy answers with a challenge
  kDone,      // send the token; the proxy's next answer is final
  kFailed,
};

class AuthExchange {
 public:
  virtual ~AuthExchange() = default;
  // The next token: the first call gets an empty `challenge`, later ones the
  // proxy's challenge from its Proxy-Authenticate line.
  virtual AuthStep Next(const std::string& challenge, std::string& token) = 0;
};

// An exchange of `scheme` ("NTLM" or "Negotiate") with the proxy `server`,
// with the logged-on user's own credentials when `user` is empty, else with
// `user` ("DOMAIN\name" or "name") and `password`. Null where the system has
// no such package (POSIX) or it refuses the credentials.
std::unique_ptr<AuthExchange> StartAuthExchange(const std::string& scheme,
                                                const std::string& server, const std::string& user,
                                                const std::string& password);

}  // namespace platform
