#include "app/command_line.h"
#include "app/update_dialog.h"
#include "install/install_transaction.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/shell.h"

namespace app {

// Installs a local archive as one transaction over the program directory and
// ends the run: the main application is started after an install, or when
// the path names no zip archive (nothing to install: the user's text named
// something else); an archive that cannot be installed whole leaves the
// program directory as it was and brings message 2.
int UpdateDialog::InstallAndRelaunch(std::string archivePath) {
  const install::InstallOutcome outcome = install::InstallArchive(archivePath, m_programDir);
  FinishRun(outcome != install::InstallOutcome::kFailed);
  return 0;
}

bool UpdateDialog::InstallDownloaded(const std::string& package) {
  if (install::InstallArchive(package, m_programDir) == install::InstallOutcome::kInstalled) {
    return true;
  }
  // The next download then fetches the package whole instead of finding it
  // up to date.
  platform::DeleteFile(package);
  return false;
}

void UpdateDialog::FinishRun(bool installed) {
  if (installed) {
    const std::string mainApplication = DirectoryOf(m_environment.modulePath) + "Korvanta.exe";
    platform::StartProgram(mainApplication, RelaunchVerb(platform::OsMajorVersion()));
  } else {
    ShowFailureMessage(2);
  }
  platform::SendMessage(m_hWnd, platform::kWmClose, 0, 0);
}

}  // namespace app
