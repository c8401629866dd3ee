#include "archive/item_name.h"

#include <array>

#include "archive/zip_format.h"

namespace archive {
namespace {

// The dir-up sequences in the order in which they are searched; an earlier
// sequence found anywhere wins over a later one found sooner.
constexpr std::array<std::string_view, 4> kDirUps = {"\\..\\", "\\../", "/../", "/..\\"};

// `rest` without its leading separators and "./" or ".\" segments.
std::string_view AfterDotSegments(std::string_view rest) {
  for (;;) {
    if (!rest.empty() && IsSeparator(rest[0])) {
      rest.remove_prefix(1);
    } else if (rest.size() >= 2 && rest[0] == '.' && IsSeparator(rest[1])) {
      rest.remove_prefix(2);
    } else {
      return rest;
    }
  }
}

// The number of bytes the first rule that applies to `rest` skips, or 0.
std::size_t SkipOnce(std::string_view rest, platform::CodePage codePage) {
  if (rest.size() >= 2 && rest[1] == ':') return 2;  // drive prefix
  if (!rest.empty() && IsSeparator(rest[0])) return 1;
  for (const std::string_view dirUp : kDirUps) {
    const std::size_t at = platform::FindText(codePage, rest, dirUp);
    if (at != platform::kNotFound) return at + dirUp.size();
  }
  // A leading dir-up segment would climb above the target as well.
  if (rest.size() >= 3 && rest[0] == '.' && rest[1] == '.' && IsSeparator(rest[2])) return 3;
  if (rest == "..") return 2;
  // So does a ".." behind nothing but "." segments ("./..", ".//..").
  if (AfterDotSegments(rest) == "..") return rest.size();
  return 0;
}

}  // namespace

std::string_view CleanItemName(std::string_view name, platform::CodePage codePage) {
  // A NUL ends the text even when the stored name goes on.
  name = name.substr(0, name.find('\0'));
  while (const std::size_t skip = SkipOnce(name, codePage)) name.remove_prefix(skip);
  return name;
}

std::string_view CleanItemName(std::string_view name) {
  return CleanItemName(name, platform::ActiveCodePage());
}

}  // namespace archive
