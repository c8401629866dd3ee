// The download job against the in-process scripted server: what a
// misbehaving or interrupted server does to the temporary file, the target,
// the progress records and the number of requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "http/http_downloader.h"
#include "platform/files.h"
#include "recording_downloader.h"
#include "support/scratch_dir.h"
#include "support/scripted_server.h"

namespace {

using testsupport::HttpResponse;
using testsupport::PatternBytes;
using testsupport::ScriptedExchange;
using testsupport::ScriptedServer;

constexpr const char* kLastModified = "Thu, 04 Mar 2021 05:06:07 GMT";
constexpr http::HttpTime kLastModifiedTime = 1614834367;

std::string Ok(const std::string& body, const std::string& extra = "") {
  return HttpResponse("HTTP/1.1 200 OK",
                      std::string("Last-Modified: ") + kLastModified + "\r\n" + extra, body);
}

// The offset of a request's "Range: bytes=N-" line, -1 without one.
long RangeOffset(const ScriptedExchange& e) {
  const std::string range = e.RequestHeader("Range");
  if (range.rfind("bytes=", 0) != 0) return -1;
  return std::stol(range.substr(6));
}

http::HttpTime FileTimeOf(const std::string& path) {
  const auto status = platform::GetFileStatus(path);
  return status ? platform::FileTimeToUnixTime(status->modificationTime) : -1;
}

bool Exists(const std::string& path) { return platform::GetFileStatus(path).has_value(); }

class DownloadJob : public ::testing::Test {
 protected:
  testsupport::ScratchDir dir;
  std::string target = dir.Join("update.zip");
  std::string temp = target + ".down";
  httptest::RecordingDownloader d;
};

TEST_F(DownloadJob, WritesTheBodyStampsTheTargetAndReportsEveryBlock) {
  const std::string body = PatternBytes(50000);
  ScriptedServer server([&](ScriptedExchange& e) { e.Send(Ok(body)); });
  ASSERT_TRUE(server.listening());

  ASSERT_EQ(d.Download(server.Url("/files/update.zip"), target, 0), http::DOWNLOAD_OK);
  EXPECT_EQ(testsupport::ReadFileBytes(target), body);
  EXPECT_EQ(FileTimeOf(target), kLastModifiedTime);
  EXPECT_FALSE(Exists(temp));

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("GET /files/update.zip HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(requests[0].find("\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n"),
            std::string::npos);

  ASSERT_GE(d.records.size(), 4u);
  const int trio[] = {http::NOTIFY_START, http::NOTIFY_SIZE, http::NOTIFY_PROGRESS};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(d.records[i].code, trio[i]);
    EXPECT_EQ(d.records[i].totalSize, 50000);
    EXPECT_EQ(d.records[i].receivedSize, 0);
    EXPECT_EQ(d.records[i].fileName, "update.zip");
  }
  std::int32_t previous = 0;
  for (std::size_t i = 3; i < d.records.size(); ++i) {
    EXPECT_EQ(d.records[i].code, http::NOTIFY_PROGRESS);
    EXPECT_GT(d.records[i].receivedSize, previous);
    EXPECT_LE(d.records[i].receivedSize - previous, http::kBodyBlockSize);
    previous = d.records[i].receivedSize;
  }
  EXPECT_EQ(previous, 50000);
}

TEST_F(DownloadJob, LeavesATargetAloneThatMatchesSizeAndTime) {
  struct Case {
    http::HttpTime offset;  // of the target's time from Last-Modified
    std::size_t size;
    http::DownloadResult result;
  };
  const Case cases[] = {
      {0, 3000, http::DOWNLOAD_UP_TO_DATE},  {2, 3000, http::DOWNLOAD_UP_TO_DATE},
      {-2, 3000, http::DOWNLOAD_UP_TO_DATE}, {3, 3000, http::DOWNLOAD_OK},
      {-3, 3000, http::DOWNLOAD_OK},         {0, 2999, http::DOWNLOAD_OK},
  };
  const std::string body = PatternBytes(3000, 7);
  for (const auto& c : cases) {
    const std::string old = PatternBytes(c.size, 8);
    ASSERT_TRUE(testsupport::WriteStampedFile(target, old, kLastModifiedTime + c.offset));
    std::atomic<bool> closedBeforeBody{false};
    const bool expectUpToDate = c.result == http::DOWNLOAD_UP_TO_DATE;
    ScriptedServer server([&](ScriptedExchange& e) {
      const std::string full = Ok(body);
      const std::size_t headerEnd = full.find("\r\n\r\n") + 4;
      e.Send(full.substr(0, expectUpToDate ? headerEnd : full.size()));
      // A client that needs the body gets it, late.
      if (expectUpToDate && !(closedBeforeBody = e.AwaitClientClose(5000))) {
        e.Send(full.substr(headerEnd));
      }
    });
    const http::DownloadResult result = d.Download(server.Url("/update.zip"), target, 0);
    server.Stop();
    EXPECT_EQ(result, c.result) << c.offset << " s, " << c.size << " bytes";
    if (c.result == http::DOWNLOAD_UP_TO_DATE) {
      EXPECT_TRUE(closedBeforeBody.load());
      EXPECT_EQ(testsupport::ReadFileBytes(target), old);
      EXPECT_FALSE(Exists(temp));
    } else {
      EXPECT_EQ(testsupport::ReadFileBytes(target), body);
    }
  }
}

