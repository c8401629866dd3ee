#include "platform/win32/wide_text.h"

namespace platform::win32 {

std::wstring Widen(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), n);
  return wide;
}

std::optional<std::string> Narrow(std::wstring_view text) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  BOOL lossy = FALSE;
  // A UTF-8 code page has a form for every character and refuses the question.
  BOOL* const ask = GetACP() == CP_UTF8 ? nullptr : &lossy;
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, ask);
  if (n <= 0 || lossy) return std::nullopt;
  std::string narrow(static_cast<std::size_t>(n), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, text.data(), size, narrow.data(), n, nullptr, ask) != n ||
      lossy) {
    return std::nullopt;
  }
  return narrow;
}

}  // namespace platform::win32
