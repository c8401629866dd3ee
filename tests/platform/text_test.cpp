#include "platform/text.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "platform/socket_calls.h"

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

// A connection's address as the log shows it: an IPv6 address with its
// longest run of two or more zero groups (the first of equal ones) as "::".
TEST(SocketAddressText, WritesIpv4DottedAndIpv6WithItsLongestZeroRunShortened) {
  const auto v6 = [](std::initializer_list<unsigned> groups) {
    platform::IpAddress address{true, {}};
    std::size_t i = 0;
    for (const unsigned group : groups) {
      address.bytes[i++] = static_cast<std::uint8_t>(group >> 8);
      address.bytes[i++] = static_cast<std::uint8_t>(group & 0xFF);
    }
    return address;
  };
  const struct {
    platform::IpAddress address;
    const char* text;
  } cases[] = {
      {{false, {127, 0, 0, 1}}, "127.0.0.1:443"},
      {v6({0, 0, 0, 0, 0, 0, 0, 1}), "[::1]:443"},
      {v6({0, 0, 0, 0, 0, 0, 0, 0}), "[::]:443"},
      {v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}), "[2001:db8::1]:443"},
      {v6({1, 0, 0, 2, 0, 0, 0, 3}), "[1:0:0:2::3]:443"},
      {v6({1, 0, 0, 2, 3, 0, 0, 4}), "[1::2:3:0:0:4]:443"},
      {v6({1, 0, 2, 3, 4, 5, 6, 0}), "[1:0:2:3:4:5:6:0]:443"},  // one zero group stays
      {v6({0xfe80, 0, 0, 0, 0, 0, 0, 0}), "[fe80::]:443"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::SocketAddressText(c.address, 443), c.text);
}

}  // namespace
