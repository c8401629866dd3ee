#include "app/command_line.h"

#include "platform/path.h"
#include "platform/text.h"

namespace app {

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

}  // namespace app
