// How a progress record is shown: the status line's text and the bar's
// position in 0..100.
#pragma once

#include <cstdint>
#include <string>

namespace app {

struct ProgressDisplay {
  std::string statusText;
  unsigned position = 0;
};

// done and total are the record's sizes read as unsigned 32-bit numbers. The
// percentage is exact for every 32-bit size; a total of 0 shows position 0,
// and the position never exceeds 100.
ProgressDisplay DescribeProgress(std::uint32_t done, std::uint32_t total);

}  // namespace app
