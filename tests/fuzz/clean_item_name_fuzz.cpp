// CleanItemName on any stored name, in a single-byte code page and in GBK.
// The name tables of tests/archive pin the rules; here the cleaned name is
// the end of the stored one (up to a NUL), and extracting it below a target
// directory never reaches outside that directory:
// - it does not begin with a separator (a rooted path) or with a byte
//   followed by ":" (a drive prefix; both count as absolute to the facade);
// - walked segment by segment, with "/" and "\" as separators wherever a
//   character starts (a double-byte character's second byte is no separator),
//   a ".." segment never climbs above the start. "." and empty segments stay;
//   "..." and ".. " are plain names on every system the updater runs on.
#include <cstdint>
#include <string_view>

#include "archive/item_name.h"
#include "fuzz_support.h"
#include "platform/text.h"

namespace {

void CheckCleanedName(std::string_view name, platform::CodePage codePage) {
  FUZZ_CHECK(!name.starts_with('/') && !name.starts_with('\\'));
  FUZZ_CHECK(!(name.size() >= 2 && name[1] == ':'));
  int depth = 0;
  // The end of the name closes the last segment as a separator would.
  for (std::size_t i = 0, start = 0; i <= name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(i < name.size() ? name[i] : '/');
    if (platform::IsLeadByte(codePage, byte) && i + 1 < name.size()) {
      ++i;
    } else if (byte == '/' || byte == '\\') {
      const std::string_view part = name.substr(start, i - start);
      depth += part == ".." ? -1 : (part.empty() || part == "." ? 0 : 1);
      FUZZ_CHECK(depth >= 0);
      start = i + 1;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The facade describes only names below 260 bytes; much longer inputs
  // would spend the time in the searches over the rest.
  if (size > 1024) return 0;
  const std::string_view raw = fuzz::AsText(data, size);
  const std::string_view stored = raw.substr(0, raw.find('\0'));
  for (const platform::CodePage codePage :
       {platform::CodePage::kSingleByteOrUtf8, platform::CodePage::kGbk}) {
    const std::string_view cleaned = archive::CleanItemName(stored, codePage);
    FUZZ_CHECK(stored.ends_with(cleaned) && archive::CleanItemName(raw, codePage) == cleaned);
    CheckCleanedName(cleaned, codePage);
  }
  return 0;
}
