// The retry policy as a pure rule: which failure is retried, after what pause.
#include "http/retry_schedule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/http_downloader.h"
#include "support/table_rows.h"

namespace {

constexpr http::HttpTime kNow = 1614834367;  // Thu, 04 Mar 2021 05:06:07 GMT

TEST(RetrySchedule, ReadsRetryAfterAsSecondsOrADateWithinAMinute) {
  for (const testsupport::Row& row : testsupport::TableRows(
#include "retry_afters.rows"
           )) {
    ASSERT_EQ(row.size(), 2u) << row[0];
    const auto expected = row[1] == "-" ? std::nullopt : std::optional(std::stoll(row[1]));
    EXPECT_EQ(http::ParseRetryAfter(row[0], kNow), expected) << row[0];
  }
}

// Each case: settings, then failures at the given ms (a negative time: bytes
// arrived then), each with a Retry-After or -1; the pauses granted, -1 where
// the policy gives up.
TEST(RetrySchedule, EachModeGrantsItsRetriesAndPauses) {
  struct Case {
    const char* name;
    http::RetrySettings settings;
    std::vector<std::pair<std::int64_t, std::int64_t>> failures;
    std::vector<std::int64_t> pauses;
  };
  using S = http::RetrySettings;
  const Case cases[] = {
      {"none", S{http::RETRY_NONE, 5, 0, 0}, {{0, -1}}, {-1}},
      {"a mode that is none", S{7, 5, 0, 0}, {{0, -1}}, {-1}},
      // maxRetries 1 grants two retries, as it always did.
      {"limited, at once",
       S{http::RETRY_LIMITED, 1, 0, 0},
       {{0, -1}, {0, 5000}, {0, -1}},
       {0, 0, -1}},
      {"limited, growing",
       S{http::RETRY_LIMITED, 1, 0, 0, true},
       {{0, -1}, {0, -1}, {0, -1}},
       {1000, 2000, -1}},
      {"limited, fixed delay, a longer Retry-After wins",
       S{http::RETRY_LIMITED, 5, 3000, 0, true},
       {{0, -1}, {0, 5000}, {0, 1000}},
       {3000, 5000, 3000}},
      {"forever, growing, Retry-After not asked for",
       S{http::RETRY_FOREVER, 0, 0, 0},
       {{0, -1}, {0, 500}},
       {1000, 2000}},
      {"forever, Retry-After replaces the growing pause",
       S{http::RETRY_FOREVER, 0, 0, 0, true},
       {{0, -1}, {0, -1}, {0, 500}, {0, -1}},
       {1000, 2000, 500, 8000}},
      {"progress starts the pauses small again",
       S{http::RETRY_FOREVER, 0, 0, 0},
       {{0, -1}, {0, -1}, {-10, 0}, {10, -1}},
       {1000, 2000, 1000}},
      // 600 s without progress; the last pause stops at the budget.
      {"run budget",
       S{http::RETRY_RUN, 0, 0, 600000},
       {{0, -1}, {590000, -1}, {599000, 60000}, {600000, -1}},
       {1000, 2000, 1000, -1}},
      {"progress renews the budget",
       S{http::RETRY_RUN, 0, 0, 600000},
       {{-590000, 0}, {1000000, -1}, {1189000, -1}, {1190000, -1}},
       {1000, 1000, -1}},
  };
  for (const Case& c : cases) {
    http::RetrySchedule schedule;
    schedule.Start(0);
    std::vector<std::int64_t> pauses;
    for (const auto& [at, retryAfter] : c.failures) {
      if (at < 0) {
        schedule.Progress(-at);
        continue;
      }
      const auto after = retryAfter >= 0 ? std::optional<std::int64_t>(retryAfter) : std::nullopt;
      pauses.push_back(schedule.Next(c.settings, at, after, 0.0).value_or(-1));
    }
    EXPECT_EQ(pauses, c.pauses) << c.name;
  }
}

}  // namespace
