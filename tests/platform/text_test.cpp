#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

using platform::CodePage;
using platform::kNotFound;

// In GBK 0x95 0x5C is one character whose second byte equals a backslash, and
// 0x81 'h' is one character whose second byte equals the letter h.
TEST(GbkTextSearch, StepsOverWholeCharacters) {
  struct Case {
    const char* text;
    const char* needle;
    std::size_t gbk;
    std::size_t bytes;  // what a plain byte search finds
  };
  const Case cases[] = {
      {"\x95\x5c", "\\", kNotFound, 1},
      {"a\x95\x5c\\b", "\\", 3, 2},
      {"\xd6\xd0http://x", "http", 2, 2},  // "http" right after a double-byte character
      {"\x81http", "http", kNotFound, 1},  // the h is the trail byte
      {"\x81hhttp", "http", 2, 2},
      {"abc\x81", "\x81", 3, 3},  // a lead byte at the end stands alone
      {"", "http", kNotFound, kNotFound},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::FindText(CodePage::kGbk, c.text, c.needle), c.gbk) << c.text;
    EXPECT_EQ(platform::FindText(CodePage::kSingleByteOrUtf8, c.text, c.needle), c.bytes) << c.text;
  }
}

TEST(GbkTextSearch, LastSeparatorIsNeverATrailByte) {
  struct Case {
    const char* path;
    std::size_t gbk;
  };
  const Case cases[] = {
      {"C:\\dir\\\x95\\updater.exe", 6},  // 0x95 0x5C is one character
      {"C:\\\x95\\\\u", 5},               // the backslash after it is real
      {"C:\\\x95\\", 2},
      {"\x95\\", kNotFound},
      {"C:/a\\b/c", 6},
      {"noseparator", kNotFound},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::FindLastOf(CodePage::kGbk, c.path, "\\/"), c.gbk) << c.path;
  }
  EXPECT_EQ(platform::FindLastOf(CodePage::kSingleByteOrUtf8, "\x95\\", "\\/"), 1u);
}

TEST(FindText, HonoursTheStartOffset) {
  EXPECT_EQ(platform::FindText(CodePage::kGbk, "http http", "http", 1), 5u);
  EXPECT_EQ(platform::FindText(CodePage::kGbk, "http", "http", 5), kNotFound);
}

TEST(RemoveAll, RemovesEveryOccurrenceLeftToRight) {
  EXPECT_EQ(platform::RemoveAll("\"p\" a\"p\" b", "\"p\" "), "ab");
  EXPECT_EQ(platform::RemoveAll("aaa", "aa"), "a");
  EXPECT_EQ(platform::RemoveAll("abc", ""), "abc");
}

}  // namespace
