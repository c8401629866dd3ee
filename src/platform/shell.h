// What the updater needs from the desktop shell: message boxes, the browser,
// and starting another program.
#pragma once

#include <functional>
#include <string>

#include "platform/window.h"

namespace platform {

inline constexpr unsigned kMbOkCancel = 0x0001;
inline constexpr unsigned kMbRetryCancel = 0x0005;

// A modal message box owned by `owner` (may be null); returns the button
// chosen: kIdCancel or another (kIdOk; IDRETRY of a Retry/Cancel box on
// Windows, where a terminal offers OK for it). Texts are in the active code
// page.
int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
               unsigned style);

// Opens `url` in the user's browser (the shell's "open" verb); the result is
// not reported.
void OpenInBrowser(const std::string& url);

// Starts the program at `path` without arguments and without waiting for it.
// `verb` may be null; "runas" asks for elevation where the system has it.
// True when the program was started; otherwise the system's error stays for
// LastSystemError (platform/system_error.h).
bool StartProgram(const std::string& path, const char* verb);

// Whether StartElevated can ask for administrator rights here (Windows: the
// "runas" verb; POSIX has no such prompt).
bool CanElevate();

// Starts the program at `path` with the argument text `parameters` (passed
// as it is, blanks included) and administrator rights, asking the user where
// the system does. False when it was not started: the user refused, or the
// system cannot elevate.
bool StartElevated(const std::string& path, const std::string& parameters);

// Replacements used by tests so that no box waits for a person, no browser
// opens and no program starts, elevated or not. An empty function restores
// the real call.
struct ShellOverrides {
  std::function<int(WindowHandle owner, const std::string& text, const std::string& caption,
                    unsigned style)>
      messageBox;
  std::function<void(const std::string& url)> openInBrowser;
  std::function<bool(const std::string& path, const char* verb)> startProgram;
  std::function<bool()> canElevate;
  std::function<bool(const std::string& path, const std::string& parameters)> startElevated;
};
void SetShellOverrides(ShellOverrides overrides);

}  // namespace platform
