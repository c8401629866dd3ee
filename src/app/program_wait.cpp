#include "app/program_wait.h"

#include "app/update_run.h"
#include "platform/process.h"
#include "platform/running_programs.h"

namespace app {

std::string ProgramsRunningQuestion() {
  return "Korvanta程序仍在运行，本次升级无法继续。\n\n"
         "请关闭Korvanta程序后按\"重试\"继续升级，按\"取消\"放弃本次升级。";
}

bool WaitForPrograms(const ProgramWait& wait) {
  for (;;) {
    if (!wait.anyRunning()) return true;
    wait.showWaiting();
    for (unsigned waited = 0; waited < wait.timeoutMs; waited += kProgramPollMs) {
      if (wait.abandoned()) return false;
      wait.pause(kProgramPollMs);
      if (!wait.anyRunning()) return true;
    }
    if (wait.abandoned() || !wait.askRetry()) return false;
  }
}

bool UpdateRun::WaitForProgramsToEnd() {
  const ProgramWait wait{
      [this] { return !platform::ProgramsRunningIn(m_programDir).empty(); },
      [this] {
        m_log.Write("install: waiting for the programs that run from the program directory");
        m_view.ShowStatus(kWaitingForProgramsText);
      },
      [this] { return m_view.AskRetryWhileProgramsRun(); },
      [this] { return m_shutdown.CloseRequested(); },
      [](unsigned ms) { platform::SleepMs(ms); },
      platform::ProgramWaitMs(kProgramWaitMs)};
  if (WaitForPrograms(wait)) return true;
  // The package stays for the next run; nothing is reported, the user chose
  // (a close ends the run as closed).
  if (!m_shutdown.CloseRequested()) Fail({RunStep::kInstall, FailureKind::kProgramsStillRun});
  return false;
}

}  // namespace app
