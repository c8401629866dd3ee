// CleanItemName on any stored name, in a single-byte code page and in GBK.
// Checks: the cleaned name is the end of the stored one (up to a NUL); it
// passes the checks of item_name_checks.h; and cleaning it again changes
// nothing, since the rules run until none applies.
#include <cstdint>
#include <string_view>

#include "archive/item_name.h"
#include "fuzz_support.h"
#include "item_name_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The facade describes only names below 260 bytes; much longer inputs
  // would spend the time in the searches over the rest.
  if (size > 1024) return 0;
  const std::string_view raw = fuzz::AsText(data, size);
  const std::string_view stored = raw.substr(0, raw.find('\0'));
  for (const platform::CodePage codePage :
       {platform::CodePage::kSingleByteOrUtf8, platform::CodePage::kGbk}) {
    const std::string_view cleaned = archive::CleanItemName(stored, codePage);
    FUZZ_CHECK(cleaned.size() <= stored.size());
    FUZZ_CHECK(stored.substr(stored.size() - cleaned.size()) == cleaned);
    fuzz::CheckCleanedName(cleaned, codePage);
    FUZZ_CHECK(archive::CleanItemName(cleaned, codePage) == cleaned);
    // A NUL ends the stored name.
    FUZZ_CHECK(archive::CleanItemName(raw, codePage) == cleaned);
  }
  return 0;
}
