// The download job against the in-process scripted server: what a
// misbehaving or interrupted server does to the temporary file, the target,
// the progress records and the number of requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <tuple>

#include "http/http_downloader.h"
#include "http/partial_file.h"
#include "http/response_header.h"
#include "net/socket_library.h"
#include "platform/files.h"
#include "recording_downloader.h"
#include "support/scratch_dir.h"
#include "support/scripted_server.h"
#include "support/table_rows.h"

namespace {

using testsupport::HttpResponse;
using testsupport::PatternBytes;
using testsupport::ScriptedExchange;
using testsupport::ScriptedServer;

constexpr const char* kLastModified = "Thu, 04 Mar 2021 05:06:07 GMT";
constexpr http::HttpTime kLastModifiedTime = 1614834367;
const std::string kDated = std::string("Last-Modified: ") + kLastModified + "\r\n";

std::string Ok(const std::string& body) { return HttpResponse("HTTP/1.1 200 OK", kDated, body); }

// The offset of a request's "Range: bytes=N-" line, -1 without one.
long RangeOffset(const ScriptedExchange& e) {
  const std::string range = e.RequestHeader("Range");
  return range.rfind("bytes=", 0) == 0 ? std::stol(range.substr(6)) : -1;
}

bool Exists(const std::string& path) { return platform::GetFileStatus(path).has_value(); }

class DownloadJob : public ::testing::Test {
 protected:
  testsupport::ScratchDir dir;
  std::string target = dir.Join("update.zip");
  std::string temp = target + ".down";
  httptest::RecordingDownloader d;
};

// The first connection drops after part of the body; the second resumes it
// with Range, and If-Range when the server gave a Last-Modified. The URL
// comes without a scheme and with blanks around it.
TEST_F(DownloadJob, ResumesAfterABreakStampsTheTargetAndReportsEveryBlock) {
  const std::string body = PatternBytes(200000, 11);
  for (const std::string& dated : {kDated, std::string()}) {
    platform::DeleteFile(target);
    std::atomic<long> resumedAt{-2};
    std::string ifRange = "none";
    ScriptedServer server([&](ScriptedExchange& e) {
      if (e.index() == 0) {  // header and 70000 body bytes, then the connection drops
        const std::string full = HttpResponse("HTTP/1.1 200 OK", dated, body);
        e.Send(full.substr(0, full.size() - 130000));
        return;
      }
      const long from = resumedAt = RangeOffset(e);
      ifRange = e.RequestHeader("If-Range");
      e.Send(from < 0 ? Ok(body)
                      : HttpResponse("HTTP/1.1 206 Partial Content",
                                     kDated + "Content-Range: bytes " + std::to_string(from) +
                                         "-199999/200000\r\n",
                                     body.substr(static_cast<std::size_t>(from))));
    });
    d.records.clear();
    const std::string url = "  " + server.Url("/files/update.zip").substr(7) + "  ";
    ASSERT_EQ(d.Download(url, target, 0), http::DOWNLOAD_OK) << dated;
    server.Stop();
    EXPECT_TRUE(testsupport::ReadFileBytes(target) == body && !Exists(temp)) << dated;
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u) << dated;
    EXPECT_EQ(requests[0].rfind("GET /files/update.zip HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(resumedAt.load(), 70000) << dated;
    EXPECT_EQ(ifRange, dated.empty() ? "" : kLastModified) << dated;
    const auto stamp = platform::GetFileStatus(target).value().modificationTime;
    EXPECT_EQ(platform::FileTimeToUnixTime(stamp), kLastModifiedTime);  // from the resumed answer

    // One announcement (start, size, progress at 0), then blocks that each
    // add at most kBodyBlockSize, across the break, up to the whole size.
    ASSERT_GE(d.records.size(), 4u);
    const int trio[] = {http::NOTIFY_START, http::NOTIFY_SIZE, http::NOTIFY_PROGRESS};
    std::int64_t previous = 0;
    for (std::size_t i = 0; i < d.records.size(); ++i) {
      const http::DownloadProgress& r = d.records[i];
      EXPECT_TRUE(i < 3 ? r.code == trio[i] && r.totalSize == 200000 && r.receivedSize == 0 &&
                              r.fileName == "update.zip"
                        : r.code == http::NOTIFY_PROGRESS && r.receivedSize > previous &&
                              r.receivedSize - previous <= http::kBodyBlockSize)
          << i;
      previous = r.receivedSize;
    }
    EXPECT_EQ(previous, 200000);
  }
}

// A target of the served size within 2 s of Last-Modified is left alone, and
// the connection is closed before the body comes.
TEST_F(DownloadJob, LeavesATargetAloneThatMatchesSizeAndTime) {
  const std::tuple<http::HttpTime, std::size_t, bool> cases[] = {
      {2, 3000, true}, {-2, 3000, true}, {3, 3000, false}, {-3, 3000, false}, {0, 2999, false}};
  const std::string body = PatternBytes(3000, 7);
  for (const auto& [offset, size, alone] : cases) {
    SCOPED_TRACE(std::to_string(offset) + " s, " + std::to_string(size) + " bytes");
    const std::string old = PatternBytes(size, 8);
    ASSERT_TRUE(testsupport::WriteStampedFile(target, old, kLastModifiedTime + offset));
    std::atomic<bool> closedBeforeBody{false};
    const bool upToDate = alone;
    ScriptedServer server([&](ScriptedExchange& e) {
      const std::string full = Ok(body);
      const std::size_t headerEnd = full.find("\r\n\r\n") + 4;
      e.Send(full.substr(0, upToDate ? headerEnd : full.size()));
      // A client that needs the body gets it, late.
      if (upToDate && !(closedBeforeBody = e.AwaitClientClose(5000)))
        e.Send(full.substr(headerEnd));
    });
    EXPECT_EQ(d.Download(server.Url("/update.zip"), target, 0),
              upToDate ? http::DOWNLOAD_UP_TO_DATE : http::DOWNLOAD_OK);
    server.Stop();
    EXPECT_EQ(closedBeforeBody.load(), upToDate);
    EXPECT_TRUE(testsupport::ReadFileBytes(target) == (upToDate ? old : body));
    EXPECT_TRUE(!upToDate || !Exists(temp));
  }
}

// download_answers.rows: one server answer per row, the result, the number of
// connections and the target's bytes; a failure leaves no target and no byte
// of the answer in the part.
TEST_F(DownloadJob, WhatTheServerAnswersDecidesFileAndConnections) {
  const std::string body = testsupport::Bytes("500*\"0123456789\"");
  const std::map<std::string, int> modes = {
      {"none", http::RETRY_NONE}, {"limited", http::RETRY_LIMITED}, {"unknown", 7}};
  for (const testsupport::Row& row : testsupport::TableRows(
#include "download_answers.rows"
           )) {
    ASSERT_EQ(row.size(), 9u) << row[0];
    SCOPED_TRACE(row[0]);
    const std::string answer = testsupport::Bytes(row[1]);
    const std::string answerToRange = row[2].empty() ? answer : testsupport::Bytes(row[2]);
    const std::size_t piece = row[8] == "-" ? std::size_t{1} << 20 : std::stoul(row[8]);
    platform::DeleteFile(target);
    ASSERT_TRUE(testsupport::WriteFileBytes(temp, PatternBytes(1000, 5)));
    ASSERT_TRUE(http::RecordPartialFile(temp, 5000, kLastModifiedTime));
    ScriptedServer server([&](ScriptedExchange& e) {
      const std::string& sent = RangeOffset(e) >= 0 ? answerToRange : answer;
      const std::size_t lf = sent.find("\n\n");
      const std::size_t header =
          std::min(sent.size(), lf != std::string::npos ? lf + 2 : sent.find("\r\n\r\n") + 4);
      e.Drip(sent.substr(0, header), piece, 1);
      e.Send(sent.substr(header));
    });
    d.retryMode = modes.at(row[4]);
    d.maxRetries = std::stoi(row[5]);
    d.fakePauses = true;
    d.records.clear();
    const bool ok = row[6] == "ok";
    EXPECT_EQ(d.Download(server.Url("/update.zip"), target, std::stoi(row[3])),
              ok ? http::DOWNLOAD_OK : http::DOWNLOAD_FAILED);
    server.Stop();
    EXPECT_EQ(server.ConnectionCount(), std::stoi(row[7]));
    const std::string part = testsupport::ReadFileBytes(temp);
    EXPECT_TRUE(ok ? testsupport::ReadFileBytes(target) == body && !d.records.empty() &&
                         d.records.front().receivedSize == 0
                   : !Exists(target) && (part.empty() || part == PatternBytes(1000, 5)));
  }
}

// A stop ends a retry pause far longer than any test may take, and the
// growing pauses of retrying forever without a delay (the second failure
// waits 2 s): no request goes out after it, and the partial file stays. The
// stop of whoever owns the thread (0: set before the download), unlike the
// engine's own, is not cleared when a download starts.
TEST_F(DownloadJob, StopEndsARetryPauseAndKeepsThePartialFile) {
  const std::pair<std::int32_t, int> cases[] = {{600000, 1}, {0, 2}, {0, 0}};
  for (const auto& [delay, stopAfter] : cases) {
    ASSERT_TRUE(testsupport::WriteFileBytes(temp, "partial"));
    ScriptedServer server(
        [](ScriptedExchange& e) { e.Send("HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n"); });
    d.retryMode = http::RETRY_FOREVER;
    d.retryDelay = delay;
    const std::atomic<int> ownerStop{stopAfter == 0 ? 1 : 0};
    const net::ScopedStopFlag owner(ownerStop);
    std::atomic<bool> ended{false};
    std::thread stopper([&, stopAfter = stopAfter] {
      while (!ended && server.ConnectionCount() < std::max(stopAfter, 1)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      d.RequestStop();
    });
    EXPECT_EQ(d.Download(server.Url("/update.zip"), target, 0), http::DOWNLOAD_STOPPED) << delay;
    ended = true;
    stopper.join();
    server.Stop();
    EXPECT_EQ(server.ConnectionCount(), stopAfter) << delay;
    EXPECT_EQ(testsupport::ReadFileBytes(temp), "partial") << delay;
  }
}

// Transient failures of every kind, each retried with its pause: the
// server's Retry-After, then growing pauses that start small again after
// progress; a chunked body cut short starts again from 0, a plain one is
// resumed with Range.
TEST_F(DownloadJob, TransientFailuresAreRetriedWithTheirPausesAndResumed) {
  const std::string body = PatternBytes(200000, 3);
  const std::string half = body.substr(0, 100000);
  std::vector<long> ranges;
  ScriptedServer server([&](ScriptedExchange& e) {
    ranges.push_back(RangeOffset(e));
    switch (e.index()) {
      case 0:
        e.Send("HTTP/1.1 503 Busy\r\nRetry-After: 7\r\nContent-Length: 0\r\n\r\n");
        break;
      case 1:
        e.Send("HTTP/1.1 429 Too Many Requests\r\nContent-Length: 0\r\n\r\n");
        break;
      case 2:
        e.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n30d40\r\n" + half);
        break;
      case 3:
        break;  // closed unanswered
      case 4:
        e.Send(Ok(body).substr(0, Ok(body).size() - 100000));
        break;
      default:
        e.Send(HttpResponse("HTTP/1.1 206 Partial Content",
                            kDated + "Content-Range: bytes 100000-199999/200000\r\n",
                            body.substr(100000)));
    }
  });
  d.retryMode = http::RETRY_RUN;
  d.fakePauses = true;
  ASSERT_EQ(d.Download(server.Url("/update.zip"), target, 0), http::DOWNLOAD_OK);
  server.Stop();
  EXPECT_TRUE(testsupport::ReadFileBytes(target) == body);
  EXPECT_EQ(ranges, (std::vector<long>{-1, -1, -1, -1, -1, 100000}));
  ASSERT_EQ(d.pauses.size(), 3u);
  EXPECT_EQ(d.pauses[0], 7000);
  EXPECT_TRUE(d.pauses[1] >= 1500 && d.pauses[1] <= 2000) << d.pauses[1];
  EXPECT_TRUE(d.pauses[2] >= 750 && d.pauses[2] <= 1000) << d.pauses[2];
  // Each retry says why; each answer, to what it answered and who sent it.
  std::vector<std::tuple<http::RetryCause, int, std::int64_t>> retries;
  for (const http::DownloadProgress& r : d.records) {
    if (r.code == http::NOTIFY_RETRY) retries.emplace_back(r.retryCause, r.status, r.pauseMs);
  }
  using http::RetryCause;
  EXPECT_EQ(retries, (std::vector<std::tuple<RetryCause, int, std::int64_t>>{
                         {RetryCause::kStatus, 503, d.pauses[0]},
                         {RetryCause::kStatus, 429, d.pauses[1]},
                         {RetryCause::kNoAnswer, 0, d.pauses[2]}}));
  std::vector<std::tuple<int, std::int64_t, std::string>> exchanges;
  for (const http::ExchangeRecord& e : d.exchanges) {
    exchanges.emplace_back(e.status, e.resumeOffset, e.peer);
  }
  const std::string peer = "127.0.0.1:" + std::to_string(server.port());
  EXPECT_EQ(
      exchanges,
      (std::vector<std::tuple<int, std::int64_t, std::string>>{
          {503, 0, peer}, {429, 0, peer}, {200, 0, peer}, {200, 0, peer}, {206, 100000, peer}}));
}

// A body that drips below the low-speed limit is broken once the limit's
// window closes and resumed at once; a body of unknown length past maxSize
// fails without waiting for its end.
TEST_F(DownloadJob, AStallIsABreakAndAnUnsizedBodyStopsAtTheLimit) {
  const std::string body = PatternBytes(5000, 4);
  ScriptedServer server([&](ScriptedExchange& e) {
    const long from = RangeOffset(e);
    if (from < 0) {
      const std::string full = Ok(body);
      const std::size_t header = full.find("\r\n\r\n") + 4;
      e.Send(full.substr(0, header));
      e.Drip(body, 10, 50);  // 200 bytes/s, below 1000 bytes in a second
      return;
    }
    e.Send(HttpResponse("HTTP/1.1 206 Partial Content",
                        kDated + "Content-Range: bytes " + std::to_string(from) + "-4999/5000\r\n",
                        body.substr(static_cast<std::size_t>(from))));
  });
  d.lowSpeedLimit = 1000;
  d.lowSpeedTime = 1;
  ASSERT_EQ(d.Download(server.Url("/update.zip"), target, 0), http::DOWNLOAD_OK);
  server.Stop();
  EXPECT_TRUE(testsupport::ReadFileBytes(target) == body);
  EXPECT_EQ(server.ConnectionCount(), 2);

  ScriptedServer endless([](ScriptedExchange& e) {
    e.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    const std::string chunk = "1000\r\n" + std::string(4096, 'x') + "\r\n";
    for (int i = 0; i < 1000 && e.Send(chunk); ++i) {
    }
  });
  d.maxSize = 10000;
  EXPECT_EQ(d.Download(endless.Url("/update.zip"), target + "2", 1), http::DOWNLOAD_FAILED);
  endless.Stop();
  EXPECT_EQ(endless.ConnectionCount(), 1);
}

// A second run on the same target, and a target that cannot be replaced:
// the download fails, and what is there stays.
TEST_F(DownloadJob, FailsWhenTheFilesCannotBeWritten) {
  const std::string body = PatternBytes(3000, 16);
  ScriptedServer server([&](ScriptedExchange& e) { e.Send(Ok(body)); });
  {
    ASSERT_TRUE(testsupport::WriteFileBytes(temp, "first run's part"));
    const platform::File first = platform::File::Open(temp, platform::OpenMode::kWriteKeep);
    ASSERT_TRUE(first.IsOpen());
    EXPECT_EQ(d.Download(server.Url("/update.zip"), target, 0), http::DOWNLOAD_FAILED);
    EXPECT_EQ(testsupport::ReadFileBytes(temp), "first run's part");
    EXPECT_FALSE(Exists(target));
  }
  std::filesystem::create_directories(target + "/occupied");
  EXPECT_EQ(d.Download(server.Url("/update.zip"), target, 0), http::DOWNLOAD_FAILED);
  EXPECT_EQ(testsupport::ReadFileBytes(temp), body);
}

}  // namespace
