#include "platform/posix/dialog_view.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/posix/raw_terminal.h"
#include "platform/window.h"

namespace platform::posix {
namespace {

using Clock = std::chrono::steady_clock;

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

int Percent(const DialogState& s) {
  const long long span = static_cast<long long>(s.rangeHigh) - s.rangeLow;
  if (span <= 0) return 0;
  long long p = (static_cast<long long>(s.position) - s.rangeLow) * 100 / span;
  if (p < 0) p = 0;
  if (p > 100) p = 100;
  return static_cast<int>(p);
}

bool SameState(const DialogState& a, const DialogState& b) {
  return a.status == b.status && a.position == b.position && a.rangeLow == b.rangeLow &&
         a.rangeHigh == b.rangeHigh;
}

// Draws caption, status line and bar in place, at most ten times a second.
class TerminalView final : public DialogView {
 public:
  void Show(const DialogState& state) override {
    terminal_.HideCursor();
    Draw(state, /*first=*/true);
  }

  void Refresh(const DialogState& state, Clock::time_point now) override {
    if (SameState(state, drawn_) || now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    Draw(state, false);
  }

  Key PollKey() override {
    char bytes[16];
    const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i) {
      if (bytes[i] == 0x1b && (i + 1 >= n || bytes[i + 1] != '[')) return Key::kCancel;
      if (bytes[i] == 0x03) return Key::kCancel;
      if (bytes[i] == '\r' || bytes[i] == '\n') return Key::kOk;
    }
    return Key::kNone;
  }

  int AskOkCancel(const std::string& caption, const std::string& text) override {
    std::string out = "\n\n[" + caption + "]\n" + text + "\n(Enter = OK, Esc = Cancel) ";
    WriteAll(STDOUT_FILENO, out);
    for (;;) {
      pollfd p{STDIN_FILENO, POLLIN, 0};
      if (::poll(&p, 1, -1) < 0) return kIdCancel;
      switch (PollKey()) {
        case Key::kOk:
          WriteAll(STDOUT_FILENO, "OK\n\n\n");
          return kIdOk;
        case Key::kCancel:
          WriteAll(STDOUT_FILENO, "Cancel\n\n\n");
          return kIdCancel;
        case Key::kNone:
          if ((p.revents & (POLLHUP | POLLERR)) != 0) return kIdCancel;
          break;
      }
    }
  }

  void Close(const DialogState& state) override {
    if (!SameState(state, drawn_)) Draw(state, false);
    terminal_.Restore();
  }

 private:
  void Draw(const DialogState& state, bool first) {
    constexpr int kWidth = 40;
    const int percent = Percent(state);
    const int filled = percent * kWidth / 100;
    std::string out;
    if (!first) out += "\x1b[2F";  // back to the caption line
    out += "\x1b[2K== " + state.caption + " ==\n";
    out += "\x1b[2K  " + state.status + "\n";
    out += "\x1b[2K  [" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] " +
           std::to_string(percent) + "%";
    WriteAll(STDOUT_FILENO, out);
    drawn_ = state;
  }
  RawTerminal terminal_;
  DialogState drawn_;
  Clock::time_point lastDraw_{};
};

// One line per change of the status, at most one a second, so logs stay
// readable; the final state is always written.
class PlainView final : public DialogView {
 public:
  void Show(const DialogState& state) override {
    WriteAll(STDOUT_FILENO, state.caption + ": " + state.status + "\n");
    written_ = state;
    lastWrite_ = Clock::now();
  }
  void Refresh(const DialogState& state, Clock::time_point now) override {
    if (state.status == written_.status || now - lastWrite_ < std::chrono::seconds(1)) return;
    Write(state, now);
  }
  Key PollKey() override { return Key::kNone; }
  int AskOkCancel(const std::string& caption, const std::string& text) override {
    WriteAll(STDERR_FILENO, "[" + caption + "] " + text + "\n");
    return kIdCancel;
  }
  void Close(const DialogState& state) override {
    if (state.status != written_.status) Write(state, Clock::now());
  }

 private:
  void Write(const DialogState& state, Clock::time_point now) {
    WriteAll(STDOUT_FILENO,
             state.caption + ": " + state.status + " (" + std::to_string(Percent(state)) + "%)\n");
    written_ = state;
    lastWrite_ = now;
  }
  DialogState written_;
  Clock::time_point lastWrite_{};
};

class HiddenView final : public DialogView {
 public:
  void Show(const DialogState&) override {}
  void Refresh(const DialogState&, Clock::time_point) override {}
  Key PollKey() override { return Key::kNone; }
  int AskOkCancel(const std::string&, const std::string&) override { return kIdCancel; }
  void Close(const DialogState&) override {}
};

}  // namespace

std::unique_ptr<DialogView> MakeDialogView() {
  const char* choice = std::getenv("UPDATER_UI");
  const std::string_view ui = choice != nullptr ? choice : "";
  if (ui == "none") return std::make_unique<HiddenView>();
  if (ui == "plain") return std::make_unique<PlainView>();
  const char* term = std::getenv("TERM");
  const bool terminal = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && term != nullptr &&
                        std::strcmp(term, "dumb") != 0;
  if (ui == "terminal" || (ui.empty() && terminal)) return std::make_unique<TerminalView>();
  return std::make_unique<PlainView>();
}

}  // namespace platform::posix
