// How one run ends: a single state with one owner, the update dialog. The GUI
// thread asks for the close; the worker reads the state at each step and
// reports the commit of an install and its own end.
#pragma once

#include <atomic>
#include <mutex>

namespace app {

enum class RunState {
  kRunning,     // downloading, checking, or waiting to begin
  kCommitting,  // an install is under way; it ends whole, new or old
  kClosing,     // a close was asked: the run stops at its next step
  kDone,        // the worker has ended and uses nothing of the dialog
};

class RunShutdown {
 public:
  RunState state() const;

  // GUI thread. From then on every network wait of the run ends at once (see
  // stopFlag). During a commit the close takes effect when the commit ends.
  void RequestClose();
  // Whether a close was asked, whatever the state.
  bool CloseRequested() const { return stop_.load() != 0; }

  // Worker, right before an install: true to go on; false when a close came
  // first, and nothing is to be installed.
  bool BeginCommit();
  // Worker: the install and any roll-back are over.
  void EndCommit();
  // Worker, as its last step.
  void Finish();
  bool Finished() const { return state() == RunState::kDone; }

  // Set with the close and never cleared: the run's worker keeps it in place
  // (net::ScopedStopFlag) for its whole life, so that no operation that
  // starts later can forget the close.
  const std::atomic<int>& stopFlag() const { return stop_; }

 private:
  mutable std::mutex mutex_;
  RunState state_ = RunState::kRunning;
  std::atomic<int> stop_{0};
};

}  // namespace app
