// What the updater needs from the desktop shell: message boxes, the browser,
// and starting another program.
#pragma once

#include <functional>
#include <string>

#include "platform/window.h"

namespace platform {

inline constexpr unsigned kMbOkCancel = 0x0001;

// A modal message box owned by `owner` (may be null); returns kIdOk or
// kIdCancel. Texts are in the active code page.
int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
               unsigned style);

// Opens `url` in the user's browser (the shell's "open" verb); the result is
// not reported.
void OpenInBrowser(const std::string& url);

// Starts the program at `path` without arguments and without waiting for it.
// `verb` may be null; "runas" asks for elevation where the system has it.
// True when the program was started.
bool StartProgram(const std::string& path, const char* verb);

// Replacements used by tests so that no box waits for a person, no browser
// opens and no program starts. An empty function restores the real call.
struct ShellOverrides {
  std::function<int(WindowHandle owner, const std::string& text, const std::string& caption,
                    unsigned style)>
      messageBox;
  std::function<void(const std::string& url)> openInBrowser;
  std::function<bool(const std::string& path, const char* verb)> startProgram;
};
void SetShellOverrides(ShellOverrides overrides);

}  // namespace platform
