#include "app/update_dialog.h"

#include <limits>
#include <utility>

#include "app/messages.h"
#include "app/program_wait.h"
#include "app/progress_display.h"
#include "platform/shell.h"

namespace app {

http::ProgressCallback NotifyWindow(platform::WindowHandle window, unsigned message) {
  return [window, message](const http::DownloadProgress& record) {
    platform::SendMessage(window, message, 2, reinterpret_cast<platform::LParam>(&record));
  };
}

UpdateDialog::UpdateDialog(RunEnvironment environment, platform::LogSink& log)
    : m_hIcon(platform::LoadAppIcon(IDI_UPDATER)), m_run(std::move(environment), *this, log) {}

UpdateDialog::~UpdateDialog() {
  // Normally joined when the window went; a dialog that never ran has no worker.
  if (m_worker.joinable()) m_worker.join();
}

void UpdateDialog::DoModal() { platform::RunModalDialog(IDD_UPDATE_DIALOG, *this); }

bool UpdateDialog::OnInitDialog(platform::WindowHandle dialog) {
  m_hWnd = dialog;
  m_progress = platform::GetDlgItem(dialog, IDC_DOWNLOAD_PROGRESS);
  m_notify = NotifyWindow(m_hWnd, WM_UPDATE_PROGRESS);
  platform::SendMessage(m_hWnd, platform::kWmSetIcon, 1,
                        reinterpret_cast<platform::LParam>(m_hIcon));
  platform::SendMessage(m_hWnd, platform::kWmSetIcon, 0,
                        reinterpret_cast<platform::LParam>(m_hIcon));
  platform::SendMessage(m_progress, platform::kPbmSetRange, 0, platform::MakeLParam(0, 100));
  platform::SendMessage(m_progress, platform::kPbmSetPos, 0, 0);
  if (m_run.Begin()) m_worker = std::thread([this] { m_run.Work(); });
  return true;
}

platform::LResult UpdateDialog::OnMessage(unsigned message, platform::WParam,
                                          platform::LParam lParam, bool& handled) {
  switch (message) {
    case platform::kWmPaint:
      if (!platform::IsIconic(m_hWnd)) return 0;  // default painting
      platform::PaintMinimizedIcon(m_hWnd, m_hIcon);
      handled = true;
      return 0;
    case platform::kWmQueryDragIcon:
      handled = true;
      return reinterpret_cast<platform::LResult>(m_hIcon);
    case WM_UPDATE_PROGRESS:
      handled = true;
      return OnDownloadProgress(lParam);
    default:
      return 0;
  }
}

platform::LResult UpdateDialog::OnDownloadProgress(platform::LParam lParam) {
  if (lParam == 0) return 1;
  const auto* record = reinterpret_cast<const http::DownloadProgress*>(lParam);
  // A retry keeps the bar where it stood; the next record shows the bytes again.
  if (record->code == http::NOTIFY_RETRY) {
    platform::SetDlgItemText(m_hWnd, IDC_STATUS_TEXT, kRetryingText);
    return 0;
  }
  const ProgressDisplay display = DescribeProgress(record->receivedSize, record->totalSize);
  platform::SetDlgItemText(m_hWnd, IDC_STATUS_TEXT, display.statusText);
  platform::SendMessage(m_progress, platform::kPbmSetPos, display.position, 0);
  return 0;
}

void UpdateDialog::OnDestroyWindow() {
  m_run.RequestClose();
  if (m_worker.joinable()) {
    // The run may be waiting in a message to this thread: keep handling them
    // while it winds down. Its network waits end within a poll of the close;
    // an install under way ends whole, new or rolled back, first.
    platform::PumpSentMessagesUntil([this] { return m_run.Finished(); },
                                    std::numeric_limits<unsigned>::max());
    m_worker.join();
  }
}

void UpdateDialog::ShowStatus(const std::string& text) {
  platform::SetDlgItemText(m_hWnd, IDC_STATUS_TEXT, text);
}

void UpdateDialog::ShowProgress(const http::DownloadProgress& record) { m_notify(record); }

void UpdateDialog::ShowDownloaded() {
  platform::SendMessage(m_progress, platform::kPbmSetPos, 100, 0);
}

bool UpdateDialog::AskRetryWhileProgramsRun() {
  return platform::MessageBox(m_hWnd, ProgramsRunningQuestion(), kMessageCaption,
                              platform::kMbRetryCancel) != platform::kIdCancel;
}

void UpdateDialog::ShowFailure(const RunFailure& failure) {
  const std::optional<FailureMessage> message = MessageFor(failure.kind);
  if (!message) return;
  if (platform::MessageBox(m_hWnd, MessageText(*message), kMessageCaption, platform::kMbOkCancel) !=
      platform::kIdCancel) {
    platform::OpenInBrowser(DownloadPageUrl());
  }
}

void UpdateDialog::Close() { platform::SendMessage(m_hWnd, platform::kWmClose, 0, 0); }

}  // namespace app
