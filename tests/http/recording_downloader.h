// A downloader for the tests: progress and exchange records are kept, and every wait is
// short so a failing case ends quickly.
#pragma once

#include <vector>

#include "http/http_downloader.h"

namespace httptest {

class RecordingDownloader : public http::HttpDownloader {
 public:
  RecordingDownloader() {
    SetProgressCallback(
        [this](const http::DownloadProgress& record) { records.push_back(record); });
    exchangeCallback = [this](const http::ExchangeRecord& record) { exchanges.push_back(record); };
    connectTimeout = receiveTimeout = sendTimeout = 5000;
  }
  std::vector<http::DownloadProgress> records;
  std::vector<http::ExchangeRecord> exchanges;
  // With fakePauses the retry pauses are recorded and pass at once on a
  // clock of the test's own.
  bool fakePauses = false;
  std::vector<std::int64_t> pauses;
  std::int64_t fakeNowMs = 0;

 protected:
  std::int64_t NowMs() const override {
    return fakePauses ? fakeNowMs : http::HttpDownloader::NowMs();
  }
  bool PauseBeforeRetry(std::int64_t ms) override {
    if (!fakePauses) return http::HttpDownloader::PauseBeforeRetry(ms);
    pauses.push_back(ms);
    fakeNowMs += ms;
    return true;
  }
};

// The request text and the judging of a response header, which the engine
// keeps to itself, reached for tests of their own.
class ExposedDownloader : public http::HttpDownloader {
 public:
  using http::HttpDownloader::ComposeRequest;
  using http::HttpDownloader::ParseResponseHeader;
  using http::HttpDownloader::SetRoute;
  using http::HttpDownloader::TakeUrl;
};

}  // namespace httptest
