// A stand-in for the vendor's main application: it records that it started,
// with the content of the data file that an update replaces, and says so.
//
//   Korvanta.exe --stay MS|forever
// plays an application that is already running when the updater installs:
// it keeps running until MS milliseconds after the install's staging
// directory appeared, or never ("forever"), but at most until a file
// Korvanta.stop appears beside it. It watches the data file meanwhile and at
// its end records every content it saw ("ran data=..."), so a test sees
// whether the install changed the files under it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/install_files.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

std::string ReadData(const std::string& dir) {
  std::ifstream data(dir + "korvanta-data.txt");
  std::ostringstream version;
  version << data.rdbuf();
  std::string text = version.str();
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

void Stay(const std::string& dir, const char* stay) {
  const bool forever = std::strcmp(stay, "forever") == 0;
  constexpr long kStepMs = 20;
  long leftMs = std::strtol(stay, nullptr, 10);
  std::ofstream(dir + "Korvanta.log", std::ios::app) << "running\n";
  std::string last = ReadData(dir);
  std::string seen = last;
  bool counting = false;
  while ((forever || leftMs > 0) && !platform::GetEntryStatus(dir + "Korvanta.stop")) {
    platform::SleepMs(kStepMs);
    const std::string now = ReadData(dir);
    if (now != last) seen += "," + now;
    last = now;
    // A commit that did not wait may pass between two looks at the staging
    // directory; the changed data starts the count then.
    counting = counting || now != seen || platform::GetEntryStatus(dir + "update.staging");
    if (counting) leftMs -= kStepMs;
  }
  std::ofstream(dir + "Korvanta.log", std::ios::app) << "ran data=" << seen << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitProcess(argc, argv);
  const std::string self = platform::ModulePath();
  const std::size_t last = platform::FindLastOf(self, platform::PathSeparators());
  const std::string dir = last == platform::kNotFound ? std::string() : self.substr(0, last + 1);
  if (argc == 3 && std::strcmp(argv[1], "--stay") == 0) {
    Stay(dir, argv[2]);
    return 0;
  }

  const std::string text = ReadData(dir);
  std::ofstream log(dir + "Korvanta.log", std::ios::app);
  log << "started " << std::time(nullptr) << " data=" << text << "\n";
  std::cout << "Korvanta started (data: " << (text.empty() ? "none" : text) << ")" << std::endl;
  return 0;
}
