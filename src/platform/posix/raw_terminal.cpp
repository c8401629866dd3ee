#include "platform/posix/raw_terminal.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iterator>

namespace platform::posix {
namespace {

constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
constexpr char kShowCursor[] = "\x1b[?25h\n";

// What a signal handler needs; one terminal is taken at a time.
termios savedSettings{};
std::atomic<bool> cursorHidden{false};
struct sigaction previousActions[std::size(kEndingSignals)];

void GiveBack() {
  tcsetattr(STDIN_FILENO, TCSANOW, &savedSettings);
  if (cursorHidden.exchange(false)) {
    [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, kShowCursor, sizeof kShowCursor - 1);
  }
}

// Only async-signal-safe calls: give the terminal back, then end the process
// by the same signal under its default handling.
extern "C" void OnEndingSignal(int signal) {
  GiveBack();
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  raise(signal);
}

}  // namespace

RawTerminal::RawTerminal() {
  if (tcgetattr(STDIN_FILENO, &savedSettings) != 0) return;
  // The handlers come first: a signal between the two steps finds the
  // settings to give back already saved.
  struct sigaction action {};
  action.sa_handler = OnEndingSignal;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    sigaction(kEndingSignals[i], &action, &previousActions[i]);
  }
  termios raw = savedSettings;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  taken_ = true;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

void RawTerminal::HideCursor() {
  if (!taken_) return;
  cursorHidden.store(true);
  static constexpr char kHideCursor[] = "\x1b[?25l";
  [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, kHideCursor, sizeof kHideCursor - 1);
}

void RawTerminal::Restore() {
  if (!taken_) return;
  taken_ = false;
  GiveBack();
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    sigaction(kEndingSignals[i], &previousActions[i], nullptr);
  }
}

}  // namespace platform::posix