// One server answer per case (the same to every connection, or another to a
// request with Range): the result, the target's bytes (none: no target) and
// the number of connections. A temporary file longer than any body is there
// first, so a missing truncation would show.
TEST_F(DownloadJob, WhatTheServerAnswersDecidesFileAndConnections) {
  const std::string body = PatternBytes(5000, 14);
  const std::string busy = "HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n";
  const std::string noBody = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n";
  const std::string line = "X: " + std::string(1020, 'v') + "\r\n";  // the reader's 1023 bytes
  struct Case {
    const char* name;
    std::string answer, answerToRange;  // "" for the plain answer
    int force = 0, mode = http::RETRY_NONE, maxRetries = 0;
    http::DownloadResult result = http::DOWNLOAD_OK;
    int connections = 1;
    std::size_t piece = 1 << 20;  // the header goes out in pieces of this size
  };
  const Case cases[] = {
      {"forced: no Range", Ok(body), "HTTP/1.1 400 Unexpected\r\nContent-Length: 0\r\n\r\n", 1},
      {"200 to a Range request", Ok(body), ""},
      {"206 from the wrong offset", Ok(body),
       HttpResponse("HTTP/1.1 206 P", "Content-Range: bytes 0-4999/5000\r\n", body), 0, 0, 0,
       http::DOWNLOAD_OK, 2},  // asks again from 0
      {"416 to a Range request", Ok(body), "HTTP/1.1 416 No\r\nContent-Length: 0\r\n\r\n", 0, 0, 0,
       http::DOWNLOAD_OK, 2},
      {"bytes past Content-Length", Ok(body) + PatternBytes(1500, 13), ""},
      {"dripped header", Ok(body), "", 0, 0, 0, http::DOWNLOAD_OK, 1, 3},
      {"no reason phrase", HttpResponse("HTTP/1.1 200", "", body), ""},
      {"interim 100 first", "HTTP/1.1 100 Continue\r\n\r\n" + Ok(body), ""},
      {"line of 1023 bytes", Ok(body, line), ""},
      {"line of 1024 bytes", Ok(body, "Y" + line), ""},
      {"line of 3000 bytes", Ok(body, "X: " + std::string(2997, 'v') + "\r\n"), ""},
      {"bare LF line ends", "HTTP/1.1 200 OK\nContent-Length: 5000\n\n" + body, ""},
      {"503, limited to 2", busy, busy, 0, http::RETRY_LIMITED, 2, http::DOWNLOAD_FAILED, 4},
      {"503, no retries", busy, busy, 0, http::RETRY_NONE, 0, http::DOWNLOAD_FAILED, 1},
      {"503, unknown mode", busy, busy, 0, 7, 0, http::DOWNLOAD_FAILED, 1},
      {"header only, no retries", noBody, noBody, 0, http::RETRY_NONE, 0, http::DOWNLOAD_FAILED,
       http::kMaxFruitlessTransfers},
      {"header only, limited to 0", noBody, noBody, 0, http::RETRY_LIMITED, 0,
       http::DOWNLOAD_FAILED, 2 * http::kMaxFruitlessTransfers},
  };
  for (const auto& c : cases) {
    platform::DeleteFile(target);
    ASSERT_TRUE(testsupport::WriteFileBytes(temp, PatternBytes(9000, 5)));
    ScriptedServer server([&](ScriptedExchange& e) {
      const std::string& answer =
          RangeOffset(e) >= 0 && !c.answerToRange.empty() ? c.answerToRange : c.answer;
      const std::size_t header = std::min(answer.size(), answer.find("\n\n") != std::string::npos
                                                             ? answer.find("\n\n") + 2
                                                             : answer.find("\r\n\r\n") + 4);
      e.Drip(answer.substr(0, header), c.piece, 1);
      e.Send(answer.substr(header));
    });
    d.retryMode = c.mode;
    d.maxRetries = c.maxRetries;
    d.records.clear();
    EXPECT_EQ(d.Download(server.Url("/update.zip"), target, c.force), c.result) << c.name;
    server.Stop();
    EXPECT_EQ(server.ConnectionCount(), c.connections) << c.name;
    if (c.result != http::DOWNLOAD_OK) continue;
    EXPECT_TRUE(testsupport::ReadFileBytes(target) == body) << c.name;
    EXPECT_EQ(d.records.front().receivedSize, 0) << c.name;
  }
}

