#include "app/updater_app.h"

#include <string>
#include <utility>

#include "app/command_line.h"
#include "app/run_log.h"
#include "app/run_view.h"
#include "app/update_dialog.h"
#include "app/update_run.h"
#include "app/vendor_config.h"
#include "install/install_journal.h"
#include "install/install_transaction.h"
#include "platform/files.h"
#include "platform/process.h"

namespace app {
namespace {

// Finishes or undoes an install that an earlier run left unfinished; false
// when that could not be done whole.
bool Recover(const std::string& programDir, platform::LogSink& log) {
  if (programDir.empty()) return false;
  const bool interrupted =
      platform::GetFileStatus(programDir + std::string(install::kJournalName)).has_value();
  const bool recovered = install::RecoverInterruptedInstall(programDir);
  if (interrupted) {
    log.Write(recovered ? "recovery: the interrupted install was finished or undone"
                        : "recovery: the interrupted install could not be finished or undone; "
                          "its journal stays for the next start");
  }
  return recovered;
}

}  // namespace

int UpdaterApp::InitInstance() {
  const std::string modulePath = platform::ModulePath();
  // Without its own path (the run then reports the failure) there is no
  // program directory.
  const std::string programDir = modulePath.empty() ? std::string() : DirectoryOf(modulePath);
  const RunRequest request = TakeRunSwitch(platform::CommandLine());
  LogFile log(LogDirectory(programDir));

  ExitStatus status = ExitStatus::kFailed;
  if (request.mode == RunMode::kRecover) {
    log.Write(std::string("start: updater ") + kUpdaterVersion + ", recover, program directory " +
              (programDir.empty() ? "unknown" : programDir));
    if (Recover(programDir, log)) status = ExitStatus::kUpdated;
  } else {
    // Whatever way this run goes, an install that an earlier run left
    // unfinished is finished or undone first.
    Recover(programDir, log);
    RunEnvironment environment{request.commandLine, modulePath, request.mode == RunMode::kSilent};
    if (environment.silent) {
      SilentView view;
      UpdateRun run(std::move(environment), view, log);
      if (run.Begin()) run.Work();
      status = run.exitStatus();
    } else {
      UpdateDialog dialog(std::move(environment), log);
      dialog.DoModal();
      status = dialog.exitStatus();
    }
  }
  log.Write("end: exit status " + std::to_string(static_cast<int>(status)));
  return static_cast<int>(status);
}

}  // namespace app
