#include "app/update_run.h"

#include <iterator>
#include <utility>

#include "app/run_log.h"
#include "app/vendor_config.h"
#include "http/proxy_address.h"
#include "http/proxy_policy.h"
#include "http/response_header.h"
#include "net/socket_library.h"
#include "platform/install_files.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/system_error.h"

namespace app {
namespace {

constexpr const char* kRunKindTexts[] = {"no argument", "download", "local archive",
                                         "another domain's address"};
static_assert(std::size(kRunKindTexts) == static_cast<std::size_t>(RunKind::kIdle) + 1);

constexpr const char* kDownloadResultTexts[] = {"downloaded", "up to date", "stopped", "failed"};
static_assert(std::size(kDownloadResultTexts) == http::DOWNLOAD_FAILED + 1);

constexpr const char* kRetryCauseTexts[] = {
    "for no known cause",
    "no connection to the server or the proxy",
    "the request could not be sent",
    "no answer came",
    "the server answered",
    "the body broke off again and again without a byte more",
};
static_assert(std::size(kRetryCauseTexts) ==
              static_cast<std::size_t>(http::RetryCause::kBroken) + 1);

// "exchange: GET ADDRESS: HTTP 206, from byte 1000, through socks5h proxy
// HOST:PORT, connected to 127.0.0.1:1080".
std::string DescribeExchange(const http::ExchangeRecord& record) {
  std::string text = std::string("exchange: ") + record.method + " " + LoggableAddress(record.url) +
                     ": HTTP " + std::to_string(record.status);
  if (record.resumeOffset > 0) text += ", from byte " + std::to_string(record.resumeOffset);
  const char* scheme = http::ProxyScheme(record.proxyKind);
  if (scheme != nullptr) {
    text += std::string(", through ") + scheme + " proxy " + record.proxyHost + ":" +
            std::to_string(record.proxyPort);
  } else {
    text += ", direct";
  }
  if (!record.peer.empty()) text += ", connected to " + record.peer;
  return text;
}

// "retry in 2000 ms: the server answered HTTP 503".
std::string DescribeRetry(const http::DownloadProgress& record) {
  std::string text = "retry in " + std::to_string(record.pauseMs) +
                     " ms: " + kRetryCauseTexts[static_cast<int>(record.retryCause)];
  if (record.status != 0) text += " HTTP " + std::to_string(record.status);
  if (record.systemError != 0) {
    text += ", system error " +
            platform::SystemErrorText(static_cast<std::uint32_t>(record.systemError));
  }
  return text;
}

}  // namespace

const char* UpdateRun::DownloadResultText(http::DownloadResult result) {
  return kDownloadResultTexts[result];
}

int UpdateRun::LastStatus() const {
  const std::string& header = m_downloader.responseHeader;
  return http::ParseStatusLine(std::string_view(header).substr(0, header.find("\r\n"))).value_or(0);
}

UpdateRun::UpdateRun(RunEnvironment environment, RunView& view, platform::LogSink& log)
    : m_environment(std::move(environment)), m_view(view), m_log(log) {
  m_downloader.caCertificates = kCaCertificates;
  // A run rides out a link or a server that fails for a while: it retries
  // with growing pauses until ten minutes pass without a byte of progress.
  m_downloader.retryMode = http::RETRY_RUN;
  m_downloader.exchangeCallback = [this](const http::ExchangeRecord& record) {
    m_log.Write(DescribeExchange(record));
  };
  m_downloader.SetProgressCallback([this](const http::DownloadProgress& record) {
    if (record.code == http::NOTIFY_RETRY) m_log.Write(DescribeRetry(record));
    if (m_showProgress) m_view.ShowProgress(record);
  });
}

UpdateRun::~UpdateRun() {
  // Only a start of this run's own is released: a release without one would
  // end the socket library under whoever else in the process uses it.
  if (m_socketsStarted) net::SocketCleanup();
}

ExitStatus UpdateRun::exitStatus() const {
  if (m_relaunched) return ExitStatus::kUpdated;
  return ExitStatusOf(m_failure ? m_failure->kind : FailureKind::kClosed);
}

void UpdateRun::EnterStep(RunStep step) { m_step = step; }

void UpdateRun::Fail(RunFailure failure) {
  if (m_failure) return;
  m_log.Write(DescribeFailure(failure));
  m_failure = std::move(failure);
}

bool UpdateRun::Begin() {
  const std::string& modulePath = m_environment.modulePath;
  m_plan = PlanRun(m_environment.commandLine, modulePath, kVendorDomain);
  if (!modulePath.empty()) m_programDir = DirectoryOf(modulePath);
  m_log.Write(std::string("start: updater ") + kUpdaterVersion + ", " +
              (m_environment.silent ? "silent, " : "") +
              kRunKindTexts[static_cast<int>(m_plan.kind)] +
              (m_plan.argument.empty() ? "" : " " + LoggableAddress(m_plan.argument)) +
              ", program directory " + (m_programDir.empty() ? "unknown" : m_programDir));
  // Without its own path the updater has no program directory, and it must
  // not take the drive root or the current directory for one.
  if (modulePath.empty() || m_plan.kind == RunKind::kNoArgument) {
    Fail({RunStep::kStart,
          modulePath.empty() ? FailureKind::kNoProgramDirectory : FailureKind::kNoArgument});
    End();
    return false;
  }
  // A failure shows up as a failed download.
  m_socketsStarted = net::SocketStartup() == 0;
  if (m_plan.kind == RunKind::kIdle) {
    Fail({RunStep::kStart, FailureKind::kNotVendorAddress});
    return false;
  }
  return true;
}

void UpdateRun::Work() {
  // Every network wait of the run, whichever request makes it, ends as soon
  // as the close is asked, even one asked before the request began.
  const net::ScopedStopFlag closing(m_shutdown.stopFlag());
  // The user's proxy settings, read once for every request of the run (the
  // package and its signature); the engine chooses from them per request.
  m_downloader.proxyPolicy = http::SystemProxyPolicy();
  const bool local = m_plan.kind == RunKind::kLocalArchive;
  if (!m_shutdown.WaitForClose(local ? kLocalInstallDelayMs : kStartDelayMs)) {
    if (local) {
      InstallLocal(m_plan.argument);
    } else {
      DownloadAndInstall();
    }
  }
  // A close stopped the run on purpose: nothing is reported, and a partial
  // download stays for the next run. An install that was under way finished,
  // and the run ends as after any other.
  if (!m_installed && m_shutdown.CloseRequested()) {
    m_failure.reset();  // whatever the close cut short
    Fail({m_step, FailureKind::kClosed});
  } else {
    End();
  }
  m_shutdown.Finish();
}

void UpdateRun::DownloadAndInstall() {
  // Where the user may not write, the package is downloaded as the user and
  // installed by an elevated run; without elevation the run fails at once.
  const bool elevated = !platform::CanWriteIn(m_programDir);
  if (elevated && (m_environment.silent || !platform::CanElevate())) {
    Fail({RunStep::kStart, FailureKind::kNotWritable});
    return;
  }
  const std::string localFile = PackagePath(elevated);
  // Kept from run to run, so that a download cut short resumes.
  if (elevated) MakeOwnDirectory(DirectoryOf(localFile));
  const auto downloadAndInstall = [&](bool* upToDate) {
    // With a key the signature comes first: it decides whether the package
    // is asked for at all, and bounds it.
    if (!FetchSignature(localFile)) return false;
    if (!BoundPackage(localFile) || !DownloadUpdate(localFile, upToDate) ||
        !CheckPackage(localFile)) {
      // A close keeps a partial download for the next run.
      if (!m_shutdown.CloseRequested()) RemoveDownload(localFile);
      return false;
    }
    if (elevated) return InstallElevated(localFile);
    return InstallDownloaded(localFile);
  };
  bool upToDate = false;
  bool installed = downloadAndInstall(&upToDate);
  // A package found up to date may have been damaged on the disk since it
  // came, and one built from the previous package may be refused: it is
  // fetched whole once more before the run gives up (not after the user gave
  // up or refused the elevation prompt). The refused package is gone, so
  // nothing is built from it again.
  if (!installed && (upToDate || m_builtFromBlocks) && !elevated && !m_shutdown.CloseRequested() &&
      m_failure && MessageFor(m_failure->kind)) {
    m_failure.reset();
    m_log.Write(
        m_builtFromBlocks
            ? "download: the package built from the previous one was refused; it is "
              "fetched once more"
            : "download: the package found up to date was refused; it is fetched once more");
    installed = downloadAndInstall(nullptr);
  }
  m_installed = installed;
}

bool UpdateRun::LogDownload(const char* method, const std::string& url, bool succeeded,
                            const char* outcome) {
  std::string line = std::string(method) + " " + LoggableAddress(url) + ": " + outcome;
  if (const int status = LastStatus(); status != 0) {
    line += ", HTTP " + std::to_string(status);
  }
  if (std::string_view(method) != "HEAD") {
    line += ", " + std::to_string(m_downloader.receivedSize) + " of " +
            std::to_string(m_downloader.totalSize) + " bytes";
  }
  m_log.Write(line);
  return succeeded;
}

bool UpdateRun::DownloadUpdate(const std::string& localFile, bool* upToDate) {
  EnterStep(RunStep::kDownload);
  m_showProgress = true;
  const std::string& url = m_plan.argument;
  std::int64_t contentLength = 0;
  http::HttpTime lastModified = 0;
  // The HEAD is advice: a server that refuses it, or answers it without a
  // length, may still serve the GET, which decides.
  const bool queried = m_downloader.QueryInfo(url, contentLength, lastModified) != 0;
  LogDownload("HEAD", url, queried, queried ? "answered" : "failed");
  bool fetched = !m_shutdown.CloseRequested();
  if (fetched) {
    const BlockResult blocks =
        DownloadByBlocks(localFile, queried && contentLength > 0 ? contentLength : 0, lastModified);
    m_builtFromBlocks = blocks == BlockResult::kBuilt;
    fetched = m_builtFromBlocks;
    if (blocks == BlockResult::kNotBuilt) {
      const http::DownloadResult result = m_downloader.Download(url, localFile, 0);
      fetched = LogDownload("GET", url,
                            result == http::DOWNLOAD_OK || result == http::DOWNLOAD_UP_TO_DATE,
                            DownloadResultText(result));
      if (upToDate != nullptr) *upToDate = result == http::DOWNLOAD_UP_TO_DATE;
    }
  }
  if (!fetched) {
    // A close stopped it on purpose: the run ends as closed.
    if (!m_shutdown.CloseRequested()) {
      Fail({RunStep::kDownload, FailureKind::kDownloadFailed, LastStatus()});
    }
    return false;
  }
  m_view.ShowDownloaded();
  return true;
}

void UpdateRun::End() {
  if (m_installed) {
    const std::string mainApplication = m_programDir + "Korvanta.exe";
    const char* verb = RelaunchVerb(platform::OsMajorVersion());
    m_relaunched = platform::StartProgram(mainApplication, verb);
    const std::string error =
        m_relaunched ? ""
                     : ", system error " + platform::SystemErrorText(platform::LastSystemError());
    m_log.Write("relaunch: " + mainApplication +
                (verb != nullptr ? " (" + std::string(verb) + ")" : "") +
                (m_relaunched ? ": started" : ": not started" + error));
  } else if (m_failure && MessageFor(m_failure->kind)) {
    m_view.ShowFailure(*m_failure);
  }
  m_view.Close();
}

}  // namespace app
