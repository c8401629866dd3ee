// The system's side of shell.h, without the test overrides. One implementation
// per system; only platform/shell.cpp calls these.
#pragma once

#include <string>

#include "platform/window.h"

namespace platform::system {

int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
               unsigned style);
void OpenInBrowser(const std::string& url);
bool StartProgram(const std::string& path, const char* verb);
bool CanElevate();
bool StartElevated(const std::string& path, const std::string& parameters);

}  // namespace platform::system
