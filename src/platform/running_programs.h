// The programs that run from a directory. Their files are in use (on Windows
// they cannot even be replaced), so the install waits for them to end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The ids of every process but this one whose program file lies in
// `directory` (ending in a separator) or below it. Processes that cannot be
// looked at (another user's, where the system hides them) are left out.
std::vector<std::uint32_t> ProgramsRunningIn(const std::string& directory);

// How long the install waits for those programs: `normalMs`, or the
// milliseconds that UPDATER_TEST_PROGRAM_WAIT_MS gives, so that the tests of
// a program that never ends need not wait the full time.
unsigned ProgramWaitMs(unsigned normalMs);

}  // namespace platform
