// The update dialog: reads the command line, downloads the update package on
// a worker thread while showing its progress, then installs it and starts the
// main application again.
#pragma once

#include <string>
#include <thread>

#include "app/run_shutdown.h"
#include "http/http_downloader.h"
#include "install/install_transaction.h"
#include "platform/window.h"

namespace app {

inline constexpr int IDD_UPDATE_DIALOG = 102;
inline constexpr int IDC_DOWNLOAD_PROGRESS = 1000;
inline constexpr int IDC_STATUS_TEXT = 1001;
inline constexpr int IDI_UPDATER = 128;
inline constexpr std::uintptr_t IDT_START_DOWNLOAD = 2001;
inline constexpr unsigned WM_UPDATE_PROGRESS = platform::kWmUser + 101;  // 1125
inline constexpr unsigned kStartDelayMs = 1000;
inline constexpr unsigned kLocalInstallDelayMs = 3000;
// The signature of the release installed last, kept in the program directory:
// a package signed for an older release is refused.
inline constexpr char kInstalledSignatureName[] = "installed-release.minisig";
// A package's signature file: the package's path or address plus this.
inline constexpr char kSignatureSuffix[] = ".minisig";
// The copy of a local package (and of its signature) that a run with a key
// checks and installs.
inline constexpr char kLocalCopyName[] = "update.local.zip";

enum class PackageOrigin { kDownloaded, kLocal };

// Where a run starts from: the command line and the updater's own path.
struct RunEnvironment {
  std::string commandLine;
  std::string modulePath;
};
RunEnvironment CurrentRunEnvironment();

class UpdateDialog : public platform::DialogHost {
 public:
  explicit UpdateDialog(RunEnvironment environment = CurrentRunEnvironment());
  ~UpdateDialog() override;
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // Runs the dialog modally until it closes.
  int DoModal();

  bool OnInitDialog(platform::WindowHandle dialog) override;
  platform::LResult OnMessage(unsigned message, platform::WParam wParam, platform::LParam lParam,
                              bool& handled) override;
  // Closes the run and waits for the worker (an install under way ends
  // first), then releases the socket library if the dialog started it.
  void OnDestroyWindow() override;

  void OnTimer(std::uintptr_t timerId);
  platform::LResult OnDownloadProgress(platform::WParam wParam, platform::LParam lParam);
  // True when the package is there to install (not after a failure or a
  // close); `upToDate` (when given) tells whether it was already current and
  // nothing was transferred.
  bool DownloadUpdate(const std::string& url, const std::string& localFile,
                      bool* upToDate = nullptr);
  static unsigned UpdateThreadProc(UpdateDialog* dialog);
  // Whether the package may be installed: true, or false after it removed a
  // refused download and its signature (the caller ends the run).
  bool CheckPackage(const std::string& archivePath, PackageOrigin origin);
  int InstallAndRelaunch(std::string archivePath);
  // Installs a checked package over the program directory; once it is in
  // place, its accepted signature is kept as the installed release's.
  install::InstallOutcome InstallPackage(const std::string& package);
  // Installs a downloaded package; true when the new set is in place. A
  // package that fails is removed.
  bool InstallDownloaded(const std::string& package);
  // Waits until no program runs from the program directory, asking the user
  // when that takes long; false when the user gave up.
  bool WaitForProgramsToEnd();
  // Where a package is downloaded: the program directory, or, when the user
  // may not write there, a directory of the user's own.
  std::string PackagePath(bool elevated) const;
  // Starts the updater again with administrator rights on the downloaded
  // package, to install it; false when it was not started (refused).
  bool InstallElevated(const std::string& package);

  platform::WindowHandle window() const { return m_hWnd; }
  const std::string& url() const { return m_url; }
  const std::string& programDir() const { return m_programDir; }
  bool workerStarted() const { return m_worker.joinable(); }
  const RunShutdown& shutdown() const { return m_shutdown; }

 private:
  void ShowFailureMessage(int which);
  // Ends the run: the main application is started after an install, message
  // 2 is shown after a failure; then the dialog closes.
  void FinishRun(bool installed);

  RunEnvironment m_environment;
  platform::WindowHandle m_hWnd = nullptr;
  platform::IconHandle m_hIcon = nullptr;
  platform::WindowHandle m_progress = nullptr;
  bool m_startArmed = false;
  bool m_socketsStarted = false;
  http::HttpDownloader m_downloader;
  std::string m_url;
  std::string m_programDir;
  std::thread m_worker;
  RunShutdown m_shutdown;
  // The run ends without message 2 and without starting the main
  // application: the user gave up waiting for it, or an elevated run of the
  // updater installs the package.
  std::atomic<bool> m_quietEnd{false};
  // The signature file's text of the package that CheckPackage accepted;
  // empty without a key.
  std::string m_acceptedSignature;
};

}  // namespace app
