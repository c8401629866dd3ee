// updater-install: the updater's install transaction from a shell, without
// the dialog, its start delay or the start of the main application.
//
//   updater-install ARCHIVE DIRECTORY   finish or undo an interrupted install
//                                       in DIRECTORY, then install ARCHIVE
//   updater-install --recover DIRECTORY only the first half
//
// Exit status: 0 installed (or recovered), 1 no zip archive at that path, 3 the
// install failed and DIRECTORY is as it was, 64 bad usage.
#include <cstdio>
#include <cstring>
#include <string>

#include "install/install_transaction.h"
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

}  // namespace

int main(int argc, char** argv) {
  platform::InitProcess(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: updater-install ARCHIVE DIRECTORY | --recover DIRECTORY\n");
    return 64;
  }
  const std::string directory = AsDirectory(argv[2]);
  if (std::strcmp(argv[1], "--recover") == 0) {
    return install::RecoverInterruptedInstall(directory) ? 0 : 3;
  }
  switch (install::InstallArchive(argv[1], directory)) {
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
