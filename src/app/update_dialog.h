// The update dialog: dialog 102 over the window runtime (a window on Windows,
// the terminal or plain lines on Linux) as the view of one UpdateRun. The run
// works on a thread of its own; what it shows reaches the dialog through
// synchronous window messages, and the dialog's close asks the run to stop.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "app/run_view.h"
#include "app/update_run.h"
#include "platform/log_sink.h"
#include "platform/window.h"

namespace app {

inline constexpr int IDD_UPDATE_DIALOG = 102;
inline constexpr int IDC_DOWNLOAD_PROGRESS = 1000;
inline constexpr int IDC_STATUS_TEXT = 1001;
inline constexpr int IDI_UPDATER = 128;
inline constexpr unsigned WM_UPDATE_PROGRESS = platform::kWmUser + 101;  // 1125

// The engine's progress records as a window takes them: each is sent to
// `window` as `message`, wParam 2 and lParam the record's address, and the
// sender waits until the window has handled it.
http::ProgressCallback NotifyWindow(platform::WindowHandle window, unsigned message);

class UpdateDialog : public platform::DialogHost, public RunView {
 public:
  UpdateDialog(RunEnvironment environment, platform::LogSink& log);
  ~UpdateDialog() override;
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // Runs the dialog modally until it closes; then the run has ended.
  void DoModal();
  ExitStatus exitStatus() const { return m_run.exitStatus(); }

  bool OnInitDialog(platform::WindowHandle dialog) override;
  platform::LResult OnMessage(unsigned message, platform::WParam wParam, platform::LParam lParam,
                              bool& handled) override;
  // Asks the run to stop and waits for its thread (an install under way ends
  // first).
  void OnDestroyWindow() override;

  void ShowStatus(const std::string& text) override;
  void ShowProgress(const http::DownloadProgress& record) override;
  void ShowDownloaded() override;
  bool AskRetryWhileProgramsRun() override;
  void ShowFailure(const RunFailure& failure) override;
  void Close() override;

 private:
  // WM_UPDATE_PROGRESS: the status line and the bar of one record.
  platform::LResult OnDownloadProgress(platform::LParam lParam);

  platform::WindowHandle m_hWnd = nullptr;
  platform::IconHandle m_hIcon = nullptr;
  platform::WindowHandle m_progress = nullptr;
  http::ProgressCallback m_notify;
  UpdateRun m_run;
  std::thread m_worker;
};

}  // namespace app
