#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

using platform::CodePage;
using platform::kNotFound;

// In GBK 0x95 0x5C is one character whose second byte equals a backslash.
TEST(GbkTextSearch, LastSeparatorIsNeverATrailByte) {
  struct Case {
    const char* path;
    std::size_t gbk;
  };
  const Case cases[] = {
      {"C:\\dir\\\x95\\updater.exe", 6},  // 0x95 0x5C is one character
      {"C:\\\x95\\\\u", 5},               // the backslash after it is real
      {"\x95\\", kNotFound},
      {"C:/a\\b/c", 6},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::FindLastOf(CodePage::kGbk, c.path, "\\/"), c.gbk) << c.path;
  }
  EXPECT_EQ(platform::FindLastOf(CodePage::kSingleByteOrUtf8, "\x95\\", "\\/"), 1u);
}

TEST(RemoveAll, RemovesEveryOccurrenceLeftToRight) {
  EXPECT_EQ(platform::RemoveAll("\"p\" a\"p\" b", "\"p\" "), "ab");
  EXPECT_EQ(platform::RemoveAll("aaa", "aa"), "a");
  EXPECT_EQ(platform::RemoveAll("abc", ""), "abc");
}

}  // namespace
