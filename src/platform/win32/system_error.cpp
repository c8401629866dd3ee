#include "platform/system_error.h"

#include "platform/win32/windows_api.h"

namespace platform {

std::uint32_t LastSystemError() { return GetLastError(); }

std::string SystemErrorText(std::uint32_t code) {
  char text[512] = {};
  // In the system's language and the code page of every other text of the log.
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  std::string out = std::to_string(code);
  if (length > 0) out += " (" + std::string(text, length) + ")";
  return out;
}

}  // namespace platform
