#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::uint32_t LastSystemError() { return static_cast<std::uint32_t>(errno); }

std::string SystemErrorText(std::uint32_t code) {
  char text[256] = {};
  // The GNU strerror_r returns its text, which may or may not be `text`.
  const char* words = strerror_r(static_cast<int>(code), text, sizeof text);
  std::string out = std::to_string(code);
  if (words != nullptr && *words != '\0') out += std::string(" (") + words + ")";
  return out;
}

}  // namespace platform
