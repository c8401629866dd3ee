// Where a minimised window draws its icon.
#pragma once

namespace platform::win32 {

struct IconOrigin {
  int x;
  int y;
};

// The icon's top-left corner, centred in the client area the classic way:
// x = (client width - icon width + 1) / 2, y likewise (integer division).
constexpr IconOrigin MinimizedIconOrigin(int clientWidth, int clientHeight, int iconWidth,
                                         int iconHeight) {
  return IconOrigin{(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

}  // namespace platform::win32
