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

// The engine with its records going to a ProgressDisplay.
class ConsoleDownloader : public http::HttpDownloader {
 public:
  explicit ConsoleDownloader(ProgressDisplay* display) {
    if (display != nullptr) {
      SetProgressCallback(
          [display](const http::DownloadProgress& record) { display->Show(record); });
    }
  }
};

}  // namespace fetch
