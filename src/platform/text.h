// Text in the active 8-bit code page. Every search that looks for an ASCII
// text or separator steps over whole characters, so the second byte of a GBK
// double-byte character (which may be 0x5C, a backslash) never matches.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

enum class CodePage {
  kSingleByteOrUtf8,  // byte search is already safe
  kGbk,               // lead bytes 0x81..0xFE start a double-byte character
};

CodePage ActiveCodePage();

bool IsLeadByte(CodePage codePage, unsigned char byte);

inline constexpr std::size_t kNotFound = std::string_view::npos;

// First occurrence of `needle` in `text` at or after byte `from` that starts on
// a character boundary; kNotFound when there is none.
std::size_t FindText(std::string_view text, std::string_view needle, std::size_t from = 0);
std::size_t FindText(CodePage codePage, std::string_view text, std::string_view needle,
                     std::size_t from = 0);

// Last character boundary at which one of the bytes in `chars` stands.
std::size_t FindLastOf(std::string_view text, std::string_view chars);
std::size_t FindLastOf(CodePage codePage, std::string_view text, std::string_view chars);

// Every occurrence of `needle` removed (non-overlapping, left to right).
std::string RemoveAll(std::string_view text, std::string_view needle);

}  // namespace platform
