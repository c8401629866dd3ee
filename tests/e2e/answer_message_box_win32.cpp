// Waits for a message box captioned "提示" in this wine session, writes its
// text to standard output and answers Cancel, as a user who declines the
// download page would. The end-to-end runs of the Windows build use it to see
// message 2 and let the updater end.
//   answer-message-box.exe [SECONDS]   exit 0 answered, 1 no box in time
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The longest text of the box's static controls: the message itself.
BOOL CALLBACK TakeLongestText(HWND child, LPARAM found) {
  char className[32] = "";
  GetClassNameA(child, className, sizeof className);
  if (lstrcmpiA(className, "Static") != 0) return TRUE;
  char text[2048] = "";
  GetWindowTextA(child, text, sizeof text);
  auto* longest = reinterpret_cast<std::string*>(found);
  if (std::string(text).size() > longest->size()) *longest = text;
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  const DWORD seconds = argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) : 60;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < seconds * 1000) {
    HWND box = FindWindowA("#32770", "提示");
    if (box != nullptr) {
      std::string text;
      EnumChildWindows(box, TakeLongestText, reinterpret_cast<LPARAM>(&text));
      std::fputs(text.c_str(), stdout);
      std::fflush(stdout);
      PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
      return 0;
    }
    Sleep(50);
  }
  return 1;
}
