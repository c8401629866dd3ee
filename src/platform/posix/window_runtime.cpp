// The POSIX window runtime: one modal dialog whose messages are handled on
// the thread that runs it. Messages sent from other threads wait in a queue
// until the GUI thread has handled them, as SendMessage does on Windows.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/posix/dialog_view.h"
#include "platform/shell_system.h"
#include "platform/window.h"
#include "res/dialog_texts.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

struct Dialog;

struct Control {
  Dialog* owner;
  int id;
};

struct Pending {
  WindowHandle target = nullptr;
  unsigned message = 0;
  WParam wParam = 0;
  LParam lParam = 0;
  std::function<LResult()> call;  // set instead of a message for runtime work
  LResult result = 0;
  bool done = false;
};

struct Dialog {
  DialogHost* host = nullptr;
  std::thread::id gui;
  Control status{this, 1001};
  Control progress{this, 1000};
  posix::DialogState state;
  std::deque<Pending*> queue;
  bool ended = false;
  int result = 0;
  std::unique_ptr<posix::DialogView> view;
};

// Guards every field of the live dialog; host handlers run without it.
std::mutex runtimeMutex;
std::condition_variable runtimeChanged;
Dialog* liveDialog = nullptr;

// With runtimeMutex held: the live dialog that owns `window`, or null.
Dialog* OwnerOf(WindowHandle window) {
  Dialog* d = liveDialog;
  if (d == nullptr || window == nullptr) return nullptr;
  if (window == d || window == &d->status || window == &d->progress) return d;
  return nullptr;
}

LResult HandleControlMessage(Dialog& d, Control& c, unsigned message, WParam wParam,
                             LParam lParam) {
  std::lock_guard<std::mutex> lock(runtimeMutex);
  if (c.id == 1001 && message == kWmSetText) {
    d.state.status = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
    return 1;
  }
  if (c.id == 1000) {
    switch (message) {
      case kPbmSetRange: {
        const LResult previous = MakeLParam(static_cast<unsigned>(d.state.rangeLow),
                                            static_cast<unsigned>(d.state.rangeHigh));
        d.state.rangeLow = static_cast<int>(lParam & 0xFFFF);
        d.state.rangeHigh = static_cast<int>((lParam >> 16) & 0xFFFF);
        return previous;
      }
      case kPbmSetPos: {
        const LResult previous = d.state.position;
        d.state.position =
            std::clamp(static_cast<int>(wParam), d.state.rangeLow, d.state.rangeHigh);
        return previous;
      }
      case kPbmGetPos:
        return d.state.position;
      default:
        return 0;
    }
  }
  return 0;
}

// On the GUI thread, without the lock.
LResult Dispatch(Dialog& d, WindowHandle target, unsigned message, WParam wParam, LParam lParam) {
  if (target == &d.status) return HandleControlMessage(d, d.status, message, wParam, lParam);
  if (target == &d.progress) return HandleControlMessage(d, d.progress, message, wParam, lParam);
  bool handled = false;
  const LResult result = d.host->OnMessage(message, wParam, lParam, handled);
  if (handled) return result;
  if (message == kWmClose) EndDialog(&d, kIdCancel);
  return 0;
}

// On the GUI thread: handles every queued message, then returns.
void DrainQueue(Dialog& d, std::unique_lock<std::mutex>& lock) {
  while (!d.queue.empty()) {
    Pending* p = d.queue.front();
    d.queue.pop_front();
    lock.unlock();
    const LResult result =
        p->call ? p->call() : Dispatch(d, p->target, p->message, p->wParam, p->lParam);
    lock.lock();
    p->result = result;
    p->done = true;
    runtimeChanged.notify_all();
  }
}

// Runs `call` on the GUI thread of `d` and returns its result; from the GUI
// thread itself it runs at once. Returns 0 when the dialog goes first.
LResult RunOnGuiThread(WindowHandle target, unsigned message, WParam wParam, LParam lParam,
                       std::function<LResult()> call) {
  std::unique_lock<std::mutex> lock(runtimeMutex);
  Dialog* d = OwnerOf(target);
  if (d == nullptr) return 0;
  if (std::this_thread::get_id() == d->gui) {
    lock.unlock();
    return call ? call() : Dispatch(*d, target, message, wParam, lParam);
  }
  Pending p;
  p.target = target;
  p.message = message;
  p.wParam = wParam;
  p.lParam = lParam;
  p.call = std::move(call);
  d->queue.push_back(&p);
  runtimeChanged.notify_all();
  runtimeChanged.wait(lock, [&] { return p.done; });
  return p.result;
}

}  // namespace

