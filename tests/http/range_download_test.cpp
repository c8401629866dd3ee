// Spans of a file fetched into their places: the multipart/byteranges body
// taken apart as it comes, the spans still missing after a break, and
// servers that answer otherwise than nginx (whose multipart answers the
// delta runs of tests/e2e fetch).
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "http/byte_ranges.h"
#include "http/http_downloader.h"
#include "platform/files.h"
#include "recording_downloader.h"
#include "support/scratch_dir.h"
#include "support/scripted_server.h"

namespace {

using testsupport::HttpResponse;
using testsupport::ScriptedExchange;
using testsupport::ScriptedServer;

// A part of a multipart/byteranges body with the boundary "B".
std::string Part(const std::string& range, const std::string& data) {
  return "\r\n--B\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes " + range +
         "\r\n\r\n" + data;
}

TEST(ByteRanges, TakesEachPartByItsLengthAndRefusesAnyOtherBody) {
  const std::string end = "\r\n--B--\r\n";
  struct Case {
    const char* name;
    std::string body;
    http::ByteRangesDecoder::State state;
    std::map<std::int64_t, std::string> written;
  };
  using State = http::ByteRangesDecoder::State;
  const Case cases[] = {
      {"two parts, a preamble, an epilogue",
       "preamble" + Part("2-4/100", "abc") + Part("90-91/100", "--") + end + "epilogue",
       State::kDone,
       {{2, "abc"}, {90, "--"}}},
      {"data that holds the delimiter",
       Part("0-8/100", "\r\n--B--\r\n") + end,
       State::kDone,
       {{0, "\r\n--B--\r\n"}}},
      {"a part without Content-Range", "\r\n--B\r\n\r\nabc" + end, State::kMalformed, {}},
      {"a part past the file's end", Part("99-100/100", "ab") + end, State::kMalformed, {}},
      {"a part of another file size", Part("0-1/200", "ab") + end, State::kMalformed, {}},
      {"a part longer than its range",
       Part("0-1/100", "abc") + end,
       State::kMalformed,
       {{0, "ab"}}},
      {"a header line past the bound",
       "\r\n--B\r\nX: " + std::string(5000, 'x'),
       State::kMalformed,
       {}},
      {"cut before the final delimiter", Part("0-1/100", "ab"), State::kBody, {{0, "ab"}}},
  };
  for (const Case& c : cases) {
    http::ByteRangesDecoder decoder("B", 100);
    // Fed byte by byte, so that a field cut anywhere between two reads is
    // taken whole; runs that follow one another are joined.
    std::map<std::int64_t, std::string> written;
    for (const char byte : c.body) {
      decoder.Decode(&byte, 1, [&](std::int64_t offset, const char* data, std::size_t size) {
        auto last = written.empty() ? written.end() : std::prev(written.end());
        if (last != written.end() &&
            last->first + static_cast<std::int64_t>(last->second.size()) == offset) {
          last->second.append(data, size);
        } else {
          written[offset].assign(data, size);
        }
        return true;
      });
    }
    EXPECT_EQ(decoder.state(), c.state) << c.name;
    EXPECT_EQ(written, c.written) << c.name;
  }

  EXPECT_EQ(http::ByteRangesBoundary("multipart/byteranges; boundary=00000000001"), "00000000001");
  EXPECT_EQ(http::ByteRangesBoundary("Multipart/ByteRanges; x=1; boundary=\"a b\""), "a b");
  EXPECT_FALSE(http::ByteRangesBoundary("multipart/mixed; boundary=a"));
  EXPECT_FALSE(http::ByteRangesBoundary("multipart/byteranges"));
  EXPECT_FALSE(http::ByteRangesBoundary("multipart/byteranges; boundary=" + std::string(71, 'a')));
}

TEST(ByteRanges, AsksForWhatIsStillMissingWithinARequestsBounds) {
  using Spans = std::vector<http::ByteSpan>;
  const auto text = [](const Spans& spans) {
    std::string t;
    for (const http::ByteSpan& s : spans)
      t += std::to_string(s.offset) + "+" + std::to_string(s.length) + " ";
    return t;
  };
  // Asked, arrived (in any order), still missing.
  EXPECT_EQ(text(http::SpansLeft({{0, 100}, {200, 100}}, {{200, 50}, {0, 10}, {50, 10}})),
            "10+40 60+40 250+50 ");
  EXPECT_EQ(text(http::SpansLeft({{0, 100}}, {{0, 100}})), "");
  EXPECT_EQ(text(http::SpansLeft({{10, 10}}, {{0, 5}, {30, 5}})), "10+10 ");

  Spans many;
  for (std::int64_t i = 0; i < 300; ++i) many.push_back({i * 10, 5});
  std::size_t taken = 0;
  EXPECT_EQ(http::RangeValue({{0, 10}, {20, 1}}, taken), "bytes=0-9,20-20");
  EXPECT_EQ(taken, 2u);
  http::RangeValue(many, taken);
  EXPECT_EQ(taken, http::kMaxRangesPerRequest);
  for (auto& s : many) s.offset += 4000000000000000000;  // 40 bytes a range
  EXPECT_LE(http::RangeValue(many, taken).size(), http::kMaxRangeValueBytes + 6);
  EXPECT_LT(taken, http::kMaxRangesPerRequest);
}

// Servers that answer what nginx never would: a break mid-part (the next
// request asks only for the rest), parts of another file, a complete answer
// without what was asked for.
TEST(RangeDownload, ResumesWhatIsMissingAndFailsOnAnswersOfAnotherFile) {
  const std::string file = testsupport::PatternBytes(100000, 3);
  const auto part = [&](std::int64_t from, std::int64_t to, std::int64_t total) {
    return HttpResponse(
        "HTTP/1.1 206 Partial Content",
        "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(to) + "/" +
            std::to_string(total) + "\r\n",
        file.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from + 1)));
  };
  struct Case {
    const char* name;
    std::vector<std::string> answers;  // one per connection
    http::DownloadResult result;
    std::vector<std::string> ranges;  // the Range of each request
  };
  const std::string first = part(1000, 50999, 100000);
  const Case cases[] = {
      {"a break mid-part",
       {first.substr(0, first.size() - 30000), part(21000, 50999, 100000)},
       http::DOWNLOAD_OK,
       {"bytes=1000-50999", "bytes=21000-50999"}},
      {"a part of another file size",
       {part(1000, 50999, 200000)},
       http::DOWNLOAD_FAILED,
       {"bytes=1000-50999"}},
      {"whole, but another span",
       {part(60000, 60999, 100000)},
       http::DOWNLOAD_FAILED,
       {"bytes=1000-50999"}},
  };
  for (const Case& c : cases) {
    ScriptedServer server([&](ScriptedExchange& e) {
      if (static_cast<std::size_t>(e.index()) < c.answers.size()) e.Send(c.answers[e.index()]);
    });
    testsupport::ScratchDir dir;
    platform::File target = platform::File::Open(dir.Join("t"), platform::OpenMode::kReadWriteKeep);
    httptest::RecordingDownloader d;
    d.retryMode = http::RETRY_NONE;
    EXPECT_EQ(d.DownloadRanges(server.Url("/f"), target, 100000, {{1000, 50000}}), c.result)
        << c.name;
    server.Stop();
    std::vector<std::string> ranges;
    for (const std::string& request : server.Requests()) {
      const std::size_t at = request.find("Range: ");
      ranges.push_back(request.substr(at + 7, request.find("\r\n", at) - at - 7));
    }
    EXPECT_EQ(ranges, c.ranges) << c.name;
    if (c.result == http::DOWNLOAD_OK) {
      // The progress counts the spans' bytes, not the file's.
      ASSERT_FALSE(d.records.empty());
      EXPECT_TRUE(d.records.back().receivedSize == 50000 && d.records.back().totalSize == 50000);
      target.Close();
      EXPECT_EQ(testsupport::ReadFileBytes(dir.Join("t")).substr(1000), file.substr(1000, 50000));
    }
  }
}

}  // namespace
