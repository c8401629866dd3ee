// How the POSIX window runtime shows its one dialog: drawn in the terminal,
// written as plain lines for logs, or not at all.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace platform::posix {

struct DialogState {
  std::string caption;
  std::string status;
  int rangeLow = 0;
  int rangeHigh = 100;
  int position = 0;
};

enum class Key { kNone, kOk, kCancel };

class DialogView {
 public:
  virtual ~DialogView() = default;
  virtual void Show(const DialogState& state) = 0;
  // Called often; the view redraws at its own pace.
  virtual void Refresh(const DialogState& state, std::chrono::steady_clock::time_point now) = 0;
  virtual Key PollKey() = 0;
  // Blocks until the user answers; returns kIdOk or kIdCancel.
  virtual int AskOkCancel(const std::string& caption, const std::string& text) = 0;
  // Last redraw, then the terminal is given back.
  virtual void Close(const DialogState& state) = 0;
};

// UPDATER_UI=terminal|plain|none chooses; otherwise the terminal view when
// standard input and output are terminals, else plain lines.
std::unique_ptr<DialogView> MakeDialogView();

}  // namespace platform::posix
