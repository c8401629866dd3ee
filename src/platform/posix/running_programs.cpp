// Linux: every process's program file is the link /proc/PID/exe.
#include "platform/running_programs.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace platform {
namespace {

struct CloseDir {
  void operator()(DIR* d) const { closedir(d); }
};

}  // namespace

std::vector<std::uint32_t> ProgramsRunningIn(const std::string& directory) {
  std::vector<std::uint32_t> found;
  const std::unique_ptr<DIR, CloseDir> proc(opendir("/proc"));
  if (!proc) return found;
  const pid_t self = getpid();
  char target[4096];
  while (const dirent* entry = readdir(proc.get())) {
    char* end = nullptr;
    const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
    if (*end != '\0' || pid == 0 || static_cast<pid_t>(pid) == self) continue;
    const std::string link = std::string("/proc/") + entry->d_name + "/exe";
    // Fails for another user's process and for kernel threads: left out.
    const ssize_t n = readlink(link.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) continue;
    // A program file replaced or removed since it started reads as
    // "PATH (deleted)"; it still lay in the directory.
    if (std::string_view(target, static_cast<std::size_t>(n)).starts_with(directory)) {
      found.push_back(static_cast<std::uint32_t>(pid));
    }
  }
  return found;
}

}  // namespace platform
