#include "app/update_dialog.h"

#include <utility>

#include "app/command_line.h"
#include "app/messages.h"
#include "app/progress_display.h"
#include "app/vendor_config.h"
#include "net/socket_library.h"
#include "platform/process.h"
#include "platform/shell.h"

namespace app {

RunEnvironment CurrentRunEnvironment() {
  return RunEnvironment{platform::CommandLine(), platform::ModulePath()};
}

UpdateDialog::UpdateDialog(RunEnvironment environment)
    : m_environment(std::move(environment)), m_hIcon(platform::LoadAppIcon(IDI_UPDATER)) {
  m_downloader.caCertificates = kCaCertificates;
}

UpdateDialog::~UpdateDialog() {
  // Normally joined when the window went; a dialog that never ran has no worker.
  if (m_worker.joinable()) m_worker.join();
}

int UpdateDialog::DoModal() { return platform::RunModalDialog(IDD_UPDATE_DIALOG, *this); }

bool UpdateDialog::OnInitDialog(platform::WindowHandle dialog) {
  m_hWnd = dialog;
  m_progress = platform::GetDlgItem(dialog, IDC_DOWNLOAD_PROGRESS);
  platform::SendMessage(m_hWnd, platform::kWmSetIcon, 1,
                        reinterpret_cast<platform::LParam>(m_hIcon));
  platform::SendMessage(m_hWnd, platform::kWmSetIcon, 0,
                        reinterpret_cast<platform::LParam>(m_hIcon));
  m_startArmed = false;

  const std::string& modulePath = m_environment.modulePath;
  const RunPlan plan = PlanRun(m_environment.commandLine, modulePath, kVendorDomain);
  if (plan.kind == RunKind::kNoArgument) {
    ShowFailureMessage(1);
    platform::SendMessage(m_hWnd, platform::kWmClose, 0, 0);
    return true;
  }

  m_programDir = DirectoryOf(modulePath);
  m_url = plan.argument;
  net::SocketStartup();  // a failure shows up as a failed download
  platform::SendMessage(m_progress, platform::kPbmSetRange, 0, platform::MakeLParam(0, 100));
  platform::SendMessage(m_progress, platform::kPbmSetPos, 0, 0);

  if (plan.kind == RunKind::kDownload) {
    m_startArmed = true;
    platform::SetTimer(m_hWnd, IDT_START_DOWNLOAD, kStartDelayMs);
  } else if (plan.kind == RunKind::kLocalArchive) {
    platform::SleepMs(kLocalInstallDelayMs);
    if (CheckPackage(m_url, PackageOrigin::kLocal)) {
      InstallAndRelaunch(m_url);
    } else {
      FinishRun(false);
    }
  }
  return true;
}

platform::LResult UpdateDialog::OnMessage(unsigned message, platform::WParam wParam,
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
    case platform::kWmTimer:
      handled = true;
      OnTimer(wParam);
      return 0;
    case WM_UPDATE_PROGRESS:
      handled = true;
      return OnDownloadProgress(wParam, lParam);
    default:
      return 0;
  }
}

void UpdateDialog::OnTimer(std::uintptr_t) {
  platform::KillTimer(m_hWnd, IDT_START_DOWNLOAD);
  // One worker per run, however many timer messages were already queued.
  if (m_startArmed && !m_worker.joinable()) {
    m_worker = std::thread(&UpdateDialog::UpdateThreadProc, this);
  }
}

platform::LResult UpdateDialog::OnDownloadProgress(platform::WParam, platform::LParam lParam) {
  if (lParam == 0) return 1;
  const auto* record = reinterpret_cast<const http::DownloadProgress*>(lParam);
  const ProgressDisplay display = DescribeProgress(static_cast<std::uint32_t>(record->receivedSize),
                                                   static_cast<std::uint32_t>(record->totalSize));
  platform::SetDlgItemText(m_hWnd, IDC_STATUS_TEXT, display.statusText);
  platform::SendMessage(m_progress, platform::kPbmSetPos, display.position, 0);
  return 0;
}

bool UpdateDialog::DownloadUpdate(const std::string& url, const std::string& localFile,
                                  bool* upToDate) {
  m_downloader.SetNotifyWindow(m_hWnd, WM_UPDATE_PROGRESS, 1);
  std::int32_t contentLength = 0;
  http::HttpTime lastModified = 0;
  if (m_downloader.QueryInfo(url, contentLength, lastModified) == 0) return false;
  const http::DownloadResult result = m_downloader.Download(url, localFile, 0);
  if (result == http::DOWNLOAD_FAILED) return false;
  if (upToDate != nullptr) *upToDate = result == http::DOWNLOAD_UP_TO_DATE;
  platform::SendMessage(m_progress, platform::kPbmSetPos, 100, 0);
  return true;
}

unsigned UpdateDialog::UpdateThreadProc(UpdateDialog* dialog) {
  const std::string localFile = dialog->m_programDir + "update.zip";
  const auto downloadAndInstall = [&](bool* upToDate) {
    if (!dialog->DownloadUpdate(dialog->m_url, localFile, upToDate) || dialog->m_closing.load()) {
      return false;
    }
    if (!dialog->CheckPackage(localFile, PackageOrigin::kDownloaded)) return false;
    dialog->m_installing.store(true);
    const bool installed = dialog->InstallDownloaded(localFile);
    // Rolled back: a download may follow, which a close need not wait for.
    if (!installed) dialog->m_installing.store(false);
    return installed;
  };
  bool upToDate = false;
  bool installed = downloadAndInstall(&upToDate);
  // A package found up to date may have been damaged on the disk since it
  // came: it is fetched once more before the run gives up.
  if (!installed && upToDate && !dialog->m_closing.load()) installed = downloadAndInstall(nullptr);
  // A close during a download stopped it on purpose: nothing is reported. An
  // install that was under way finished, and the run ends as after any other.
  if (installed || !dialog->m_closing.load()) dialog->FinishRun(installed);
  dialog->m_workerDone.store(true);
  return 0;
}

void UpdateDialog::ShowFailureMessage(int which) {
  const std::string text =
      MessageText(which == 1 ? FailureMessage::kNoArgument : FailureMessage::kDownloadFailed);
  if (platform::MessageBox(m_hWnd, text, kMessageCaption, platform::kMbOkCancel) !=
      platform::kIdCancel) {
    platform::OpenInBrowser(DownloadPageUrl());
  }
}

void UpdateDialog::OnDestroyWindow() {
  m_closing.store(true);
  if (m_worker.joinable()) {
    m_downloader.RequestStop();
    // The worker may be waiting in a message to this thread: keep handling
    // them while it winds down. An install is left to finish; a download that
    // does not notice the stop in time would outlive the dialog, so the
    // process ends instead and the partial file stays for a later resume.
    const auto done = [this] { return m_workerDone.load(); };
    bool finished = platform::PumpSentMessagesUntil(done, kStopWaitMs);
    while (!finished && m_installing.load()) finished = platform::PumpSentMessagesUntil(done, 1000);
    if (!finished) platform::ExitProcessNow(0);
    m_worker.join();
  }
  net::SocketCleanup();
}

}  // namespace app
