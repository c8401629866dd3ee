// The update dialog: reads the command line, downloads the update package on
// a worker thread while showing its progress, then installs it and starts the
// main application again.
#pragma once

#include <optional>
#include <string>
#include <thread>

#include "app/run_shutdown.h"
#include "http/http_downloader.h"
#include "install/install_transaction.h"
#include "platform/window.h"
#include "signing/release_acceptance.h"

namespace app {

inline constexpr int IDD_UPDATE_DIALOG = 102;
inline constexpr int IDC_DOWNLOAD_PROGRESS = 1000;
inline constexpr int IDC_STATUS_TEXT = 1001;
inline constexpr int IDI_UPDATER = 128;
inline constexpr std::uintptr_t IDT_START_DOWNLOAD = 2001;
inline constexpr unsigned WM_UPDATE_PROGRESS = platform::kWmUser + 101;  // 1125
inline constexpr unsigned kStartDelayMs = 1000;
inline constexpr unsigned kLocalInstallDelayMs = 3000;

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
  // A build with a key judges a release by its signature before it takes
  // the package: fetched from beside the package's address into
  // `packagePath` plus ".minisig", and accepted. False (after removing what
  // the fetch left) when it is refused or cannot be had; true without a key.
  bool FetchSignature(const std::string& packagePath);
  // Judges a signature file's text; true when it is the accepted release's.
  bool AcceptSignature(std::string text);
  // Bounds the download of the accepted release's package to the size its
  // signature names; false when the disk has no room for what is still to
  // come. Without a key the download is not bounded.
  bool BoundPackage(const std::string& packagePath);
  // Whether the package is the accepted release's (true without a key).
  bool CheckPackage(const std::string& packagePath);
  // A refused or failed download leaves nothing behind: the package, its
  // signature and the temporary files of both go.
  static void RemoveDownload(const std::string& packagePath);
  int InstallAndRelaunch(std::string archivePath);
  // Installs a checked package over the program directory, with the accepted
  // signature as the installed release's in the same transaction.
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
  // Makes `directory` (ending in a separator), where a package waits for the
  // elevated run, a directory of this user's own: anything else at its name
  // (a link to another's folder) goes first, so that nothing is written
  // through it.
  static void MakeOwnDirectory(const std::string& directory);
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
  // With a key: opens a local package and its signature once, never through
  // a link, accepts the signature, and copies the package of the size it
  // names into `copy`, where the disk has room for it.
  bool TakeLocalPackage(const std::string& archivePath, const std::string& copy);
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
  // The release whose signature was accepted; none without a key.
  std::optional<signing::AcceptedRelease> m_release;
};

}  // namespace app
