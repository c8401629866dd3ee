// The bounded wait for the programs that run from the program directory: who
// is asked, how often, and how long one round waits.
#include "app/program_wait.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(WaitForPrograms, WaitsARoundThenAsksUntilTheProgramsEndOrTheUserGivesUp) {
  struct Case {
    const char* what;
    int runningLooks;           // looks that still find a program, then none
    std::vector<bool> answers;  // true: try again
    int abandonAfterChecks;     // -1: never
    bool result;
    int shows, asks, pauses;
  };
  // 300 ms a round: three pauses of 100 ms and a look after each.
  const Case cases[] = {
      {"nothing runs", 0, {}, -1, true, 0, 0, 0},
      {"ends within the round", 2, {}, -1, true, 1, 0, 2},
      {"never ends, given up", 1000, {false}, -1, false, 1, 1, 3},
      {"ends after one retry", 4, {true}, -1, true, 1, 1, 3},
      {"still runs after the retry", 1000, {true, false}, -1, false, 2, 2, 6},
      {"the run ends while waiting", 1000, {}, 2, false, 1, 0, 2},
  };
  for (const Case& c : cases) {
    int looks = 0, shows = 0, asks = 0, pauses = 0, checks = 0;
    unsigned paused = 0;
    const app::ProgramWait wait{
        [&] { return looks++ < c.runningLooks; },
        [&] { ++shows; },
        [&] { return asks < static_cast<int>(c.answers.size()) && c.answers[asks++]; },
        [&] { return c.abandonAfterChecks >= 0 && checks++ >= c.abandonAfterChecks; },
        [&](unsigned ms) {
          ++pauses;
          paused += ms;
        },
        300};
    EXPECT_EQ(app::WaitForPrograms(wait), c.result) << c.what;
    EXPECT_EQ(shows, c.shows) << c.what;
    EXPECT_EQ(asks, c.asks) << c.what;
    EXPECT_EQ(pauses, c.pauses) << c.what;
    EXPECT_EQ(paused, static_cast<unsigned>(pauses) * app::kProgramPollMs) << c.what;
  }
}

}  // namespace
