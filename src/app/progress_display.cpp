#include "app/progress_display.h"

#include <cstdio>

namespace app {

ProgressDisplay DescribeProgress(std::uint32_t done, std::uint32_t total) {
  ProgressDisplay display;
  char text[128];
  std::snprintf(text, sizeof text, "已经下载%d字节/共%d字节", static_cast<int>(done),
                static_cast<int>(total));
  display.statusText = text;
  if (total != 0) {
    const std::uint64_t percent = static_cast<std::uint64_t>(done) * 100u / total;
    display.position = static_cast<unsigned>(percent > 100 ? 100 : percent);
  }
  return display;
}

}  // namespace app
