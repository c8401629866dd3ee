#include "platform/shell.h"

#include <mutex>
#include <utility>

#include "platform/shell_system.h"

namespace platform {
namespace {

std::mutex overridesMutex;
ShellOverrides overrides;

ShellOverrides CurrentOverrides() {
  std::lock_guard<std::mutex> lock(overridesMutex);
  return overrides;
}

}  // namespace

void SetShellOverrides(ShellOverrides replacement) {
  std::lock_guard<std::mutex> lock(overridesMutex);
  overrides = std::move(replacement);
}

int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
               unsigned style) {
  const ShellOverrides current = CurrentOverrides();
  if (current.messageBox) return current.messageBox(owner, text, caption, style);
  return system::MessageBox(owner, text, caption, style);
}

void OpenInBrowser(const std::string& url) {
  const ShellOverrides current = CurrentOverrides();
  if (current.openInBrowser) {
    current.openInBrowser(url);
    return;
  }
  system::OpenInBrowser(url);
}

bool StartProgram(const std::string& path, const char* verb) {
  const ShellOverrides current = CurrentOverrides();
  if (current.startProgram) return current.startProgram(path, verb);
  return system::StartProgram(path, verb);
}

bool CanElevate() {
  const ShellOverrides current = CurrentOverrides();
  return current.canElevate ? current.canElevate() : system::CanElevate();
}

bool StartElevated(const std::string& path, const std::string& parameters) {
  const ShellOverrides current = CurrentOverrides();
  if (current.startElevated) return current.startElevated(path, parameters);
  return system::StartElevated(path, parameters);
}

}  // namespace platform
