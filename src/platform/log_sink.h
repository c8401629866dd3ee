// Where the run's log goes. The application hands one sink to whatever
// writes a line of it, so that a layer logs without knowing the file, and a
// test reads the lines by handing in its own sink.
#pragma once

#include <string_view>

namespace platform {

class LogSink {
 public:
  virtual ~LogSink() = default;
  // One step as one line of text, without its line break; the sink stamps it
  // with the time and the process. Never a password, credential or token:
  // the writer leaves them out. Any thread may write.
  virtual void Write(std::string_view line) = 0;
};

}  // namespace platform
