#include "app/update_dialog.h"

#include <limits>
#include <utility>

#include "app/command_line.h"
#include "app/messages.h"
#include "app/progress_display.h"
#include "app/vendor_config.h"
#include "http/proxy_policy.h"
#include "net/socket_library.h"
#include "platform/install_files.h"
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
  // Without its own path the updater has no program directory, and it must
  // not take the drive root or the current directory for one.
  if (modulePath.empty()) {
    ShowFailureMessage(2);
    platform::SendMessage(m_hWnd, platform::kWmClose, 0, 0);
    return true;
  }
  const RunPlan plan = PlanRun(m_environment.commandLine, modulePath, kVendorDomain);
  if (plan.kind == RunKind::kNoArgument) {
    ShowFailureMessage(1);
    platform::SendMessage(m_hWnd, platform::kWmClose, 0, 0);
    return true;
  }

  m_programDir = DirectoryOf(modulePath);
  m_url = plan.argument;
  // A failure shows up as a failed download.
  m_socketsStarted = net::SocketStartup() == 0;
  platform::SendMessage(m_progress, platform::kPbmSetRange, 0, platform::MakeLParam(0, 100));
  platform::SendMessage(m_progress, platform::kPbmSetPos, 0, 0);

  if (plan.kind == RunKind::kDownload) {
    m_startArmed = true;
    platform::SetTimer(m_hWnd, IDT_START_DOWNLOAD, kStartDelayMs);
  } else if (plan.kind == RunKind::kLocalArchive) {
    platform::SleepMs(kLocalInstallDelayMs);
    InstallAndRelaunch(m_url);
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
  if (result == http::DOWNLOAD_FAILED || result == http::DOWNLOAD_STOPPED) return false;
  if (upToDate != nullptr) *upToDate = result == http::DOWNLOAD_UP_TO_DATE;
  platform::SendMessage(m_progress, platform::kPbmSetPos, 100, 0);
  return true;
}

unsigned UpdateDialog::UpdateThreadProc(UpdateDialog* dialog) {
  RunShutdown& shutdown = dialog->m_shutdown;
  // Every network wait of the run, whichever request makes it, ends as soon
  // as the close is asked, even one asked before the request began.
  const net::ScopedStopFlag closing(shutdown.stopFlag());
  // The user's proxy settings, read once for every request of the run (the
  // package and its signature); the engine chooses from them per request.
  dialog->m_downloader.proxyPolicy = http::SystemProxyPolicy();
  // Where the user may not write, the package is downloaded as the user and
  // installed by an elevated run; without elevation the run fails at once.
  const bool elevated = !platform::CanWriteIn(dialog->m_programDir);
  if (elevated && !platform::CanElevate()) {
    dialog->FinishRun(false);
    shutdown.Finish();
    return 0;
  }
  const std::string localFile = dialog->PackagePath(elevated);
  // Kept from run to run, so that a download cut short resumes.
  if (elevated) platform::CreateDirectory(DirectoryOf(localFile));
  const auto downloadAndInstall = [&](bool* upToDate) {
    if (!dialog->DownloadUpdate(dialog->m_url, localFile, upToDate)) return false;
    if (!dialog->CheckPackage(localFile, PackageOrigin::kDownloaded)) return false;
    if (elevated) return dialog->InstallElevated(localFile);
    if (!shutdown.BeginCommit()) return false;
    const bool installed = dialog->InstallDownloaded(localFile);
    shutdown.EndCommit();
    return installed;
  };
  bool upToDate = false;
  bool installed = downloadAndInstall(&upToDate);
  // A package found up to date may have been damaged on the disk since it
  // came: it is fetched once more before the run gives up (not after the user
  // gave up or refused the elevation prompt).
  if (!installed && upToDate && !elevated && !shutdown.CloseRequested() &&
      !dialog->m_quietEnd.load()) {
    installed = downloadAndInstall(nullptr);
  }
  // A close stopped the run on purpose: nothing is reported, and a partial
  // download stays for the next run. An install that was under way finished,
  // and the run ends as after any other.
  if (installed || !shutdown.CloseRequested()) dialog->FinishRun(installed);
  shutdown.Finish();
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
  m_shutdown.RequestClose();
  if (m_worker.joinable()) {
    // The worker may be waiting in a message to this thread: keep handling
    // them while it winds down. Its network waits end within a poll of the
    // close; an install under way ends whole, new or rolled back, first.
    platform::PumpSentMessagesUntil([this] { return m_shutdown.Finished(); },
                                    std::numeric_limits<unsigned>::max());
    m_worker.join();
  }
  // Only a start of this dialog's own is released: a release without one
  // would end the socket library under whoever else in the process uses it.
  if (m_socketsStarted) net::SocketCleanup();
}

}  // namespace app
