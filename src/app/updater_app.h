// The application object: reads how the run is to be shown, runs it with the
// update dialog or silently (or only recovers an interrupted install), and
// gives the process its exit status.
#pragma once

namespace app {

class UpdaterApp {
 public:
  // The exit status (ExitStatus).
  int InitInstance();
};

}  // namespace app
