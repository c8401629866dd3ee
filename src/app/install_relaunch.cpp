#include "app/command_line.h"
#include "app/update_dialog.h"
#include "platform/process.h"
#include "platform/shell.h"

namespace app {

int UpdateDialog::InstallAndRelaunch(std::string archivePath) {
  (void)archivePath;  // extraction comes with the archive facade
  const std::string mainApplication = DirectoryOf(m_environment.modulePath) + "Korvanta.exe";
  const char* verb = platform::OsMajorVersion() >= 6 ? "runas" : nullptr;
  platform::StartProgram(mainApplication, verb);
  platform::SendMessage(m_hWnd, platform::kWmClose, 0, 0);
  return 0;
}

}  // namespace app
