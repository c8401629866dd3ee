#include "http/response_header.h"

#include <gtest/gtest.h>

#include <string>

#include "http/http_downloader.h"
#include "recording_downloader.h"

namespace {

using HttpDownloader = httptest::ExposedDownloader;

struct Judged {
  http::HeaderResult result;
  std::int32_t length;
  int status;
};

Judged Judge(HttpDownloader& d, const std::string& block) {
  Judged j{};
  j.result = d.ParseResponseHeader(block, j.length, j.status);
  return j;
}

TEST(ParseResponseHeader, ClassifiesStatusAndFraming) {
  struct Case {
    const char* block;
    http::HeaderResult result;
    std::int32_t length;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n", http::HEADER_OK, 10},
      {"HTTP/1.1 200\r\nContent-Length: 10\r\n", http::HEADER_OK, 10},
      {"HTTP/1.1 203 Non-Authoritative\r\ncontent-length: 7\r\n", http::HEADER_OK, 7},
      {"HTTP/1.1 200 OK\r\n", http::HEADER_FAILED, 0},  // no Content-Length
      {"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n", http::HEADER_FAILED, 0},
      {"HTTP/1.1 200 OK\r\nContent-Length: 4294967306\r\n", http::HEADER_FAILED, 0},
      {"HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n", http::HEADER_FAILED, 0},
      {"HTTP/1.1 200 OK\r\nContent-Length: ten\r\n", http::HEADER_FAILED, 0},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n", http::HEADER_FAILED, 0},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n", http::HEADER_OK, 5},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n", http::HEADER_FAILED, 0},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n",
       http::HEADER_FAILED, 0},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\nContent-Length: 5\r\n", http::HEADER_OK,
       5},
      {"HTTP/1.1 206 Partial\r\nContent-Length: 500\r\nContent-Range: bytes 1000-1499/1500\r\n",
       http::HEADER_OK, 500},
      {"HTTP/1.1 206 Partial\r\nContent-Length: 500\r\n", http::HEADER_FAILED, 0},
      {"HTTP/1.1 206 Partial\r\nContent-Length: 400\r\nContent-Range: bytes 1000-1499/1500\r\n",
       http::HEADER_FAILED, 0},  // length and range disagree
      {"HTTP/1.1 206 Partial\r\nContent-Length: 500\r\nContent-Range: bytes 1000-1499/9000\r\n",
       http::HEADER_FAILED, 0},  // stops short of the end
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n", http::HEADER_FAILED, 0},
      {"HTTP/1.1 503 Busy\r\nContent-Length: 3\r\n", http::HEADER_RETRY, 0},
      {"HTTP/1.1 500\r\n", http::HEADER_RETRY, 0},
      {"HTTP/1.1 100 Continue\r\nContent-Length: 3\r\n", http::HEADER_FAILED, 0},
      {"HTTP/1.1 302 Found\r\n", http::HEADER_FAILED, 0},  // no Location
      {"HTTP/1.1 abc OK\r\nContent-Length: 3\r\n", http::HEADER_FAILED, 0},
      {"HTTP/1.1 2000 OK\r\nContent-Length: 3\r\n", http::HEADER_FAILED, 0},
      {"ICY 200 OK\r\nContent-Length: 3\r\n", http::HEADER_FAILED, 0},
      {"  http/1.0 200  \r\nCONTENT-LENGTH:   3 \r\n", http::HEADER_OK, 3},
      {"HTTP/1.1 200 OK\r\nContent-Length: +5\r\n", http::HEADER_FAILED, 0},
      {"HTTP/1.1 206 P\r\nContent-Length: 5\r\nContent-Range: bytes */5\r\n", http::HEADER_FAILED,
       0},
      {"HTTP/1.1 206 P\r\nContent-Length: 5\r\nContent-Range: bytes 4-0/5\r\n", http::HEADER_FAILED,
       0},
      {"HTTP/1.1 206 P\r\nContent-Length: 5\r\nContent-Range: items 0-4/5\r\n", http::HEADER_FAILED,
       0},
      {"HTTP/1.1 206 P\r\nContent-Length: 5\r\nContent-Range: bytes 0-4/*\r\n", http::HEADER_OK, 5},
      {"garbage", http::HEADER_FAILED, 0},
  };
  for (const auto& c : cases) {
    HttpDownloader d;
    const Judged j = Judge(d, c.block);
    EXPECT_EQ(j.result, c.result) << c.block;
    EXPECT_EQ(j.length, c.length) << c.block;
  }
}

