#include "platform/process.h"

#include <signal.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <thread>
#include <vector>

namespace platform {
namespace {
std::vector<std::string> arguments;
}  // namespace

void InitProcess(int argc, char** argv) {
  // Texts are handled in the environment's code page.
  std::setlocale(LC_CTYPE, "");
  arguments.clear();
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
}

std::string CommandLine() {
  std::string line;
  line.reserve(256);
  line.append(1, '"').append(ModulePath()).append("\" ");
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) line += ' ';
    line += arguments[i];
  }
  return line;
}

std::string ModulePath() {
  // readlink cuts a name that does not fit without saying so: a result that
  // fills the buffer is read again into a larger one.
  for (std::size_t size = 4096; size <= 65536; size *= 2) {
    std::vector<char> buffer(size);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(n));
    }
  }
  return {};
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

unsigned OsMajorVersion() {
  struct utsname name {};
  if (uname(&name) != 0) return 0;
  return static_cast<unsigned>(std::strtoul(name.release, nullptr, 10));
}

void SleepMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void KillProcessNow() {
  ::raise(SIGKILL);
  _exit(137);
}

}  // namespace platform
