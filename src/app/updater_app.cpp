#include "app/updater_app.h"

#include <string>

#include "app/command_line.h"
#include "app/update_dialog.h"
#include "install/install_transaction.h"
#include "platform/process.h"

namespace app {

bool UpdaterApp::InitInstance() {
  // Whatever way this run goes, an install that an earlier run left
  // unfinished is finished or undone first.
  // Without its own path (the dialog then reports the failure) there is no
  // program directory to look in.
  const std::string modulePath = platform::ModulePath();
  if (!modulePath.empty()) install::RecoverInterruptedInstall(DirectoryOf(modulePath));
  UpdateDialog dialog;
  dialog.DoModal();
  return false;
}

}  // namespace app
