// A downloader for the tests: progress records are kept instead of being sent
// to a window, and every wait is short so a failing case ends quickly.
#pragma once

#include <vector>

#include "http/http_downloader.h"

namespace httptest {

class RecordingDownloader : public http::HttpDownloader {
 public:
  RecordingDownloader() {
    notifyEnabled = 1;
    connectTimeout = receiveTimeout = sendTimeout = 5000;
  }
  std::vector<http::DownloadProgress> records;

 protected:
  void DeliverProgress(const http::DownloadProgress& record) override { records.push_back(record); }
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
