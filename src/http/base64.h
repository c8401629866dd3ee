// Standard base64 (RFC 4648 alphabet, "=" padding), used for the Basic
// credentials of the Authorization and Proxy-Authorization headers.
#pragma once

#include <string>

namespace http {

// Writes the encoding of `text` to `out` and returns its length (0 for an
// empty text). The length is always a multiple of 4.
int Base64Encode(const std::string& text, std::string& out);

}  // namespace http
