#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/shell_system.h"

extern char** environ;

namespace platform::system {
namespace {

// Starts `argv` detached from our descriptors: the child gets only standard
// input, output and error, never the updater's sockets or files.
bool Spawn(const std::vector<std::string>& args, bool searchPath) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = searchPath ? posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ)
                            : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) errno = rc;  // for LastSystemError
  return rc == 0;
}

}  // namespace

void OpenInBrowser(const std::string& url) {
  const bool desktop =
      std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
  if (desktop && Spawn({"xdg-open", url}, true)) return;
  std::fprintf(stderr, "Open %s in a browser.\n", url.c_str());
}

// POSIX has no elevation verb: "runas" starts the program plainly.
bool StartProgram(const std::string& path, const char*) { return Spawn({path}, false); }

bool CanElevate() { return false; }

bool StartElevated(const std::string&, const std::string&) { return false; }

}  // namespace platform::system
