#include "platform/win32/minimized_icon.h"

#include "platform/win32/windows_api.h"
#include "platform/window.h"

namespace platform {
namespace {

// BeginPaint/EndPaint as one owner.
class PaintContext {
 public:
  explicit PaintContext(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
  ~PaintContext() {
    if (dc_ != nullptr) EndPaint(window_, &paint_);
  }
  PaintContext(const PaintContext&) = delete;
  PaintContext& operator=(const PaintContext&) = delete;
  HDC dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

}  // namespace

void PaintMinimizedIcon(WindowHandle window, IconHandle icon) {
  const HWND hwnd = static_cast<HWND>(window);
  PaintContext paint(hwnd);
  if (paint.dc() == nullptr) return;
  SendMessageA(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.dc()), 0);
  RECT client{};
  GetClientRect(hwnd, &client);
  const win32::IconOrigin origin =
      win32::MinimizedIconOrigin(client.right - client.left, client.bottom - client.top,
                                 GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  DrawIcon(paint.dc(), origin.x, origin.y, static_cast<HICON>(icon));
}

}  // namespace platform
