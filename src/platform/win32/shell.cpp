#include "platform/shell_system.h"
#include "platform/win32/windows_api.h"

namespace platform::system {

int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
               unsigned style) {
  return MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), style);
}

void OpenInBrowser(const std::string& url) {
  ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

bool StartProgram(const std::string& path, const char* verb) {
  // The record as a 32-bit program fills it: 60 bytes, no mask, so the fields
  // after hInstApp are not read.
  static_assert(sizeof(void*) != 4 || sizeof(SHELLEXECUTEINFOA) == 60);
  SHELLEXECUTEINFOA info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = 0;
  info.hwnd = nullptr;
  info.lpVerb = verb;
  info.lpFile = path.c_str();
  info.lpParameters = nullptr;
  info.lpDirectory = nullptr;
  info.nShow = SW_SHOW;
  info.hInstApp = nullptr;
  if (!ShellExecuteExA(&info)) return false;
  // hInstApp holds a value above 32 when the program was started; below,
  // one of the SE_ERR_ codes, which share their numbers with system errors.
  const INT_PTR code = reinterpret_cast<INT_PTR>(info.hInstApp);
  if (code > 32) return true;
  SetLastError(static_cast<DWORD>(code));
  return false;
}

bool CanElevate() { return true; }

bool StartElevated(const std::string& path, const std::string& parameters) {
  SHELLEXECUTEINFOA info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  info.lpVerb = "runas";
  info.lpFile = path.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOW;
  // A refused prompt fails the call (ERROR_CANCELLED).
  if (!ShellExecuteExA(&info)) return false;
  return reinterpret_cast<INT_PTR>(info.hInstApp) > 32;
}

}  // namespace platform::system
