#include "app/progress_display.h"

#include <cstdio>
#include <limits>

namespace app {

ProgressDisplay DescribeProgress(std::int64_t done, std::int64_t total) {
  ProgressDisplay display;
  char text[128];
  if (total < 0) {
    std::snprintf(text, sizeof text, "已经下载%lld字节", static_cast<long long>(done));
  } else {
    std::snprintf(text, sizeof text, "已经下载%lld字节/共%lld字节", static_cast<long long>(done),
                  static_cast<long long>(total));
  }
  display.statusText = text;
  if (total > 0 && done > 0) {
    // Exact below 2^63 / 100 bytes (about 92 PB); near enough above.
    const std::int64_t percent = done >= total ? 100
                                 : total <= std::numeric_limits<std::int64_t>::max() / 100
                                     ? done * 100 / total
                                     : done / (total / 100);
    display.position = static_cast<unsigned>(percent);
  }
  return display;
}

}  // namespace app
