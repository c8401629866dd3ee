// Texts between the system's ANSI code page, in which the portable code holds
// every path, and UTF-16, in which the system keeps them; and the reading of
// a system text whose length is not known in advance.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32/windows_api.h"

namespace platform::win32 {

// The UTF-16 form of an ANSI text.
std::wstring Widen(std::string_view text);
// The ANSI form of a UTF-16 text; nothing when a character has none in the
// code page (a path holding it could not be named through the A functions).
std::optional<std::string> Narrow(std::wstring_view text);

// The longest path the system knows, in UTF-16 units.
inline constexpr std::size_t kLongestPath = 32768;

// Calls `fill(buffer, size)`, a system call that copies a text into a buffer
// of `size` units and returns a length, with a buffer that grows until the
// text is whole. The calls disagree on how they report a text that did not
// fit (the buffer's size, the size needed, or, for some systems' conversions,
// one unit less than the buffer), so a result that reaches size - 1 is never
// taken for a whole text: the call is repeated with more room. Nothing when
// the call fails or the text is longer than any path.
template <class Fill>
std::optional<std::wstring> ReadWholeText(Fill fill) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;
    if (n + 1 < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    if (buffer.size() >= kLongestPath) return std::nullopt;
    buffer.resize(std::max<std::size_t>(buffer.size() * 2, static_cast<std::size_t>(n) + 2));
  }
}

}  // namespace platform::win32
