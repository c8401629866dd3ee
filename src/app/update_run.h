// One run of the updater, apart from how it is shown: it reads what the
// command line asks, downloads the package, checks its signature, waits for
// the programs that still run from the program directory, installs the package
// as one transaction, hands the install to an elevated run where the user may
// not write, and starts the main application again; or it ends with a
// failure. It talks to the user only through its RunView and writes each
// step to its log.
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "app/run_failure.h"
#include "app/run_shutdown.h"
#include "app/run_view.h"
#include "delta/block_map.h"
#include "http/http_downloader.h"
#include "install/install_transaction.h"
#include "platform/log_sink.h"
#include "signing/release_acceptance.h"

namespace app {

inline constexpr unsigned kStartDelayMs = 1000;
inline constexpr unsigned kLocalInstallDelayMs = 3000;
// Where a run starts from.
struct RunEnvironment {
  std::string commandLine;  // without the switch (TakeRunSwitch)
  std::string modulePath;   // the updater's own path; empty when unknown
  // Nobody sees the run: it never asks for elevation either, whose prompt
  // would be a window.
  bool silent = false;
};

class UpdateRun {
 public:
  UpdateRun(RunEnvironment environment, RunView& view, platform::LogSink& log);
  // Releases the socket library when Begin started it; Work has ended.
  ~UpdateRun();
  UpdateRun(const UpdateRun&) = delete;
  UpdateRun& operator=(const UpdateRun&) = delete;

  // On the view's thread once the view is up: reads the command line. True
  // when Work is to run, on a thread of the view's choice. Otherwise the run
  // has ended here (message 1 or 2 shown and the view closed), or it waits
  // for the view's close (an address of another domain).
  bool Begin();
  // The rest of the run: the start delay (the local one for an archive on
  // disk), then the download, check, install and relaunch. Unless the view
  // asked for the close, the run ends by closing the view.
  void Work();
  // Any thread: the view goes. The run stops at its next step; an install
  // that is committing ends first, whole.
  void RequestClose() { m_shutdown.RequestClose(); }
  // Work has ended (or never started).
  bool Finished() const { return m_shutdown.Finished(); }

  // Read once the run has ended.
  ExitStatus exitStatus() const;
  const std::optional<RunFailure>& failure() const { return m_failure; }

 private:
  // Records the run's failure (the first one counts) and logs it.
  void Fail(RunFailure failure);
  // The step a close would cut short.
  void EnterStep(RunStep step);
  void DownloadAndInstall();
  // True when the package is there to install; `upToDate` (when given) tells
  // whether it was already current and nothing was transferred.
  bool DownloadUpdate(const std::string& localFile, bool* upToDate);
  enum class BlockResult { kBuilt, kNotBuilt, kStopped };
  // Builds the package at `packagePath` from the previous package there and
  // the blocks it lacks, fetched by ranges, where the server publishes a
  // block map; `size` and `time` are the server's (size 0 when unknown).
  // kNotBuilt leaves the whole download to do the work; kStopped (a close)
  // keeps what arrived for the next run.
  BlockResult DownloadByBlocks(const std::string& packagePath, std::int64_t size,
                               http::HttpTime time);
  BlockResult BuildFromBlocks(const std::string& packagePath, const std::string& building,
                              std::int64_t size, http::HttpTime time);
  // The package's block map, fetched whole (at most a map's largest size) and
  // read; nothing when there is none or it is damaged.
  std::optional<delta::BlockMap> FetchBlockMap(const std::string& packagePath);
  // Logs one request of the engine and its outcome; returns `succeeded`.
  bool LogDownload(const char* method, const std::string& url, bool succeeded, const char* outcome);
  static const char* DownloadResultText(http::DownloadResult result);
  // The status of the engine's last response; 0 when none came.
  int LastStatus() const;
  // A build with a key judges a release by its signature before it takes
  // the package: fetched from beside the package's address into
  // `packagePath` plus ".minisig", and accepted. False (after removing what
  // the fetch left) when it is refused or cannot be had; true without a key.
  bool FetchSignature(const std::string& packagePath);
  // Judges a signature file's text; SIGNATURE_OK when it is the accepted
  // release's (m_release).
  signing::SignatureResult AcceptSignature(std::string text);
  // Bounds the download of the accepted release's package to the size its
  // signature names; false when the disk has no room for what is still to
  // come. Without a key the download is not bounded.
  bool BoundPackage(const std::string& packagePath);
  // With a key: opens a local package and its signature once, never through
  // a link, accepts the signature, and copies the package of the size it
  // names into `copy`, where the disk has room for it, taking its digest on
  // the way.
  bool TakeLocalPackage(const std::string& archivePath, const std::string& copy);
  // Whether the package is the accepted release's (true without a key), by
  // m_packageDigest where it was taken.
  bool CheckPackage(const std::string& packagePath);
  // A refused or failed download leaves nothing behind: the package, its
  // signature and the temporary files of both go.
  static void RemoveDownload(const std::string& packagePath);
  // Makes `directory` (ending in a separator), where a package waits for the
  // elevated run, a directory of this user's own: anything else at its name
  // (a link to another's folder) goes first, so that nothing is written
  // through it.
  static void MakeOwnDirectory(const std::string& directory);
  void InstallLocal(const std::string& archivePath);
  // Installs a checked package over the program directory inside the commit
  // bracket of the shutdown state, with the accepted signature as the
  // installed release's in the same transaction.
  install::InstallResult InstallPackage(
      const std::string& package,
      install::ArchiveAfterStaging after = install::ArchiveAfterStaging::kKept);
  // Records a failed install with what it tells of the failing entry.
  void FailInstall(const install::InstallResult& result);
  // Installs a downloaded package; true when the new set is in place. A
  // package that fails is removed.
  bool InstallDownloaded(const std::string& package);
  // Waits until no program runs from the program directory, asking the user
  // when that takes long; false when the user gave up or the run is closing.
  bool WaitForProgramsToEnd();
  // Where a package is downloaded: the program directory, or, when the user
  // may not write there, a directory of the user's own.
  std::string PackagePath(bool elevated) const;
  // Starts the updater again with administrator rights on the downloaded
  // package, which that run installs; false in any case (this run installs
  // nothing), with the reason recorded.
  bool InstallElevated(const std::string& package);
  // Starts the main application after an install, or shows the failure; then
  // the view closes.
  void End();

  RunEnvironment m_environment;
  RunView& m_view;
  platform::LogSink& m_log;
  RunPlan m_plan;
  std::string m_programDir;
  bool m_socketsStarted = false;
  http::HttpDownloader m_downloader;
  // The engine's progress goes to the view while the package downloads (not
  // the signature); its retries go to the log always.
  bool m_showProgress = false;
  RunShutdown m_shutdown;
  // Written by the run's thread; read once it has ended. A run that ends
  // neither way (closed before its work began) installed nothing.
  RunStep m_step = RunStep::kStart;
  // The package is installed, or a local path named no archive: the main
  // application is to start.
  bool m_installed = false;
  bool m_relaunched = false;  // the main application was started
  std::optional<RunFailure> m_failure;
  // The package of this attempt was built from the previous one: a refusal
  // of it is followed by one whole download.
  bool m_builtFromBlocks = false;
  // The release whose signature was accepted; none without a key.
  std::optional<signing::AcceptedRelease> m_release;
  // The digest of the package of this attempt, where it was taken as the
  // package was copied or built: the check then needs no pass of its own.
  std::optional<signing::PackageDigest> m_packageDigest;
};

}  // namespace app
