// The application object: runs the update dialog, then lets the process end.
#pragma once

namespace app {

class UpdaterApp {
 public:
  // Runs the dialog modally; false, so that the process ends with it.
  bool InitInstance();
};

}  // namespace app
