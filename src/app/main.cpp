#include "app/updater_app.h"
#include "platform/process.h"

namespace {
app::UpdaterApp theApp;
}  // namespace

int main(int argc, char** argv) {
  platform::InitProcess(argc, argv);
  return theApp.InitInstance();
}
