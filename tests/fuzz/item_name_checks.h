// What a cleaned item name must be, so that extracting it below a target
// directory never reaches outside that directory:
// - it does not begin with a separator (a rooted path) or with a byte
//   followed by ":" (a drive prefix; both count as absolute to the facade);
// - walked segment by segment, with "/" and "\" as separators wherever a
//   character starts (a double-byte character's second byte is no separator),
//   a ".." segment never climbs above the start. "." and empty segments stay;
//   "..." and ".. " are plain names on every system the updater runs on.
#pragma once

#include <string_view>

#include "fuzz_support.h"
#include "platform/text.h"

namespace fuzz {

inline void CheckCleanedName(std::string_view name, platform::CodePage codePage) {
  FUZZ_CHECK(!name.starts_with('/') && !name.starts_with('\\'));
  FUZZ_CHECK(!(name.size() >= 2 && name[1] == ':'));
  int depth = 0;
  std::size_t start = 0;
  const auto segment = [&](std::size_t end) {
    const std::string_view part = name.substr(start, end - start);
    if (part == "..") {
      --depth;
      FUZZ_CHECK(depth >= 0);
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
  };
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (platform::IsLeadByte(codePage, byte) && i + 1 < name.size()) {
      ++i;
    } else if (byte == '/' || byte == '\\') {
      segment(i);
      start = i + 1;
    }
  }
  segment(name.size());
}

}  // namespace fuzz
