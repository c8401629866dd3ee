// The window runtime: one modal dialog with a message loop on the GUI thread.
//
// The updater's dialog logic is written against these calls only. Message
// numbers are those of the Windows API, so the Win32 implementation passes them
// straight through and the POSIX implementation interprets the few it knows.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using WindowHandle = void*;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;
using IconHandle = void*;

inline constexpr unsigned kWmSetText = 0x000C;
inline constexpr unsigned kWmPaint = 0x000F;
inline constexpr unsigned kWmClose = 0x0010;
inline constexpr unsigned kWmQueryDragIcon = 0x0037;
inline constexpr unsigned kWmSetIcon = 0x0080;
inline constexpr unsigned kWmUser = 0x0400;
inline constexpr unsigned kPbmSetRange = 0x0401;
inline constexpr unsigned kPbmSetPos = 0x0402;
inline constexpr unsigned kPbmGetPos = 0x0408;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

constexpr LParam MakeLParam(unsigned low, unsigned high) {
  return static_cast<LParam>((static_cast<std::uint32_t>(high & 0xFFFF) << 16) | (low & 0xFFFF));
}

// What a dialog supplies to the runtime. All calls arrive on the GUI thread.
class DialogHost {
 public:
  virtual ~DialogHost() = default;
  // The window and its controls exist. The result is the dialog procedure's.
  virtual bool OnInitDialog(WindowHandle dialog) = 0;
  // Any message sent or posted to the dialog (WM_PAINT, user
  // messages, WM_CLOSE...). Leave `handled` false for the default handling,
  // which for WM_CLOSE ends the modal loop with kIdCancel.
  virtual LResult OnMessage(unsigned message, WParam wParam, LParam lParam, bool& handled) = 0;
  // The modal loop has ended; the window still exists and goes away right
  // after this returns. Messages sent from other threads while this runs are
  // still delivered to OnMessage if the host pumps them (PumpSentMessagesUntil).
  virtual void OnDestroyWindow() = 0;
};

// Creates dialog `templateId` (the status text 1001 and the progress bar 1000)
// and runs its modal loop until EndDialog or a default-handled WM_CLOSE.
// Returns the value given to EndDialog, or -1 when the window cannot be made.
int RunModalDialog(int templateId, DialogHost& host);

// Ends the modal loop of `dialog` with `result` once the current message is done.
void EndDialog(WindowHandle dialog, int result);

// Synchronous delivery: from another thread the caller blocks until the GUI
// thread has handled the message and gets its result.
LResult SendMessage(WindowHandle window, unsigned message, WParam wParam, LParam lParam);

bool IsWindow(WindowHandle window);
WindowHandle GetDlgItem(WindowHandle dialog, int controlId);
// Texts are in the active code page.
void SetDlgItemText(WindowHandle dialog, int controlId, const std::string& text);
std::string GetDlgItemText(WindowHandle dialog, int controlId);

// On the GUI thread: handles messages that other threads send to its windows
// until `done` returns true or `timeoutMs` passes. True when `done` held.
template <typename Done>
bool PumpSentMessagesUntil(Done done, unsigned timeoutMs);
bool PumpSentMessagesOnce(unsigned waitMs);

// The application icon and the minimised-window painting that shows it.
IconHandle LoadAppIcon(int iconGroupId);
bool IsIconic(WindowHandle window);
// Paints `icon` centred in the client area of the minimised `window`.
void PaintMinimizedIcon(WindowHandle window, IconHandle icon);

}  // namespace platform

#include <chrono>

namespace platform {
template <typename Done>
bool PumpSentMessagesUntil(Done done, unsigned timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    PumpSentMessagesOnce(static_cast<unsigned>(left < 10 ? left : 10));
  }
  return true;
}
}  // namespace platform
