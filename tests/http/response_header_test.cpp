#include "http/response_header.h"

#include <gtest/gtest.h>

#include <string>

#include "http/http_downloader.h"
#include "recording_downloader.h"
#include "support/table_rows.h"

namespace {

TEST(ParseResponseHeader, ClassifiesStatusAndFraming) {
  for (const testsupport::Row& row : testsupport::TableRows(
#include "response_headers.rows"
           )) {
    ASSERT_EQ(row.size(), 3u) << row[0];
    httptest::ExposedDownloader d;
    std::int64_t length = 0;
    int status = 0;
    const http::HeaderResult result =
        d.ParseResponseHeader(testsupport::Bytes(row[0]), length, status);
    const http::HeaderResult expected = row[1] == "ok"      ? http::HEADER_OK
                                        : row[1] == "retry" ? http::HEADER_RETRY
                                                            : http::HEADER_FAILED;
    EXPECT_TRUE(result == expected && length == std::stoll(row[2])) << row[0];
  }
}

// The target follows the Location (the decoy Content-Location does not
// count), in the case it was written in, and the server's credentials follow
// only to the host and port they were given for; what cannot be followed
// safely fails and leaves the target and the referer alone.
TEST(ParseResponseHeader, RedirectRewritesTheTargetKeepingCase) {
  for (const testsupport::Row& row : testsupport::TableRows(
#include "redirects.rows"
           )) {
    ASSERT_EQ(row.size(), 7u) << row[0];
    const std::string location = testsupport::Bytes(row[1]);
    SCOPED_TRACE(location);
    const bool followed = row[2] != "-";
    httptest::ExposedDownloader d;
    d.useAuth = 1;
    ASSERT_TRUE(d.TakeUrl(row[0]));
    std::int64_t length = 0;
    int status = 0;
    EXPECT_EQ(d.ParseResponseHeader("HTTP/1.1 302 Found\r\nContent-Location: /decoy\r\nLocation: " +
                                        location + "\r\n",
                                    length, status),
              followed ? http::HEADER_REDIRECT : http::HEADER_FAILED);
    EXPECT_EQ(d.url + " " + d.referer, followed ? row[2] + " " + row[0] : row[0] + " ");
    if (!followed) continue;
    EXPECT_EQ(d.host + " " + std::to_string(d.port) + " " + d.object,
              row[3] + " " + row[4] + " " + row[5]);
    std::string request;
    ASSERT_TRUE(d.ComposeRequest(0, {}, request));
    EXPECT_EQ(request.find("Authorization: ") != std::string::npos, row[6] == "yes");
  }
}

}  // namespace