TEST(ParseResponseHeader, RedirectRewritesTheTargetKeepingCase) {
  struct Case {
    const char* from;
    const char* location;
    const char* url;
    const char* host;
    std::uint16_t port;
    const char* object;
  };
  const Case cases[] = {
      {"http://a.test/x/y", "http://B.test:8080/New/Path?Q=1", "http://B.test:8080/New/Path?Q=1",
       "B.test", 8080, "/New/Path?Q=1"},
      {"http://a.test:81/x/y", "/Rooted/File.ZIP", "http://a.test:81/Rooted/File.ZIP", "a.test", 81,
       "/Rooted/File.ZIP"},
      {"http://a.test/d1/d2/file", "../Other.zip", "http://a.test/d1/Other.zip", "a.test", 80,
       "/d1/Other.zip"},
      {"http://a.test/d1/d2/file", "../../../../up.zip", "http://a.test/up.zip", "a.test", 80,
       "/up.zip"},
      {"http://a.test/d1/file?x=/y/z", "sibling", "http://a.test/d1/sibling", "a.test", 80,
       "/d1/sibling"},
      {"http://a.test/d1/file", "?v=2", "http://a.test/d1/file?v=2", "a.test", 80, "/d1/file?v=2"},
      {"http://a.test/d1/file", "\\win\\style.zip", "http://a.test/win/style.zip", "a.test", 80,
       "/win/style.zip"},
      {"http://a.test/d1/file", "//c.test/net/path", "http://c.test/net/path", "c.test", 80,
       "/net/path"},
      {"http://a.test/d1/file", "/target#fragment", "http://a.test/target", "a.test", 80,
       "/target"},
      // A URL inside the query does not make the location absolute.
      {"http://a.test/d1/file", "/go?to=http://evil.test/", "http://a.test/go?to=http://evil.test/",
       "a.test", 80, "/go?to=http://evil.test/"},
  };
  for (const auto& c : cases) {
    HttpDownloader d;
    d.url = c.from;
    ASSERT_NE(http::ParseUrl(d.url, d.host, d.object, d.port), 0) << c.from;
    const Judged j =
        Judge(d, std::string("HTTP/1.1 302 Found\r\nContent-Location: /decoy\r\nLocation: ") +
                     c.location + "\r\n");
    EXPECT_EQ(j.result, http::HEADER_REDIRECT) << c.location;
    EXPECT_EQ(d.url, c.url) << c.location;
    EXPECT_EQ(d.host, c.host) << c.location;
    EXPECT_EQ(d.port, c.port) << c.location;
    EXPECT_EQ(d.object, c.object) << c.location;
    EXPECT_EQ(d.referer, c.from) << c.location;
  }
}

TEST(ParseResponseHeader, RefusesRedirectsItCannotFollowSafely) {
  for (const char* location :
       {"ftp://a.test/x", "http://a.test", "/x\x01y", "/x\ty", "/x\rInjected: 1"}) {
    HttpDownloader d;
    d.url = "http://a.test/from";
    http::ParseUrl(d.url, d.host, d.object, d.port);
    const Judged j = Judge(d, std::string("HTTP/1.1 301 Moved\r\nLocation: ") + location + "\r\n");
    EXPECT_EQ(j.result, http::HEADER_FAILED) << location;
    EXPECT_EQ(d.url, "http://a.test/from") << location;
    EXPECT_TRUE(d.referer.empty()) << location;
  }
}

}  // namespace