int RunModalDialog(int templateId, DialogHost& host) {
  if (templateId != res::kUpdateDialogTemplate) return -1;
  Dialog d;
  d.host = &host;
  d.gui = std::this_thread::get_id();
  d.state.caption = res::kUpdateDialogCaption;
  d.state.status = res::kStatusInitialText;
  d.view = posix::MakeDialogView();
  {
    std::lock_guard<std::mutex> lock(runtimeMutex);
    if (liveDialog != nullptr) return -1;  // one dialog at a time
    liveDialog = &d;
  }
  d.view->Show(d.state);
  host.OnInitDialog(&d);

  std::unique_lock<std::mutex> lock(runtimeMutex);
  while (!d.ended) {
    DrainQueue(d, lock);
    if (d.ended) break;
    const posix::DialogState snapshot = d.state;
    lock.unlock();
    d.view->Refresh(snapshot, Clock::now());
    const posix::Key key = d.view->PollKey();
    if (key != posix::Key::kNone) EndDialog(&d, key == posix::Key::kOk ? kIdOk : kIdCancel);
    lock.lock();
    if (d.ended) break;
    runtimeChanged.wait_for(lock, std::chrono::milliseconds(50),
                            [&] { return !d.queue.empty() || d.ended; });
  }
  lock.unlock();

  host.OnDestroyWindow();

  lock.lock();
  DrainQueue(d, lock);
  liveDialog = nullptr;
  const posix::DialogState last = d.state;
  runtimeChanged.notify_all();
  lock.unlock();
  d.view->Close(last);
  return d.result;
}

void EndDialog(WindowHandle dialog, int result) {
  std::lock_guard<std::mutex> lock(runtimeMutex);
  Dialog* d = OwnerOf(dialog);
  if (d == nullptr || dialog != d || d->ended) return;
  d->ended = true;
  d->result = result;
  runtimeChanged.notify_all();
}

LResult SendMessage(WindowHandle window, unsigned message, WParam wParam, LParam lParam) {
  return RunOnGuiThread(window, message, wParam, lParam, nullptr);
}

bool IsWindow(WindowHandle window) {
  std::lock_guard<std::mutex> lock(runtimeMutex);
  return OwnerOf(window) != nullptr;
}

WindowHandle GetDlgItem(WindowHandle dialog, int controlId) {
  std::lock_guard<std::mutex> lock(runtimeMutex);
  Dialog* d = OwnerOf(dialog);
  if (d == nullptr || dialog != d) return nullptr;
  if (controlId == 1001) return &d->status;
  if (controlId == 1000) return &d->progress;
  return nullptr;
}

void SetDlgItemText(WindowHandle dialog, int controlId, const std::string& text) {
  SendMessage(GetDlgItem(dialog, controlId), kWmSetText, 0, reinterpret_cast<LParam>(text.c_str()));
}

std::string GetDlgItemText(WindowHandle dialog, int controlId) {
  std::lock_guard<std::mutex> lock(runtimeMutex);
  Dialog* d = OwnerOf(dialog);
  if (d == nullptr || dialog != d || controlId != 1001) return {};
  return d->state.status;
}

bool PumpSentMessagesOnce(unsigned waitMs) {
  std::unique_lock<std::mutex> lock(runtimeMutex);
  Dialog* d = liveDialog;
  if (d == nullptr || std::this_thread::get_id() != d->gui) {
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    return false;
  }
  runtimeChanged.wait_for(lock, std::chrono::milliseconds(waitMs),
                          [&] { return !d->queue.empty(); });
  const bool any = !d->queue.empty();
  DrainQueue(*d, lock);
  return any;
}

IconHandle LoadAppIcon(int) { return nullptr; }
bool IsIconic(WindowHandle) { return false; }
void PaintMinimizedIcon(WindowHandle, IconHandle) {}

namespace system {

// A box from another thread is asked on the GUI thread, which owns the
// terminal while the dialog runs.
int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption, unsigned) {
  {
    std::unique_lock<std::mutex> lock(runtimeMutex);
    Dialog* d = liveDialog;
    if (d != nullptr) {
      posix::DialogView* view = d->view.get();
      lock.unlock();
      const LResult answer =
          RunOnGuiThread(owner != nullptr ? owner : d, 0, 0, 0, [view, &text, &caption] {
            return static_cast<LResult>(view->AskOkCancel(caption, text));
          });
      return answer == kIdOk ? kIdOk : kIdCancel;
    }
  }
  return posix::MakeDialogView()->AskOkCancel(caption, text);
}

}  // namespace system
}  // namespace platform
