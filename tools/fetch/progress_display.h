// Progress of a download on standard error: a bar redrawn in place on a
// terminal, at most ten times a second; otherwise a line at the start, at each
// tenth of the size and at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "http/http_downloader.h"

namespace fetch {

class ProgressDisplay {
 public:
  ProgressDisplay(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
  void Show(const http::DownloadProgress& record);
  // Ends the bar's line, if one is drawn.
  void Finish();

 private:
  void DrawBar(const http::DownloadProgress& record);

  std::FILE* out_;
  bool terminal_;
  bool drawn_ = false;
  int lastTenth_ = -1;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// "direct", or the proxy as a URL without its password ("via socks5h://u@h:1080").
std::string DescribeRoute(const http::ProxyRoute& route);

// The engine with its records going to a ProgressDisplay, and, when `trace`
// is given, a line there for the route of each connection.
class ConsoleDownloader : public http::HttpDownloader {
 public:
  ConsoleDownloader(ProgressDisplay* display, std::FILE* trace) : trace_(trace) {
    if (display != nullptr) {
      SetProgressCallback(
          [display](const http::DownloadProgress& record) { display->Show(record); });
    }
  }

 protected:
  void ReportRoute(const http::ProxyRoute& route) override {
    if (trace_ != nullptr) {
      std::fprintf(trace_, "updater-fetch: %s %s\n", url.c_str(), DescribeRoute(route).c_str());
    }
  }

 private:
  std::FILE* trace_;
};

}  // namespace fetch
