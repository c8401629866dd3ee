// The Win32 window runtime with the real dialog template 102: what the system
// makes of it, how messages reach the host and what ends the modal loop.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/win32/windows_api.h"
#include "platform/window.h"
#include "res/resource.h"

namespace {

using platform::LParam;
using platform::LResult;
using platform::WindowHandle;
using platform::WParam;

constexpr std::uintptr_t kSafetyTimer = 0x5AFE;
constexpr unsigned kSafetyMs = 10000;
constexpr int kSafetyResult = -2;  // the dialog did not end by itself
constexpr unsigned kProgressMessage = platform::kWmUser + 101;

// A host made of functions; a safety timer ends a dialog that would otherwise
// wait for a person.
class TestHost : public platform::DialogHost {
 public:
  std::function<void(HWND)> onInit;
  std::function<LResult(unsigned, WParam, LParam, bool&)> onMessage;
  std::function<void()> onDestroy;
  HWND dialog = nullptr;
  int destroyCalls = 0;

  bool OnInitDialog(WindowHandle window) override {
    dialog = static_cast<HWND>(window);
    platform::SetTimer(window, kSafetyTimer, kSafetyMs);
    if (onInit) onInit(dialog);
    return true;
  }
  LResult OnMessage(unsigned message, WParam wParam, LParam lParam, bool& handled) override {
    if (message == WM_TIMER && wParam == kSafetyTimer) {
      platform::EndDialog(dialog, kSafetyResult);
      handled = true;
      return 0;
    }
    return onMessage ? onMessage(message, wParam, lParam, handled) : 0;
  }
  void OnDestroyWindow() override {
    ++destroyCalls;
    if (onDestroy) onDestroy();
  }
};

std::string WindowText(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassName(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return CharLowerA(name);
}

TEST(Win32Dialog, IsMadeFromTemplate102WithItsTextsInTheAnsiCodePage) {
  TestHost host;
  std::string caption, status, progressClass, statusClass;
  LONG style = 0, exStyle = 0;
  LResult range = 0;
  host.onInit = [&](HWND dialog) {
    caption = WindowText(dialog);
    status = platform::GetDlgItemText(dialog, IDC_STATUS_TEXT);
    statusClass = ClassName(::GetDlgItem(dialog, IDC_STATUS_TEXT));
    progressClass = ClassName(::GetDlgItem(dialog, IDC_DOWNLOAD_PROGRESS));
    style = GetWindowLongA(dialog, GWL_STYLE);
    exStyle = GetWindowLongA(dialog, GWL_EXSTYLE);
    // The progress bar answers its own messages.
    platform::SendMessage(platform::GetDlgItem(dialog, IDC_DOWNLOAD_PROGRESS),
                          platform::kPbmSetRange, 0, platform::MakeLParam(0, 100));
    platform::SendMessage(platform::GetDlgItem(dialog, IDC_DOWNLOAD_PROGRESS), platform::kPbmSetPos,
                          37, 0);
    range = platform::SendMessage(platform::GetDlgItem(dialog, IDC_DOWNLOAD_PROGRESS),
                                  platform::kPbmGetPos, 0, 0);
    platform::EndDialog(dialog, 42);
  };
  ASSERT_EQ(platform::RunModalDialog(IDD_UPDATE_DIALOG, host), 42);

  ASSERT_EQ(GetACP(), 936u) << "the tests run with the GBK code page (LC_ALL=zh_CN.UTF-8)";
  EXPECT_EQ(caption, "\xB8\xFC\xD0\xC2\xCF\xC2\xD4\xD8");  // 更新下载 in GBK
  EXPECT_EQ(status, "\xC1\xB4\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xA3\xAC\xC7\xEB\xB5\xC8\xB4\xFD...");
  EXPECT_EQ(status, "链接服务器，请等待...");  // the compiled literal has the same bytes
  EXPECT_EQ(statusClass, "static");
  EXPECT_EQ(progressClass, "msctls_progress32");
  EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), WS_POPUP | WS_CAPTION | WS_SYSMENU);
  EXPECT_NE(exStyle & WS_EX_APPWINDOW, 0);
  EXPECT_EQ(range, 37);
  EXPECT_EQ(host.destroyCalls, 1);
  EXPECT_FALSE(platform::IsWindow(host.dialog));
}

TEST(Win32Dialog, MissingTemplateFailsWithoutCallingTheHost) {
  TestHost host;
  bool initialised = false;
  host.onInit = [&](HWND) { initialised = true; };
  EXPECT_EQ(platform::RunModalDialog(999, host), -1);
  EXPECT_FALSE(initialised);
}

