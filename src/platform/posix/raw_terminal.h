// The terminal of the dialog's view, taken for the time the view lives: keys
// arrive one by one without echo, and the cursor may be hidden. Whatever ends
// the process - the view's end, its destruction, or a signal that ends it
// (SIGTERM, SIGHUP, SIGINT, SIGQUIT) - gives the terminal back as it was.
#pragma once

#include <termios.h>

namespace platform::posix {

class RawTerminal {
 public:
  // Takes standard input's terminal; nothing when it is none.
  RawTerminal();
  ~RawTerminal() { Restore(); }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

  // Hides the cursor on standard output until Restore.
  void HideCursor();
  // The settings and the cursor as they were; the signals' handling too.
  void Restore();

 private:
  bool taken_ = false;
};

}  // namespace platform::posix
