#include "app/updater_app.h"

#include "app/update_dialog.h"

namespace app {

bool UpdaterApp::InitInstance() {
  UpdateDialog dialog;
  dialog.DoModal();
  return false;
}

}  // namespace app
