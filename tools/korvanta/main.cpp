// A stand-in for the vendor's main application: it records that it started,
// with the content of the data file that an update replaces, and says so.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  platform::InitProcess(argc, argv);
  const std::string self = platform::ModulePath();
  const std::size_t last = platform::FindLastOf(self, platform::PathSeparators());
  const std::string dir = last == platform::kNotFound ? std::string() : self.substr(0, last + 1);

  std::ifstream data(dir + "korvanta-data.txt");
  std::ostringstream version;
  version << data.rdbuf();
  std::string text = version.str();
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();

  std::ofstream log(dir + "Korvanta.log", std::ios::app);
  log << "started " << std::time(nullptr) << " data=" << text << "\n";
  std::cout << "Korvanta started (data: " << (text.empty() ? "none" : text) << ")" << std::endl;
  return 0;
}
