// How a progress record is shown: the status line's text and the bar's
// position in 0..100.
#pragma once

#include <cstdint>
#include <string>

namespace app {

// The status line while the engine waits to try the connection again.
inline constexpr char kRetryingText[] = "网络连接中断，正在重试，请等待...";

struct ProgressDisplay {
  std::string statusText;
  unsigned position = 0;
};

// done and total are the record's sizes, 64-bit. A total below 0 (a body
// whose length comes only with its end) shows the bytes received alone at
// position 0; a total of 0 shows position 0, and the position never
// exceeds 100.
ProgressDisplay DescribeProgress(std::int64_t done, std::int64_t total);

}  // namespace app
