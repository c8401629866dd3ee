#include "app/command_line.h"
#include "app/public_key.h"
#include "app/update_dialog.h"
#include "install/install_transaction.h"
#include "platform/files.h"
#include "platform/install_files.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "signing/release_acceptance.h"

namespace app {

// Checks a local archive and installs it as one transaction over the program
// directory, then ends the run: the main application is started after an
// install, or when the path names no zip archive (nothing to install: the
// user's text named something else); an archive that is refused or cannot be
// installed whole leaves the program directory as it was and brings message
// 2. An archive that the user gives up installing (the main application still
// runs) is kept, and the run ends without a message.
int UpdateDialog::InstallAndRelaunch(std::string archivePath) {
  // With a key, the package and its signature are checked and installed as
  // copies in the program directory, which only this run writes: the user's
  // own files (for an elevated run, those in the user's temporary directory)
  // could be replaced between the check and the install.
  const std::string copy = m_programDir + kLocalCopyName;
  const bool copies = kPublicKey[0] != '\0' && !platform::SameFile(archivePath, copy);
  const std::string package = copies ? copy : archivePath;
  const auto removeCopies = [&] {
    if (!copies) return;
    platform::DeleteFile(copy);
    platform::DeleteFile(copy + kSignatureSuffix);
  };
  removeCopies();  // left by a run that ended before it could remove them
  const bool checked = (!copies || (platform::CopyToNewFile(archivePath, copy) &&
                                    platform::CopyToNewFile(archivePath + kSignatureSuffix,
                                                            copy + kSignatureSuffix))) &&
                       CheckPackage(package, PackageOrigin::kLocal);
  const install::InstallOutcome outcome =
      checked ? InstallPackage(package) : install::InstallOutcome::kFailed;
  removeCopies();
  // A package that an unelevated run downloaded for this one is the
  // updater's own, not the user's: a failed one goes, as after a download.
  if (outcome == install::InstallOutcome::kFailed && archivePath == PackagePath(true)) {
    platform::DeleteFile(archivePath);
  }
  FinishRun(outcome == install::InstallOutcome::kInstalled ||
            outcome == install::InstallOutcome::kNoArchive);
  return 0;
}

install::InstallOutcome UpdateDialog::InstallPackage(const std::string& package) {
  const install::InstallOutcome outcome =
      install::InstallArchive(package, m_programDir, [this] { return WaitForProgramsToEnd(); });
  // The accepted signature becomes the installed release's only now: a
  // package that failed or was declined leaves the kept one as it was. One
  // that cannot be written leaves the release before as the oldest accepted;
  // the install stands.
  if (outcome == install::InstallOutcome::kInstalled && !m_acceptedSignature.empty()) {
    signing::KeepReleaseSignature(m_acceptedSignature, m_programDir + kInstalledSignatureName);
  }
  return outcome;
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
  platform::DeleteFile(package);
  platform::DeleteFile(package + kSignatureSuffix);
  return false;
}

std::string UpdateDialog::PackagePath(bool elevated) const {
  if (!elevated) return m_programDir + "update.zip";
  return platform::TemporaryDirectory() + "korvanta-update" + platform::PathSeparator() +
         "update.zip";
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
