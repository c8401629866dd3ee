// How one run ends: a single state with one owner, the run. Its view asks for
// the close; the run's thread reads the state at each step and reports the
// commit of an install and its own end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace app {

enum class RunState {
  kRunning,     // downloading, checking, or waiting to begin
  kCommitting,  // an install is under way; it ends whole, new or old
  kClosing,     // a close was asked: the run stops at its next step
  kDone,        // the run's thread has ended and uses nothing of the view
};

class RunShutdown {
 public:
  RunState state() const;

  // The view's thread. From then on every network wait of the run ends at once (see
  // stopFlag). During a commit the close takes effect when the commit ends.
  void RequestClose();
  // Whether a close was asked, whatever the state.
  bool CloseRequested() const { return stop_.load() != 0; }
  // The run's thread: waits `ms` unless a close comes first; true when it came.
  bool WaitForClose(unsigned ms);

  // The run's thread, right before an install: true to go on; false when a close came
  // first, and nothing is to be installed.
  bool BeginCommit();
  // The run's thread: the install and any roll-back are over.
  void EndCommit();
  // The run's thread, as its last step.
  void Finish();
  bool Finished() const { return state() == RunState::kDone; }

  // Set with the close and never cleared: the run's thread keeps it in place
  // (net::ScopedStopFlag) for its whole life, so that no operation that
  // starts later can forget the close.
  const std::atomic<int>& stopFlag() const { return stop_; }

 private:
  mutable std::mutex mutex_;
  std::condition_variable closed_;
  RunState state_ = RunState::kRunning;
  std::atomic<int> stop_{0};
};

}  // namespace app
