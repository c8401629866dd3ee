#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "app/public_key.h"
#include "app/run_log.h"
#include "app/update_run.h"
#include "install/install_names.h"
#include "install/install_transaction.h"
#include "platform/files.h"
#include "platform/install_files.h"
#include "platform/shell.h"

namespace app {
namespace {

constexpr const char* kOutcomeTexts[] = {"installed", "no zip archive at that path", "failed",
                                         "given up before the commit"};
static_assert(std::size(kOutcomeTexts) ==
              static_cast<std::size_t>(install::InstallOutcome::kDeclined) + 1);

}  // namespace

// Checks a local archive and installs it as one transaction over the program
// directory: the main application is then started, also when the path names
// no zip archive (nothing to install: the user's text named something else);
// an archive that is refused or cannot be installed whole leaves the program
// directory as it was and brings message 2. An archive that the user gives up
// installing (the main application still runs) is kept, and the run ends
// without a message. The user's files (for an elevated run, the package in
// the user's temporary directory) are only read, never written or removed.
void UpdateRun::InstallLocal(const std::string& archivePath) {
  install::InstallResult result{install::InstallOutcome::kDeclined};
  if (!SignedBuild()) {
    result = InstallPackage(archivePath);
  } else {
    // With a key, the package is checked and installed as a copy in the
    // program directory, which only this run writes: the user's own files
    // could be replaced between the check and the install.
    const std::string copy = m_programDir + install::kLocalCopyName;
    if (TakeLocalPackage(archivePath, copy) && CheckPackage(copy)) {
      result = InstallPackage(copy, install::ArchiveAfterStaging::kRemoved);
    }
    platform::DeleteFile(copy);
  }
  m_installed = result.outcome == install::InstallOutcome::kInstalled ||
                result.outcome == install::InstallOutcome::kNoArchive;
  if (result.outcome == install::InstallOutcome::kFailed) FailInstall(result);
}

void UpdateRun::FailInstall(const install::InstallResult& result) {
  RunFailure failure{RunStep::kInstall, FailureKind::kInstallFailed};
  failure.item = result.item;
  failure.systemError = result.systemError;
  failure.archiveResult = result.archiveResult;
  Fail(std::move(failure));
}

install::InstallResult UpdateRun::InstallPackage(const std::string& package,
                                                 install::ArchiveAfterStaging after) {
  EnterStep(RunStep::kInstall);
  // A close that came first installs nothing; one that comes during the
  // install takes effect once it has ended, whole.
  if (!m_shutdown.BeginCommit()) return {install::InstallOutcome::kDeclined};
  // The accepted signature becomes the installed release's in the same
  // transaction: it is in place exactly when the new set is.
  std::vector<install::PlacedFile> placed;
  if (m_release) placed.push_back({install::kInstalledSignatureName, m_release->text});
  const install::InstallResult result = install::InstallArchive(
      package, m_programDir, [this] { return WaitForProgramsToEnd(); }, placed, after);
  m_shutdown.EndCommit();
  std::string line = std::string("install: ") + kOutcomeTexts[static_cast<int>(result.outcome)];
  if (result.outcome == install::InstallOutcome::kInstalled) {
    line += ", " + std::to_string(result.items) + " entries";
  }
  m_log.Write(line);
  return result;
}

bool UpdateRun::InstallDownloaded(const std::string& package) {
  const install::InstallResult result = InstallPackage(package);
  if (result.outcome == install::InstallOutcome::kInstalled) return true;
  if (result.outcome == install::InstallOutcome::kDeclined) return false;  // kept for the next run
  FailInstall(result);
  // The next download then fetches the package whole instead of finding it
  // up to date, and its signature anew.
  RemoveDownload(package);
  return false;
}

std::string UpdateRun::PackagePath(bool elevated) const {
  return (elevated ? UserUpdateDirectory() : m_programDir) + install::kPackageName;
}

void UpdateRun::MakeOwnDirectory(const std::string& directory) {
  const std::string path = directory.substr(0, directory.size() - 1);
  const std::optional<platform::EntryStatus> status = platform::GetEntryStatus(path);
  if (status && status->kind != platform::EntryKind::kDirectory && !platform::RemoveEntry(path)) {
    platform::RemoveDirectory(path);  // a junction
  }
  platform::CreateDirectory(path);
}

bool UpdateRun::InstallElevated(const std::string& package) {
  EnterStep(RunStep::kElevation);
  // The elevated run takes the package as a local archive (its 3000 ms wait
  // gives this run the time to end) and starts the main application itself.
  const bool started = platform::StartElevated(m_environment.modulePath, package);
  Fail({RunStep::kElevation, started ? FailureKind::kHandedOver : FailureKind::kElevationRefused});
  return false;
}

}  // namespace app