// Enter, Esc and the close box end the dialog as a dialog base does, also
// when the request is sent during initialisation.
TEST(Win32Dialog, EnterEscapeAndCloseEndTheModalLoop) {
  struct Case {
    const char* what;
    std::function<void(HWND)> request;
    int result;
  };
  const Case cases[] = {
      {"Enter", [](HWND d) { PostMessageA(d, WM_KEYDOWN, VK_RETURN, 0); }, IDOK},
      {"Esc", [](HWND d) { PostMessageA(d, WM_KEYDOWN, VK_ESCAPE, 0); }, IDCANCEL},
      {"close box", [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL},
      {"WM_CLOSE sent", [](HWND d) { platform::SendMessage(d, WM_CLOSE, 0, 0); }, IDCANCEL},
      {"IDOK command", [](HWND d) { PostMessageA(d, WM_COMMAND, IDOK, 0); }, IDOK},
  };
  for (const Case& c : cases) {
    TestHost host;
    host.onInit = c.request;
    EXPECT_EQ(platform::RunModalDialog(IDD_UPDATE_DIALOG, host), c.result) << c.what;
    EXPECT_EQ(host.destroyCalls, 1) << c.what;
  }
}

TEST(Win32Dialog, CloseHandledByTheHostKeepsTheDialogOpen) {
  TestHost host;
  int closes = 0;
  host.onInit = [&](HWND d) {
    platform::SendMessage(d, WM_CLOSE, 0, 0);
    platform::SetTimer(d, 1, 100);
  };
  host.onMessage = [&](unsigned message, WParam wParam, LParam, bool& handled) -> LResult {
    if (message == WM_CLOSE) {
      ++closes;
      handled = true;
    } else if (message == WM_TIMER && wParam == 1) {
      platform::EndDialog(host.dialog, 5);
      handled = true;
    }
    return 0;
  };
  EXPECT_EQ(platform::RunModalDialog(IDD_UPDATE_DIALOG, host), 5);
  EXPECT_EQ(closes, 1);
}

// A handled message returns the host's value as the window procedure's own:
// WM_QUERYDRAGICON an icon handle, the progress message an LRESULT, also when
// sent from another thread, whose call runs on the dialog's thread.
TEST(Win32Dialog, HandledMessagesReturnTheHostsResult) {
  TestHost host;
  const DWORD guiThread = GetCurrentThreadId();
  std::atomic<DWORD> handlerThread{0};
  LResult dragIcon = 0, sameThread = 0, unhandled = -1;
  std::atomic<LResult> otherThread{0};
  std::thread worker;
  host.onMessage = [&](unsigned message, WParam, LParam lParam, bool& handled) -> LResult {
    if (message == WM_QUERYDRAGICON) {
      handled = true;
      return 0x1234;
    }
    if (message == kProgressMessage) {
      handled = true;
      handlerThread = GetCurrentThreadId();
      return lParam == 0 ? 1 : *reinterpret_cast<const int*>(lParam) * 2;
    }
    return 0;
  };
  host.onInit = [&](HWND d) {
    dragIcon = platform::SendMessage(d, WM_QUERYDRAGICON, 0, 0);
    sameThread = platform::SendMessage(d, kProgressMessage, 0, 0);
    unhandled = platform::SendMessage(d, platform::kWmUser + 7, 0, 0);
    worker = std::thread([d, &otherThread] {
      int record = 21;  // lives on this thread's stack, as a progress record does
      otherThread =
          platform::SendMessage(d, kProgressMessage, 0, reinterpret_cast<LParam>(&record));
      platform::SendMessage(d, WM_CLOSE, 0, 0);
    });
  };
  EXPECT_EQ(platform::RunModalDialog(IDD_UPDATE_DIALOG, host), IDCANCEL);
  worker.join();
  EXPECT_EQ(dragIcon, 0x1234);
  EXPECT_EQ(sameThread, 1);
  EXPECT_EQ(unhandled, 0);
  EXPECT_EQ(otherThread.load(), 42);
  EXPECT_EQ(handlerThread.load(), guiThread);
}

TEST(Win32Dialog, TimerArrivesAsWmTimerWithItsIdUntilKilled) {
  TestHost host;
  int ticks = 0;
  host.onInit = [&](HWND d) {
    EXPECT_TRUE(platform::SetTimer(d, 2001, 30));
    platform::SetTimer(d, 7, 400);
  };
  host.onMessage = [&](unsigned message, WParam wParam, LParam, bool& handled) -> LResult {
    if (message != WM_TIMER) return 0;
    handled = true;
    if (wParam == 2001) {
      ++ticks;
      EXPECT_TRUE(platform::KillTimer(host.dialog, 2001));
    } else if (wParam == 7) {
      platform::EndDialog(host.dialog, IDOK);
    }
    return 0;
  };
  EXPECT_EQ(platform::RunModalDialog(IDD_UPDATE_DIALOG, host), IDOK);
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(platform::KillTimer(host.dialog, 2001));  // the window is gone
}

// When the loop has ended the window still exists, and a message that another
// thread sends meanwhile is handled once the host pumps sent messages.
TEST(Win32Dialog, DestroyHookCanHandleMessagesSentFromAnotherThread) {
  TestHost host;
  std::atomic<bool> release{false};
  std::atomic<bool> answered{false};
  bool windowAlive = false, controlAlive = false, pumped = false;
  int handledInHook = 0;
  std::thread worker;
  host.onInit = [&](HWND d) {
    worker = std::thread([d, &release, &answered] {
      while (!release) Sleep(1);
      platform::SendMessage(d, kProgressMessage, 0, 0);
      answered = true;
    });
    platform::EndDialog(d, IDOK);
  };
  host.onMessage = [&](unsigned message, WParam, LParam, bool& handled) -> LResult {
    if (message == kProgressMessage) {
      ++handledInHook;
      handled = true;
    }
    return 0;
  };
  host.onDestroy = [&] {
    windowAlive = platform::IsWindow(host.dialog);
    controlAlive = platform::GetDlgItem(host.dialog, IDC_STATUS_TEXT) != nullptr;
    release = true;
    pumped = platform::PumpSentMessagesUntil([&] { return answered.load(); }, 5000);
  };
  EXPECT_EQ(platform::RunModalDialog(IDD_UPDATE_DIALOG, host), IDOK);
  worker.join();
  EXPECT_TRUE(windowAlive);
  EXPECT_TRUE(controlAlive);
  EXPECT_TRUE(pumped);
  EXPECT_EQ(handledInHook, 1);
}

TEST(Win32Dialog, PumpWithNothingSentWaitsAndReportsNothing) {
  const DWORD start = GetTickCount();
  EXPECT_FALSE(platform::PumpSentMessagesOnce(50));
  EXPECT_GE(GetTickCount() - start, 40u);
}

TEST(Win32Dialog, AppIconIsSetForBothSizesAndTheWindowMinimises) {
  TestHost host;
  platform::IconHandle icon = platform::LoadAppIcon(IDI_UPDATER);
  ASSERT_NE(icon, nullptr);
  LResult big = 0, small = 0;
  bool iconicBefore = true, iconicAfter = false;
  host.onInit = [&](HWND d) {
    platform::SendMessage(d, platform::kWmSetIcon, ICON_BIG, reinterpret_cast<LParam>(icon));
    platform::SendMessage(d, platform::kWmSetIcon, ICON_SMALL, reinterpret_cast<LParam>(icon));
    big = platform::SendMessage(d, WM_GETICON, ICON_BIG, 0);
    small = platform::SendMessage(d, WM_GETICON, ICON_SMALL, 0);
    iconicBefore = platform::IsIconic(d);
    PostMessageA(d, WM_APP, 0, 0);
  };
  host.onMessage = [&](unsigned message, WParam, LParam, bool& handled) -> LResult {
    if (message == WM_APP) {
      ShowWindow(host.dialog, SW_MINIMIZE);
      iconicAfter = platform::IsIconic(host.dialog);
      platform::EndDialog(host.dialog, IDOK);
      handled = true;
    }
    return 0;
  };
  EXPECT_EQ(platform::RunModalDialog(IDD_UPDATE_DIALOG, host), IDOK);
  EXPECT_EQ(big, reinterpret_cast<LResult>(icon));
  EXPECT_EQ(small, reinterpret_cast<LResult>(icon));
  EXPECT_FALSE(iconicBefore);
  EXPECT_TRUE(iconicAfter);
}

// The minimised painting draws the icon at ((w - SM_CXICON + 1) / 2,
// (h - SM_CYICON + 1) / 2) of the client area; drawn here into the open
// window, whose pixels can be read back.
TEST(Win32Dialog, MinimisedPaintingCentresTheIcon) {
  TestHost host;
  platform::IconHandle icon = platform::LoadAppIcon(IDI_UPDATER);
  ASSERT_NE(icon, nullptr);
  bool painted = false;
  COLORREF centre = 0, top = 0, outside = 0;
  host.onInit = [&](HWND d) { PostMessageA(d, WM_APP, 0, 0); };
  host.onMessage = [&](unsigned message, WParam, LParam, bool& handled) -> LResult {
    if (message == WM_PAINT) {
      platform::PaintMinimizedIcon(host.dialog, icon);
      painted = true;
      handled = true;
    } else if (message == WM_APP) {
      RedrawWindow(host.dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
      RECT client;
      GetClientRect(host.dialog, &client);
      const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
      const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
      HDC dc = GetDC(host.dialog);
      centre = GetPixel(dc, x + 16, y + 16);  // the white arrow
      top = GetPixel(dc, x + 16, y + 4);      // the blue square above it
      outside = GetPixel(dc, x - 3, y + 16);  // the dialog's background
      ReleaseDC(host.dialog, dc);
      platform::EndDialog(host.dialog, IDOK);
      handled = true;
    }
    return 0;
  };
  EXPECT_EQ(platform::RunModalDialog(IDD_UPDATE_DIALOG, host), IDOK);
  ASSERT_TRUE(painted);
  EXPECT_EQ(centre, RGB(255, 255, 255));
  EXPECT_GT(GetBValue(top), GetRValue(top) + 60) << std::hex << top;
  EXPECT_LT(GetBValue(outside), GetRValue(outside) + 30) << std::hex << outside;
}

}  // namespace