// Responses that would corrupt the file fail at once: nothing is written.
TEST_F(DownloadJob, FailsResponsesThatWouldCorruptTheFile) {
  const char* const responses[] = {
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
      "HTTP/1.1 200 OK\r\n\r\nhello",
      "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nhello",
      "HTTP/1.1 206 P\r\nContent-Length: 5\r\nContent-Range: bytes 5-9/10\r\n\r\nhello",
      "HTTP/1.1 404 Not Found\r\nContent-Length: 5\r\n\r\nhello",
  };
  for (const char* response : responses) {
    ScriptedServer server([&](ScriptedExchange& e) { e.Send(response); });
    EXPECT_EQ(d.Download(server.Url("/update.zip"), target, 0), http::DOWNLOAD_FAILED) << response;
    EXPECT_EQ(server.ConnectionCount(), 1) << response;
    EXPECT_FALSE(Exists(target)) << response;
    EXPECT_EQ(testsupport::ReadFileBytes(temp), "") << response;
  }
}

TEST_F(DownloadJob, StopDuringARetryPauseEndsPromptlyAndKeepsThePartialFile) {
  ASSERT_TRUE(testsupport::WriteFileBytes(temp, "partial"));
  ScriptedServer server(
      [](ScriptedExchange& e) { e.Send("HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n"); });
  d.retryMode = http::RETRY_FOREVER;
  d.retryDelay = 600000;  // far longer than any test may take
  std::thread stopper([&] {
    for (int i = 0; i < 1000 && server.ConnectionCount() == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    d.RequestStop();
  });
  EXPECT_EQ(d.Download(server.Url("/update.zip"), target, 0), http::DOWNLOAD_STOPPED);
  stopper.join();
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(testsupport::ReadFileBytes(temp), "partial");
}

TEST_F(DownloadJob, ReportsAFailedReplacementAndKeepsTheBody) {
  std::filesystem::create_directories(target + "/occupied");
  const std::string body = PatternBytes(3000, 16);
  ScriptedServer server([&](ScriptedExchange& e) { e.Send(Ok(body)); });
  EXPECT_EQ(d.Download(server.Url("/update.zip"), target, 0), http::DOWNLOAD_FAILED);
  EXPECT_EQ(testsupport::ReadFileBytes(temp), body);
}

TEST_F(DownloadJob, RefusesInputThatWouldInjectAHeaderLine) {
  ScriptedServer server([&](ScriptedExchange& e) { e.Send(Ok("body")); });
  d.referer = "http://r.test/\r\nX-Injected: 1";
  EXPECT_EQ(d.Download(server.Url("/update.zip"), target, 0), http::DOWNLOAD_FAILED);
  d.referer.clear();
  EXPECT_EQ(d.Download(server.Url("/update.zip\r\nX-Injected: 1"), target, 0),
            http::DOWNLOAD_FAILED);
  for (const std::string& request : server.Requests()) {
    EXPECT_EQ(request.find("X-Injected"), std::string::npos);
  }
  EXPECT_FALSE(Exists(target));
}

TEST_F(DownloadJob, AcceptsAUrlWithoutScheme) {
  ScriptedServer server([&](ScriptedExchange& e) { e.Send(Ok("body")); });
  const std::string url = server.Url("/update.zip").substr(7);  // without "http://"
  ASSERT_EQ(d.Download("  " + url + "  ", target, 0), http::DOWNLOAD_OK);
  EXPECT_EQ(testsupport::ReadFileBytes(target), "body");
}

TEST(QueryInfo, AsksWithHeadAndWritesOutputsOnlyOnSuccess) {
  ScriptedServer server([](ScriptedExchange& e) {
    if (e.request().rfind("HEAD /present HTTP/1.1\r\n", 0) == 0) {
      e.Send(std::string("HTTP/1.1 200 OK\r\nContent-Length: 123456\r\nLast-Modified: ") +
             kLastModified + "\r\n\r\n");
    } else {
      e.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    }
  });
  httptest::RecordingDownloader d;
  std::int32_t length = -1;
  http::HttpTime modified = -1;
  ASSERT_EQ(d.QueryInfo(server.Url("/present"), length, modified), 1);
  EXPECT_EQ(length, 123456);
  EXPECT_EQ(modified, kLastModifiedTime);
  EXPECT_TRUE(d.records.empty());

  length = -1;
  modified = -1;
  EXPECT_EQ(d.QueryInfo(server.Url("/absent"), length, modified), 0);
  EXPECT_EQ(length, -1);
  EXPECT_EQ(modified, -1);
}

}  // namespace
