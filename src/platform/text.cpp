#include "platform/text.h"

namespace platform {

bool IsLeadByte(CodePage codePage, unsigned char byte) {
  return codePage == CodePage::kGbk && byte >= 0x81 && byte <= 0xFE;
}

std::size_t FindText(CodePage codePage, std::string_view text, std::string_view needle,
                     std::size_t from) {
  if (needle.empty()) return from <= text.size() ? from : kNotFound;
  std::size_t i = 0;
  while (i < text.size()) {
    if (i >= from && text.size() - i >= needle.size() &&
        text.compare(i, needle.size(), needle) == 0) {
      return i;
    }
    // A lead byte and its trail byte form one character; a lead byte at the
    // very end stands alone.
    i += (IsLeadByte(codePage, static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
  }
  return kNotFound;
}

std::size_t FindText(std::string_view text, std::string_view needle, std::size_t from) {
  return FindText(ActiveCodePage(), text, needle, from);
}

std::size_t FindLastOf(CodePage codePage, std::string_view text, std::string_view chars) {
  std::size_t found = kNotFound;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (IsLeadByte(codePage, byte) && i + 1 < text.size()) {
      i += 2;
      continue;
    }
    if (chars.find(static_cast<char>(byte)) != std::string_view::npos) found = i;
    ++i;
  }
  return found;
}

std::size_t FindLastOf(std::string_view text, std::string_view chars) {
  return FindLastOf(ActiveCodePage(), text, chars);
}

std::string RemoveAll(std::string_view text, std::string_view needle) {
  std::string out;
  if (needle.empty()) return std::string(text);
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = FindText(text, needle, pos);
    if (hit == kNotFound) break;
    out.append(text.substr(pos, hit - pos));
    pos = hit + needle.size();
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace platform
