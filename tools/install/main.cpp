// updater-install: the updater's install transaction from a shell, without
// the dialog, its start delay or the start of the main application.
//
//   updater-install [--signature FILE] ARCHIVE DIRECTORY
//                                       finish or undo an interrupted install
//                                       in DIRECTORY, then install ARCHIVE;
//                                       FILE (taken as it is, not checked)
//                                       becomes the installed release's
//                                       signature in the same transaction
//   updater-install --recover DIRECTORY only the first half
//
// Exit status: 0 installed (or recovered), 1 no zip archive at that path, 3 the
// install failed and DIRECTORY is as it was, 64 bad usage.
#include <cstdio>
#include <string>
#include <vector>

#include "install/install_names.h"
#include "install/install_transaction.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/process.h"

namespace {

std::string AsDirectory(std::string path) {
  const std::string_view separators = platform::PathSeparators();
  if (path.empty() || separators.find(path.back()) == std::string_view::npos) {
    path += platform::PathSeparator();
  }
  return path;
}

bool ReadWhole(const std::string& path, std::string& bytes) {
  platform::File file = platform::File::Open(path, platform::OpenMode::kRead);
  char buffer[4096];
  std::int64_t n = 0;
  while ((n = file.Read(buffer, sizeof buffer)) > 0)
    bytes.append(buffer, static_cast<std::size_t>(n));
  return file.IsOpen() && n == 0;
}

int Usage() {
  std::fprintf(
      stderr,
      "usage: updater-install [--signature FILE] ARCHIVE DIRECTORY | --recover DIRECTORY\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitProcess(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<install::PlacedFile> placed;
  if (args.size() == 4 && args[0] == "--signature") {
    placed.push_back({install::kInstalledSignatureName, {}});
    if (!ReadWhole(args[1], placed.back().bytes)) return Usage();
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() != 2) return Usage();
  const std::string directory = AsDirectory(args[1]);
  if (args[0] == "--recover") {
    return install::RecoverInterruptedInstall(directory) ? 0 : 3;
  }
  switch (install::InstallArchive(args[0], directory, {}, placed).outcome) {
    case install::InstallOutcome::kInstalled:
      return 0;
    case install::InstallOutcome::kNoArchive:
      return 1;
    case install::InstallOutcome::kFailed:
    case install::InstallOutcome::kDeclined:  // not asked for here
      break;
  }
  return 3;
}
