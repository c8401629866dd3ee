// CleanItemName on any stored name, in a single-byte code page and in GBK.
// The name tables of tests/archive pin the rules; here the cleaned name is
// the end of the stored one (up to a NUL) and passes the checks of
// item_name_checks.h.
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
    FUZZ_CHECK(stored.ends_with(cleaned) && archive::CleanItemName(raw, codePage) == cleaned);
    fuzz::CheckCleanedName(cleaned, codePage);
  }
  return 0;
}
