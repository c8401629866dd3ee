// The run's log, updater.log: one line per step of every run, stamped with the
// UTC time and the process id, so that a run that failed can be explained
// afterwards. It never holds a password, credential or token: addresses go in
// through LoggableAddress, and no request header is ever written.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/log_sink.h"

namespace app {

inline constexpr char kLogName[] = "updater.log";
// Past this size the log becomes updater.log.1 (one older copy is kept) and a
// new one is begun, so that the two never take more than twice this.
inline constexpr std::int64_t kMaxLogBytes = 512 * 1024;
// A longer line is cut: one line can never push the log past its bound.
inline constexpr std::size_t kMaxLogLineBytes = 2048;

// The user's own directory of the updater, korvanta-update in the temporary
// directory, ending in a separator: where the log goes when the program
// directory cannot be written, and where a run that hands the install to an
// elevated run keeps the package.
std::string UserUpdateDirectory();

// The program directory where this process may write there, else
// UserUpdateDirectory (created when missing).
std::string LogDirectory(const std::string& programDir);

// updater.log in `directory` (ending in a separator). A line that cannot be
// written is lost: the log never stops a run.
class LogFile final : public platform::LogSink {
 public:
  explicit LogFile(const std::string& directory) : path_(directory + kLogName) {}
  void Write(std::string_view line) override;
  const std::string& path() const { return path_; }

 private:
  std::mutex mutex_;  // one writer at a time within the process
  std::string path_;
};

// What starts each line: "2026-05-01T10:20:30.123Z [1234] ".
std::string LogStamp(std::chrono::system_clock::time_point time, std::uint32_t processId);

// An address as the log may show it: the user information (user:password@)
// and the values of query and fragment fields whose names suggest a secret
// (password, token, key, signature, session, ...) become "***".
std::string LoggableAddress(std::string_view address);

}  // namespace app
