#include "archive/item_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::CodePage;

struct NameCase {
  std::string stored;
  std::string cleaned;
};

class CleanItemNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(CleanItemNameTest, KeepsOnlyWhatStaysBelowTheTarget) {
  EXPECT_EQ(archive::CleanItemName(GetParam().stored, CodePage::kSingleByteOrUtf8),
            GetParam().cleaned);
}

INSTANTIATE_TEST_SUITE_P(
    Names, CleanItemNameTest,
    testing::Values(
        // Drive prefixes, leading separators and inner dir-up sequences.
        NameCase{"C:\\dir\\..\\x.txt", "x.txt"}, NameCase{"a/b/../c/d.txt", "c/d.txt"},
        NameCase{"/top/file.txt", "top/file.txt"},
        NameCase{"\\\\server\\share\\f.txt", "server\\share\\f.txt"},
        NameCase{"dir/sub/", "dir/sub/"}, NameCase{"x/..\\../y", "y"}, NameCase{"C:D:/e", "e"},
        NameCase{"plain.txt", "plain.txt"}, NameCase{"a..b/..c/x..", "a..b/..c/x.."},
        // Leading dir-up segments, also those that the inner rules leave.
        NameCase{"../x", "x"}, NameCase{"..\\x", "x"}, NameCase{"../../x", "x"},
        NameCase{"a/../../x", "x"}, NameCase{"C:..\\x", "x"}, NameCase{"/../x", "x"},
        NameCase{"..", ""}, NameCase{"../", ""}, NameCase{"...", "..."}, NameCase{"..x/y", "..x/y"},
        // The stored name ends at a NUL.
        NameCase{std::string("a.txt\0/../../b", 14), "a.txt"}));

TEST(CleanItemNameGbk, DirUpAfterATrailByteOfBackslashIsNoSequence) {
  // 0x81 0x5C is one GBK character; the "\.." that a byte search would find
  // in it does not exist, so only the later "/../" counts.
  const std::string stored = "a\x81\\../b/../c";
  EXPECT_EQ(archive::CleanItemName(stored, CodePage::kGbk), "c");
  EXPECT_EQ(archive::CleanItemName("\x81\\..\\x", CodePage::kGbk), "\x81\\..\\x");
  EXPECT_EQ(archive::CleanItemName("\x81\\..\\x", CodePage::kSingleByteOrUtf8), "x");
}

}  // namespace
