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
      // A missing zone is GMT; a numeric one is applied.
      {"Thu, 04 Mar 2021 05:06:07", 1614834367},
      {"Thu, 04 Mar 2021 05:06:07 +0000", 1614834367},
      {"Thu, 04 Mar 2021 06:36:07 +0130", 1614834367},
      {"Wednesday, 03-Mar-21 21:06:07 -0800", 1614834367},
      {"Mon, 01 Jan 1601 00:00:00 GMT", -11644473600},
      {"Sun, 31 Dec 2106 23:59:59 GMT", 4323283199},
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
      "Sun, 06 Nov 1994 08:49:37 PST",  // only GMT and numeric zones
      "Sun, 06 Nov 1994 08:49:37 +2400",
      "Sun, 06 Nov 1994 08:49:37 GMT +0100",
      "Sun, 31 Dec 1600 23:59:59 GMT",  // before a file time can be
      "Mon, 01 Jan 2107 00:00:00 GMT",
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
