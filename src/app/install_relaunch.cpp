#include <optional>
#include <vector>

#include "app/command_line.h"
#include "app/public_key.h"
#include "app/update_dialog.h"
#include "install/install_names.h"
#include "install/install_transaction.h"
#include "platform/files.h"
#include "platform/install_files.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/shell.h"

namespace app {

// Checks a local archive and installs it as one transaction over the program
// directory, then ends the run: the main application is started after an
// install, or when the path names no zip archive (nothing to install: the
// user's text named something else); an archive that is refused or cannot be
// installed whole leaves the program directory as it was and brings message
// 2. An archive that the user gives up installing (the main application still
// runs) is kept, and the run ends without a message. The user's files (for an
// elevated run, the package in the user's temporary directory) are only read,
// never written or removed.
int UpdateDialog::InstallAndRelaunch(std::string archivePath) {
  install::InstallOutcome outcome = install::InstallOutcome::kFailed;
  if (!SignedBuild()) {
    outcome = InstallPackage(archivePath);
  } else {
    // With a key, the package is checked and installed as a copy in the
    // program directory, which only this run writes: the user's own files
    // could be replaced between the check and the install.
    const std::string copy = m_programDir + install::kLocalCopyName;
    if (TakeLocalPackage(archivePath, copy) && CheckPackage(copy)) outcome = InstallPackage(copy);
    platform::DeleteFile(copy);
  }
  FinishRun(outcome == install::InstallOutcome::kInstalled ||
            outcome == install::InstallOutcome::kNoArchive);
  return 0;
}

install::InstallOutcome UpdateDialog::InstallPackage(const std::string& package) {
  // The accepted signature becomes the installed release's in the same
  // transaction: it is in place exactly when the new set is.
  std::vector<install::PlacedFile> placed;
  if (m_release) placed.push_back({install::kInstalledSignatureName, m_release->text});
  return install::InstallArchive(
      package, m_programDir, [this] { return WaitForProgramsToEnd(); }, placed);
}

bool UpdateDialog::InstallDownloaded(const std::string& package) {
  switch (InstallPackage(package)) {
    case install::InstallOutcome::kInstalled:
      return true;
    case install::InstallOutcome::kDeclined:
      return false;  // kept for the next run
    case install::InstallOutcome::kNoArchive:
    case install::InstallOutcome::kFailed:
      break;
  }
  // The next download then fetches the package whole instead of finding it
  // up to date, and its signature anew.
  RemoveDownload(package);
  return false;
}

std::string UpdateDialog::PackagePath(bool elevated) const {
  if (!elevated) return m_programDir + install::kPackageName;
  return platform::TemporaryDirectory() + "korvanta-update" + platform::PathSeparator() +
         install::kPackageName;
}

void UpdateDialog::MakeOwnDirectory(const std::string& directory) {
  const std::string path = directory.substr(0, directory.size() - 1);
  const std::optional<platform::EntryStatus> status = platform::GetEntryStatus(path);
  if (status && status->kind != platform::EntryKind::kDirectory && !platform::RemoveEntry(path)) {
    platform::RemoveDirectory(path);  // a junction
  }
  platform::CreateDirectory(path);
}

bool UpdateDialog::InstallElevated(const std::string& package) {
  // The elevated run takes the package as a local archive (its 3000 ms wait
  // gives this run the time to end) and starts the main application itself.
  if (!platform::StartElevated(m_environment.modulePath, package)) return false;
  m_quietEnd.store(true);
  return false;
}

void UpdateDialog::FinishRun(bool installed) {
  if (installed) {
    const std::string mainApplication = DirectoryOf(m_environment.modulePath) + "Korvanta.exe";
    platform::StartProgram(mainApplication, RelaunchVerb(platform::OsMajorVersion()));
  } else if (!m_quietEnd.load()) {
    ShowFailureMessage(2);
  }
  platform::SendMessage(m_hWnd, platform::kWmClose, 0, 0);
}

}  // namespace app
