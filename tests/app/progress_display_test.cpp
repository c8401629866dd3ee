#include "app/progress_display.h"

#include <gtest/gtest.h>

namespace {

TEST(DescribeProgress, StatusTextAndPosition) {
  struct Case {
    std::uint32_t done;
    std::uint32_t total;
    const char* text;
    unsigned position;
  };
  const Case cases[] = {
      {0, 1000, "已经下载0字节/共1000字节", 0},
      {1000, 1000, "已经下载1000字节/共1000字节", 100},
      {999, 1000, "已经下载999字节/共1000字节", 99},  // truncates
      // Above 42,949,672 bytes done * 100 no longer fits in 32 bits.
      {50000000, 100000000, "已经下载50000000字节/共100000000字节", 50},
      {2000000000, 2000000001, "已经下载2000000000字节/共2000000001字节", 99},
      {0, 0, "已经下载0字节/共0字节", 0},         // no division by zero
      {3000, 1000, "已经下载3000字节/共1000字节", 100},  // never past 100
  };
  for (const auto& c : cases) {
    const app::ProgressDisplay d = app::DescribeProgress(c.done, c.total);
    EXPECT_EQ(d.statusText, c.text);
    EXPECT_EQ(d.position, c.position) << c.done << "/" << c.total;
  }
}

TEST(DescribeProgress, EveryStepOfALargeFileIsTheTruePercentage) {
  const std::uint32_t total = 0xF0000000u;
  for (std::uint32_t done = 0; done <= total - total / 7; done += total / 7) {
    const auto expected = static_cast<unsigned>(static_cast<std::uint64_t>(done) * 100 / total);
    EXPECT_EQ(app::DescribeProgress(done, total).position, expected) << done;
  }
}

}  // namespace
