// What a run shows and asks, apart from how: the update dialog over the
// window runtime (a window on Windows, the terminal or plain lines on Linux),
// or nothing at all for a silent run. The run calls a view from its own
// thread, which need not be the view's; each call returns once it is done.
#pragma once

#include <string>

#include "app/run_failure.h"
#include "http/http_downloader.h"

namespace app {

class RunView {
 public:
  virtual ~RunView() = default;
  // The status line.
  virtual void ShowStatus(const std::string& text) = 0;
  // A record of the package's download: the status line and the bar.
  virtual void ShowProgress(const http::DownloadProgress& record) = 0;
  // The package is there: the bar at its end.
  virtual void ShowDownloaded() = 0;
  // The main application still runs after the wait: true to try again.
  virtual bool AskRetryWhileProgramsRun() = 0;
  // The run failed with a message for the user (MessageFor), which offers
  // the download page.
  virtual void ShowFailure(const RunFailure& failure) = 0;
  // The run has ended: the view goes.
  virtual void Close() = 0;
};

// The silent run's view: nothing is shown, and since nobody is there to
// answer, a main application that still runs after the wait ends the run.
class SilentView final : public RunView {
 public:
  void ShowStatus(const std::string&) override {}
  void ShowProgress(const http::DownloadProgress&) override {}
  void ShowDownloaded() override {}
  bool AskRetryWhileProgramsRun() override { return false; }
  void ShowFailure(const RunFailure&) override {}
  void Close() override {}
};

}  // namespace app
