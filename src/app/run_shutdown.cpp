#include "app/run_shutdown.h"

namespace app {

RunState RunShutdown::state() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

void RunShutdown::RequestClose() {
  const std::lock_guard<std::mutex> lock(mutex_);
  stop_.store(1);
  if (state_ == RunState::kRunning) state_ = RunState::kClosing;
  closed_.notify_all();
}

bool RunShutdown::WaitForClose(unsigned ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return closed_.wait_for(lock, std::chrono::milliseconds(ms),
                          [this] { return stop_.load() != 0; });
}

bool RunShutdown::BeginCommit() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (state_ != RunState::kRunning) return false;
  state_ = RunState::kCommitting;
  return true;
}

void RunShutdown::EndCommit() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (state_ != RunState::kCommitting) return;
  state_ = stop_.load() != 0 ? RunState::kClosing : RunState::kRunning;
}

void RunShutdown::Finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  state_ = RunState::kDone;
}

}  // namespace app
