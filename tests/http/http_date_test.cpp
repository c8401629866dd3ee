#include "http/http_date.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/table_rows.h"

namespace {

TEST(ParseHttpDate, ReadsTheThreeFormsAsUtcAndRefusesWhatIsNoDate) {
  for (const testsupport::Row& row : testsupport::TableRows(
#include "http_dates.rows"
           )) {
    ASSERT_EQ(row.size(), 2u) << row[0];
    const std::optional<http::HttpTime> expected =
        row[1] == "-" ? std::nullopt : std::optional<http::HttpTime>(std::stoll(row[1]));
    EXPECT_EQ(http::ParseHttpDate(row[0]), expected) << row[0];
  }
}

}  // namespace
