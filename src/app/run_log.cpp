#include "app/run_log.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/files.h"
#include "platform/install_files.h"
#include "platform/path.h"
#include "platform/process.h"

namespace app {
namespace {

bool NamesASecret(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* hint :
       {"pass", "pwd", "token", "secret", "key", "auth", "sig", "session", "cred", "ticket"}) {
    if (lower.find(hint) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::string UserUpdateDirectory() {
  return platform::TemporaryDirectory() + "korvanta-update" + platform::PathSeparator();
}

std::string LogDirectory(const std::string& programDir) {
  if (!programDir.empty() && platform::CanWriteIn(programDir)) return programDir;
  const std::string own = UserUpdateDirectory();
  platform::CreateDirectory(own);
  return own;
}

void LogFile::Write(std::string_view line) {
  std::string text = LogStamp(std::chrono::system_clock::now(), platform::CurrentProcessId());
  text += line.substr(0, kMaxLogLineBytes);
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  text += '\n';

  const std::lock_guard<std::mutex> lock(mutex_);
  platform::File file = platform::File::Open(path_, platform::OpenMode::kWriteKeep);
  if (!file.IsOpen() || !file.SeekToEnd()) return;
  const std::int64_t size = file.Tell();
  if (size > 0 && size + static_cast<std::int64_t>(text.size()) > kMaxLogBytes) {
    file.Close();
    platform::ReplaceFile(path_, path_ + ".1");
    file = platform::File::Open(path_, platform::OpenMode::kWriteKeep);
    if (!file.IsOpen() || !file.SeekToEnd()) return;
  }
  file.Write(text.data(), text.size());
}

std::string LogStamp(std::chrono::system_clock::time_point time, std::uint32_t processId) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss clock{ms - day};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ [%u] ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()),
                static_cast<int>(clock.subseconds().count()), static_cast<unsigned>(processId));
  return text;
}

std::string LoggableAddress(std::string_view address) {
  std::string out(address);
  const std::size_t scheme = out.find("://");
  if (scheme != std::string::npos) {
    const std::size_t start = scheme + 3;
    const std::size_t end = std::min(out.find_first_of("/?#", start), out.size());
    const std::size_t at = out.rfind('@', end - 1);
    if (at != std::string::npos && at >= start) out.replace(start, at + 1 - start, "***@");
  }
  // Fields after the first "?" or "#", separated by "&", ";" or "#".
  std::size_t field = out.find_first_of("?#");
  while (field != std::string::npos) {
    const std::size_t begin = field + 1;
    std::size_t end = std::min(out.find_first_of("&;#", begin), out.size());
    const std::size_t equals = out.find('=', begin);
    if (equals < end && NamesASecret(std::string_view(out).substr(begin, equals - begin))) {
      out.replace(equals + 1, end - equals - 1, "***");
      end = equals + 4;
    }
    field = end < out.size() ? end : std::string::npos;
  }
  return out;
}

}  // namespace app
