// The Win32 window runtime: a modal dialog made from a dialog template of the
// executable, run by the system's dialog manager.
//
// Once WM_INITDIALOG arrives the dialog window is subclassed, so every later
// message reaches the host first and a handled message returns the host's
// result as the window procedure's own (WM_QUERYDRAGICON returns an icon,
// message 1125 an LRESULT), as a class framework's message map does. What the
// host leaves alone goes to the dialog manager, except the commands a dialog
// base class ends the dialog on: IDOK (Enter), IDCANCEL (Esc) and WM_CLOSE
// (the close box), which end the modal loop with IDOK or IDCANCEL.
#include "platform/window.h"

#include <string>

#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// Posted to the dialog to end it from a thread that does not own it.
constexpr UINT kEndDialogMessage = WM_APP + 0x3E0;
constexpr char kStateProperty[] = "platform.dialog";

struct DialogState {
  DialogHost* host = nullptr;
  WNDPROC dialogManagerProc = nullptr;
  bool destroyReported = false;
};

DialogState* StateOf(HWND window) {
  return static_cast<DialogState*>(GetPropA(window, kStateProperty));
}

LRESULT CALLBACK DialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DialogState* state = StateOf(window);
  if (state == nullptr) return DefDlgProcA(window, message, wParam, lParam);
  const WNDPROC next = state->dialogManagerProc;

  switch (message) {
    case kEndDialogMessage:
      ::EndDialog(window, static_cast<INT_PTR>(wParam));
      return 0;
    case WM_DESTROY:
      // The modal loop has ended and the window still exists with its
      // controls: the host's last look at them.
      if (!state->destroyReported) {
        state->destroyReported = true;
        state->host->OnDestroyWindow();
      }
      return CallWindowProcA(next, window, message, wParam, lParam);
    case WM_NCDESTROY: {
      RemovePropA(window, kStateProperty);
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(next));
      return CallWindowProcA(next, window, message, wParam, lParam);
    }
    default:
      break;
  }

  bool handled = false;
  const LResult result = state->host->OnMessage(message, wParam, lParam, handled);
  if (handled) return result;

  switch (message) {
    case WM_CLOSE:
      ::EndDialog(window, IDCANCEL);
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == 0 || HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
          ::EndDialog(window, LOWORD(wParam));
          return 0;
        }
      }
      break;
    default:
      break;
  }
  return CallWindowProcA(next, window, message, wParam, lParam);
}

// The dialog procedure sees WM_INITDIALOG only; afterwards the subclass
// procedure above takes the messages first.
INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  auto* state = reinterpret_cast<DialogState*>(lParam);
  SetPropA(window, kStateProperty, state);
  state->dialogManagerProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DialogWindowProc)));
  return state->host->OnInitDialog(window) ? TRUE : FALSE;
}

bool OwnedByThisThread(HWND window) {
  return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

}  // namespace

int RunModalDialog(int templateId, DialogHost& host) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  DialogState state;
  state.host = &host;
  const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId),
                                         nullptr, &DialogProc, reinterpret_cast<LPARAM>(&state));
  return static_cast<int>(result);
}

void EndDialog(WindowHandle dialog, int result) {
  const HWND window = static_cast<HWND>(dialog);
  if (!::IsWindow(window)) return;
  if (OwnedByThisThread(window)) {
    ::EndDialog(window, result);
  } else {
    // Posted, so a caller never waits for a dialog thread that may be
    // waiting for it; the modal loop ends the dialog when it gets there.
    PostMessageA(window, kEndDialogMessage, static_cast<WPARAM>(result), 0);
  }
}

LResult SendMessage(WindowHandle window, unsigned message, WParam wParam, LParam lParam) {
  return SendMessageA(static_cast<HWND>(window), message, wParam, lParam);
}

bool IsWindow(WindowHandle window) {
  return window != nullptr && ::IsWindow(static_cast<HWND>(window)) != FALSE;
}

WindowHandle GetDlgItem(WindowHandle dialog, int controlId) {
  return ::GetDlgItem(static_cast<HWND>(dialog), controlId);
}

void SetDlgItemText(WindowHandle dialog, int controlId, const std::string& text) {
  SetDlgItemTextA(static_cast<HWND>(dialog), controlId, text.c_str());
}

std::string GetDlgItemText(WindowHandle dialog, int controlId) {
  const HWND control = ::GetDlgItem(static_cast<HWND>(dialog), controlId);
  if (control == nullptr) return {};
  const int length = GetWindowTextLengthA(control);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(control, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

bool PumpSentMessagesOnce(unsigned waitMs) {
  // Wakes for messages that other threads send to this thread's windows and
  // handles them; posted messages and input stay queued for the modal loop.
  const DWORD woke =
      MsgWaitForMultipleObjectsEx(0, nullptr, waitMs, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  return woke == WAIT_OBJECT_0;
}

IconHandle LoadAppIcon(int iconGroupId) {
  // A shared icon of the module's resources; the system frees it.
  return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconGroupId));
}

bool IsIconic(WindowHandle window) { return ::IsIconic(static_cast<HWND>(window)) != FALSE; }

}  // namespace platform
