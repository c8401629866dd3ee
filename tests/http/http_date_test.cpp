#include "http/http_date.h"

#include <gtest/gtest.h>

namespace {

using http::HttpTime;

TEST(ParseHttpDate, ReadsTheThreeFormsAsUtc) {
  struct Case {
    const char* text;
    HttpTime expected;
  };
  const Case cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {"sun, 06 nov 1994 08:49:37 gmt", 784111777},  // names in any case
      {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
      {"Sun Nov  6 08:49:37 1994", 784111777},
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Thu, 29 Feb 2024 23:59:59 GMT", 1709251199},  // leap day
      {"Wed, 30 Jun 2027 12:00:00 GMT", 1814356800},  // June: month 6
      {"Tue, 19 Jan 2038 03:14:08 GMT", 2147483648},  // past 32 bits
      {"Thursday, 01-Jan-70 00:00:00 GMT", 0},
      {"Saturday, 01-Jan-00 00:00:00 GMT", 946684800},  // two digits below 70: 20xx
  };
  for (const auto& c : cases) {
    const std::optional<HttpTime> t = http::ParseHttpDate(c.text);
    ASSERT_TRUE(t.has_value()) << c.text;
    EXPECT_EQ(*t, c.expected) << c.text;
  }
}

TEST(ParseHttpDate, RefusesWhatIsNoDate) {
  const char* const cases[] = {
      "",
      "yesterday",
      "Sun, 06 Nov 1994 08:49:37",      // zone missing
      "Sun, 06 Nov 1994 08:49:37 PST",  // only GMT is allowed
      "Sun, 06 Foo 1994 08:49:37 GMT",  // no such month
      "Sun, 30 Feb 1994 08:49:37 GMT",  // no such day
      "Sun, 06 Nov 1994 24:00:00 GMT",
      "Sun, 06 Nov 1994 08:61:37 GMT",
      "Sun, 06 Nov 19945 08:49:37 GMT",
      "Sun, 06 Nov 1994 08:49 GMT",
      "Sun, 06 Nov 1994 08:49:37 GMT extra",
      "Sun, x6 Nov 1994 08:49:37 GMT",
  };
  for (const char* text : cases) EXPECT_FALSE(http::ParseHttpDate(text).has_value()) << text;
}

}  // namespace
