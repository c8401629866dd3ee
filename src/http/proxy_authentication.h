// What a proxy's 407 asks for, for the handshake that answers it with the
// system's own credentials (HttpDownloader::AnswerProxyChallenge): the
// schemes it offers in its Proxy-Authenticate lines and the challenge that
// comes with one of them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "http/response_header.h"

namespace http {

inline constexpr int kProxyAuthenticationRequired = 407;

// Of the schemes offered, the one the system can answer: "Negotiate" before
// "NTLM"; nothing when neither is offered. Offers are split by commas
// outside quotes, within a line and across lines; schemes match in any case.
std::optional<std::string> ChooseProxyAuthScheme(const ResponseFields& response);

// The text that follows `scheme` in its offer ("" when nothing follows);
// nothing when no offer names the scheme.
std::optional<std::string> ProxyChallenge(const ResponseFields& response, std::string_view scheme);

}  // namespace http
