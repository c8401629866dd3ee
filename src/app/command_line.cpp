#include "app/command_line.h"

#include <algorithm>
#include <utility>

#include "platform/path.h"
#include "platform/text.h"

namespace app {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

RunRequest TakeRunSwitch(std::string_view commandLine) {
  // Neither a double quote nor a blank is ever the second byte of a
  // double-byte character, so a byte-wise search is exact here.
  std::size_t programEnd = 0;
  if (commandLine.starts_with('"')) {
    programEnd = std::min(commandLine.find('"', 1), commandLine.size() - 1) + 1;
  } else {
    while (programEnd < commandLine.size() && !IsBlank(commandLine[programEnd])) ++programEnd;
  }
  std::size_t first = programEnd;
  while (first < commandLine.size() && IsBlank(commandLine[first])) ++first;
  for (const auto& [name, mode] : {std::pair{std::string_view("--silent"), RunMode::kSilent},
                                   std::pair{std::string_view("--recover"), RunMode::kRecover}}) {
    const std::string_view rest = commandLine.substr(first);
    if (!rest.starts_with(name) || (rest.size() > name.size() && !IsBlank(rest[name.size()]))) {
      continue;
    }
    std::size_t next = first + name.size();
    while (next < commandLine.size() && IsBlank(commandLine[next])) ++next;
    return RunRequest{mode, std::string(commandLine.substr(0, programEnd)) + " " +
                                std::string(commandLine.substr(next))};
  }
  return RunRequest{RunMode::kDialog, std::string(commandLine)};
}

RunPlan PlanRun(std::string_view commandLine, std::string_view modulePath,
                std::string_view vendorDomain) {
  const std::string quotedSelf = "\"" + std::string(modulePath) + "\" ";
  std::string line(commandLine);
  const std::size_t http = platform::FindText(line, "http");
  if (http != platform::kNotFound) {
    line.erase(0, http);
  } else if (line.size() > quotedSelf.size()) {
    line = platform::RemoveAll(line, quotedSelf);
  } else {
    return RunPlan{RunKind::kNoArgument, {}};
  }

  // The domain test comes first: a text naming the domain without "http" is
  // downloaded, not installed from disk.
  if (!line.empty() && platform::FindText(line, vendorDomain) != platform::kNotFound) {
    return RunPlan{RunKind::kDownload, line};
  }
  if (!line.empty() && platform::FindText(line, "http") == platform::kNotFound) {
    return RunPlan{RunKind::kLocalArchive, line};
  }
  return RunPlan{RunKind::kIdle, line};
}

std::string DirectoryOf(std::string_view modulePath) {
  const std::size_t last = platform::FindLastOf(modulePath, platform::PathSeparators());
  const std::string_view dir =
      last == platform::kNotFound ? std::string_view{} : modulePath.substr(0, last);
  return std::string(dir) + platform::PathSeparator();
}

const char* RelaunchVerb(unsigned osMajorVersion) {
  return osMajorVersion >= 6 ? "runas" : nullptr;
}

}  // namespace app
