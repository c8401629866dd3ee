#include "app/updater_app.h"

#include "app/command_line.h"
#include "app/update_dialog.h"
#include "install/install_transaction.h"
#include "platform/process.h"

namespace app {

bool UpdaterApp::InitInstance() {
  // Whatever way this run goes, an install that an earlier run left
  // unfinished is finished or undone first.
  install::RecoverInterruptedInstall(DirectoryOf(platform::ModulePath()));
  UpdateDialog dialog;
  dialog.DoModal();
  return false;
}

}  // namespace app
